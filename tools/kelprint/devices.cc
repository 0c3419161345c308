#include "kelprint/devices.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/system/paths.h"
#include "platform/system/system.h"
#include "util/codepage.h"

extern char** environ;

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

// Line ends and other control characters as blanks, runs of blanks as one,
// none around, cut to kMaxSpoolerOutput bytes.
std::string OneLine(std::string_view text) {
  std::string out;
  for (char c : text) {
    const bool blank = static_cast<unsigned char>(c) < 32 || c == ' ';
    if (blank) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (out.size() > kMaxSpoolerOutput) out.resize(kMaxSpoolerOutput);
  return out;
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
    device.unknown = std::string(value);
  }
  return device;
}

std::string SpoolerJobId(std::string_view lp_output) {
  constexpr std::string_view kLead = "request id is ";
  const size_t at = lp_output.find(kLead);
  if (at == std::string_view::npos) return "";
  std::string_view rest = lp_output.substr(at + kLead.size());
  const size_t end = rest.find_first_of(" \t\r\n");
  return std::string(rest.substr(0, end));
}

SpoolResult SendToSpooler(const std::string& path, const std::string& queue) {
  SpoolResult result;
  const std::string lp = FindOnPath("lp");
  if (lp.empty()) {
    result.status = SpoolResult::Status::kMissing;
    return result;
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

  // lp's own environment, in the C locale so that its report reads the
  // same whatever the session's locale.
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string_view(*entry).substr(0, 7) != "LC_ALL=") {
      environment.emplace_back(*entry);
    }
  }
  environment.emplace_back("LC_ALL=C");
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    result.status = SpoolResult::Status::kCannotStart;
    result.error = std::string("cannot start lp: ") + std::strerror(errno);
    return result;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    result.status = SpoolResult::Status::kCannotStart;
    result.error = std::string("cannot start lp: ") + std::strerror(errno);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    return result;
  }
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    const int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0) ::dup2(null_fd, STDIN_FILENO);
    ::dup2(pipe_fds[1], STDOUT_FILENO);
    ::dup2(pipe_fds[1], STDERR_FILENO);
    ::execve(lp.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  std::string output;
  char buffer[4096];
  while (true) {
    const ssize_t got = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (got > 0) {
      // Kept short; the rest is read and dropped so lp never blocks.
      if (output.size() < 4 * kMaxSpoolerOutput) {
        output.append(buffer, static_cast<size_t>(got));
      }
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  ::close(pipe_fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      result.status = SpoolResult::Status::kCannotStart;
      result.error =
          std::string("lost the lp process: ") + std::strerror(errno);
      return result;
    }
  }
  result.output = OneLine(output);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    result.status = SpoolResult::Status::kSent;
    result.job_id = SpoolerJobId(output);
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    result.status = SpoolResult::Status::kCannotStart;
    result.error = "cannot start " + lp;
  } else if (WIFEXITED(status)) {
    result.status = SpoolResult::Status::kFailed;
    result.exit_code = WEXITSTATUS(status);
  } else {
    result.status = SpoolResult::Status::kStopped;
  }
  return result;
}

}  // namespace tarnevos::kelprint
