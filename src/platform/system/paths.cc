#include "platform/system/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace tarnevos::platform {
namespace {

bool Exists(const std::string& path) {
  struct stat info;
  return !path.empty() && ::lstat(path.c_str(), &info) == 0;
}

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

// Looks for an entry of `dir` whose name equals `name` ignoring case.
// Prefers an exact match when several differ only in case.
std::string FindInDirectory(const std::string& dir, const std::string& name) {
  DIR* handle = ::opendir(dir.empty() ? "." : dir.c_str());
  if (handle == nullptr) return name;
  std::string found = name;
  while (dirent* entry = ::readdir(handle)) {
    std::string_view candidate = entry->d_name;
    if (candidate == name) {
      found = name;
      break;
    }
    if (found == name && SameIgnoringAsciiCase(candidate, name)) {
      found = std::string(candidate);
    }
  }
  ::closedir(handle);
  return found;
}

}  // namespace

std::string NativePath(std::string_view suite_path) {
  std::string path(suite_path);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.empty() || Exists(path)) return path;

  // Rebuild component by component, matching missing ones case-insensitively.
  std::string result;
  size_t start = 0;
  if (path[0] == '/') {
    result = "/";
    start = 1;
  }
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string component = path.substr(start, end - start);
    bool last = end >= path.size();
    if (!component.empty()) {
      std::string dir = result;
      std::string candidate = result + component;
      if (component != "." && component != ".." && !Exists(candidate)) {
        candidate = result + FindInDirectory(dir, component);
      }
      result = candidate;
      if (!last) result += '/';
    } else if (!last && !result.empty() && result.back() != '/') {
      result += '/';
    }
    start = end + 1;
  }
  return result;
}

bool ChangeDirectory(std::string_view suite_path) {
  std::string native = NativePath(suite_path);
  return !native.empty() && ::chdir(native.c_str()) == 0;
}

}  // namespace tarnevos::platform
