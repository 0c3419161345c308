#include "platform/system/system.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>

#include "platform/system/paths.h"

namespace tarnevos::platform {
namespace {

std::optional<CalendarDay>& FixedToday() {
  static std::optional<CalendarDay> day;
  return day;
}

std::function<void(int)>& Sleeper() {
  static std::function<void(int)> sleeper;
  return sleeper;
}

ProgramRunner& Runner() {
  static ProgramRunner runner;
  return runner;
}

// The program RunForReal waits for; 0 when none. Read by signal handlers.
volatile sig_atomic_t g_running_child = 0;

constexpr int kChildGraceMilliseconds = 2000;
constexpr int kChildPollMilliseconds = 10;

ProgramResult RunForReal(std::string_view suite_path,
                         const std::vector<std::string>& arguments) {
  ProgramResult result;
  std::string native = NativePath(suite_path);
  if (native.empty() || ::access(native.c_str(), X_OK) != 0) {
    result.error = std::strerror(errno == 0 ? ENOENT : errno);
    return result;
  }
  std::vector<std::string> argv_text{native};
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Signals that end the program wait until the child is known, so that
  // their handler can end it too.
  sigset_t ending, before;
  sigemptyset(&ending);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&ending, s);
  ::sigprocmask(SIG_BLOCK, &ending, &before);
  // The child gets the default dispositions so that Ctrl+C reaches it.
  pid_t pid = ::fork();
  if (pid < 0) {
    result.error = std::strerror(errno);
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    return result;
  }
  if (pid == 0) {
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGQUIT, SIG_DFL);
    ::signal(SIGTSTP, SIG_DFL);
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    ::execv(native.c_str(), argv.data());
    ::_exit(127);
  }
  g_running_child = pid;
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  // While the child runs, the parent ignores keyboard signals.
  struct sigaction ignore {
  }, old_int{}, old_quit{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGINT, &ignore, &old_int);
  ::sigaction(SIGQUIT, &ignore, &old_quit);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  g_running_child = 0;
  ::sigaction(SIGINT, &old_int, nullptr);
  ::sigaction(SIGQUIT, &old_quit, nullptr);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    result.error = "exec failed";
    return result;
  }
  result.started = true;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace

std::string GetEnv(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  return value == nullptr ? std::string() : std::string(value);
}

bool SetEnv(std::string_view name, std::string_view value) {
  if (name.empty() || name.find('=') != std::string_view::npos) return false;
  return ::setenv(std::string(name).c_str(), std::string(value).c_str(), 1) ==
         0;
}

std::string CurrentDirectory() {
  std::string buffer(4096, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return "";
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

std::string ExecutableDirectory() {
  std::string buffer(4096, '\0');
  const ssize_t length =
      ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return "";
  buffer.resize(static_cast<size_t>(length));
  const size_t slash = buffer.rfind('/');
  if (slash == std::string::npos) return "";
  return buffer.substr(0, slash + 1);
}

std::string HomeDirectory() {
  std::string home = GetEnv("HOME");
  if (!home.empty()) return home;
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::string buffer(16384, '\0');
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) ==
          0 &&
      found != nullptr && found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return "";
}

bool IsDirectory(const std::string& native_path) {
  struct stat info {};
  return !native_path.empty() && ::stat(native_path.c_str(), &info) == 0 &&
         S_ISDIR(info.st_mode);
}

bool MakePrivateDirectory(const std::string& native_path_as_given,
                          std::string& error) {
  // Without its trailing "/", so that a link in its place is not followed.
  std::string native_path = native_path_as_given;
  while (native_path.size() > 1 && native_path.back() == '/') {
    native_path.pop_back();
  }
  if (native_path.empty()) {
    error = "no folder named";
    return false;
  }
  // Each missing component from the top down, so that parents get 0700 too.
  for (size_t end = native_path.find('/', 1);;
       end = native_path.find('/', end + 1)) {
    const std::string part = native_path.substr(0, end);
    if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = part + ": " + std::strerror(errno);
      return false;
    }
    if (end == std::string::npos) break;
  }
  struct stat info {};
  if (::lstat(native_path.c_str(), &info) != 0) {
    error = native_path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    error = native_path + ": not a folder";
    return false;
  }
  if (info.st_uid != ::getuid()) {
    error = native_path + ": belongs to another user";
    return false;
  }
  if ((info.st_mode & 077) != 0 && ::chmod(native_path.c_str(), 0700) != 0) {
    error = native_path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

CalendarDay LocalToday() {
  if (FixedToday()) return *FixedToday();
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

void TEST_SetToday(std::optional<CalendarDay> day) { FixedToday() = day; }

void SleepMilliseconds(int milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  if (Sleeper()) {
    Sleeper()(milliseconds);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void TEST_SetSleeper(std::function<void(int)> sleeper) {
  Sleeper() = std::move(sleeper);
}

double RandomUnit() {
  static std::mt19937_64 engine{std::random_device{}()};
  return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
}

ProgramResult RunProgram(std::string_view suite_path,
                         const std::vector<std::string>& arguments) {
  if (Runner()) return Runner()(suite_path, arguments);
  return RunForReal(suite_path, arguments);
}

void TEST_SetProgramRunner(ProgramRunner runner) {
  Runner() = std::move(runner);
}

bool EndRunningProgram(int signal_number) {
  const pid_t child = static_cast<pid_t>(g_running_child);
  if (child <= 0) return false;
  const bool forwarded = signal_number == SIGINT || signal_number == SIGTERM ||
                         signal_number == SIGHUP || signal_number == SIGQUIT;
  ::kill(child, forwarded ? signal_number : SIGTERM);
  struct timespec pause = {0, kChildPollMilliseconds * 1000000L};
  for (int waited = 0; waited < kChildGraceMilliseconds;
       waited += kChildPollMilliseconds) {
    int status = 0;
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child || (done < 0 && errno == ECHILD)) {
      g_running_child = 0;
      return true;
    }
    ::nanosleep(&pause, nullptr);
  }
  ::kill(child, SIGKILL);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  g_running_child = 0;
  return true;
}

}  // namespace tarnevos::platform
