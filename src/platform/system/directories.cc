#include "platform/system/directories.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/system/paths.h"

namespace tarnevos::platform {

bool MakeDirectory(std::string_view suite_path) {
  const std::string native = NativePath(suite_path);
  if (native.empty()) return false;
  if (::mkdir(native.c_str(), 0777) != 0 && errno != EEXIST) return false;
  struct stat status {};
  return ::lstat(native.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::unique_ptr<PrivateDirectory> PrivateDirectory::Create() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  if (base.back() != '/') base += '/';
  std::string pattern = base + "tarnevos-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr) return nullptr;
  return std::unique_ptr<PrivateDirectory>(
      new PrivateDirectory(std::string(name.data()) + "/"));
}

PrivateDirectory::~PrivateDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

int64_t RaiseOpenFileLimit() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  if (limit.rlim_cur < limit.rlim_max) {
    struct rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? INT64_MAX
                                         : static_cast<int64_t>(limit.rlim_cur);
}

}  // namespace tarnevos::platform
