#include "platform/system/system.h"

#include <signal.h>
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

  // The child gets the default dispositions so that Ctrl+C reaches it.
  pid_t pid = ::fork();
  if (pid < 0) {
    result.error = std::strerror(errno);
    return result;
  }
  if (pid == 0) {
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGQUIT, SIG_DFL);
    ::signal(SIGTSTP, SIG_DFL);
    ::execv(native.c_str(), argv.data());
    ::_exit(127);
  }
  // While the child runs, the parent ignores keyboard signals.
  struct sigaction ignore {}, old_int {}, old_quit {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGINT, &ignore, &old_int);
  ::sigaction(SIGQUIT, &ignore, &old_quit);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
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

}  // namespace tarnevos::platform
