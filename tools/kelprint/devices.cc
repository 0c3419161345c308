#include "kelprint/devices.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/system/paths.h"
#include "platform/system/system.h"
#include "util/codepage.h"

namespace tarnevos::kelprint {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

// Splits "KEYWORD" or "KEYWORD:argument"; false when the keyword differs.
bool Matches(std::string_view value, std::string_view keyword,
             std::string& argument) {
  std::string upper = Upper(value);
  if (upper == keyword) {
    argument.clear();
    return true;
  }
  if (upper.size() > keyword.size() &&
      upper.compare(0, keyword.size(), keyword) == 0 &&
      upper[keyword.size()] == ':') {
    argument = std::string(Trim(value.substr(keyword.size() + 1)));
    return true;
  }
  return false;
}

std::string OutputPath(const std::string& given, std::string_view tmp_dir,
                       std::string_view default_name) {
  if (given.empty()) {
    return platform::NativePath(std::string(tmp_dir) +
                                std::string(default_name));
  }
  return platform::NativePath(Utf8FromCp850(given));
}

std::string FindOnPath(const std::string& program) {
  std::string path = platform::GetEnv("PATH");
  if (path.empty()) path = "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

}  // namespace

Device ParseDevice(std::string_view value, std::string_view tmp_dir) {
  value = Trim(value);
  Device device;
  std::string argument;
  std::string upper = Upper(value);
  if (value.empty() || upper == "PANTALLA") {
    device.kind = DeviceKind::kPreview;
  } else if (Matches(value, "PDF", argument)) {
    device.kind = DeviceKind::kPdf;
    device.path = OutputPath(argument, tmp_dir, "kelprint.pdf");
  } else if (Matches(value, "TXT", argument)) {
    device.kind = DeviceKind::kText;
    device.path = OutputPath(argument, tmp_dir, "kelprint.txt");
  } else if (Matches(value, "LP", argument) || upper == "PRN" ||
             upper == "LPT1" || upper == "LPT2" || upper == "LPT3") {
    device.kind = DeviceKind::kSpooler;
    device.queue = Utf8FromCp850(argument);
    device.path = OutputPath("", tmp_dir, "kelprint.pdf");
  } else {
    device.kind = DeviceKind::kPreview;
    device.notice =
        "Unknown device \"" + std::string(value) + "\": shown on screen";
  }
  return device;
}

bool SendToSpooler(const std::string& path, const std::string& queue,
                   std::string& error) {
  std::string lp = FindOnPath("lp");
  if (lp.empty()) {
    error =
        "the print spooler command lp is not available (install the CUPS "
        "client); the PDF is in " +
        path;
    return false;
  }
  std::vector<std::string> args{"lp"};
  if (!queue.empty()) {
    args.push_back("-d");
    args.push_back(queue);
  }
  // A file name starting with "-" would read as an option.
  args.push_back(!path.empty() && path[0] == '-' ? "./" + path : path);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid < 0) {
    error = std::string("cannot start lp: ") + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    ::execv(lp.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      error = std::string("lost the lp process: ") + std::strerror(errno);
      return false;
    }
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    error = "cannot start " + lp;
  } else if (WIFEXITED(status)) {
    error = "lp failed with exit code " + std::to_string(WEXITSTATUS(status)) +
            "; the PDF is in " + path;
  } else {
    error = "lp was stopped by a signal; the PDF is in " + path;
  }
  return false;
}

}  // namespace tarnevos::kelprint
