#ifndef TARNEVOS_PLATFORM_SYSTEM_SYSTEM_H_
#define TARNEVOS_PLATFORM_SYSTEM_SYSTEM_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The system services the program needs besides files and the console:
// environment, the computer's local date, sleeping, a random source and
// starting programs. Tests replace the clock, the sleeper and the program
// runner through the TEST_ hooks.
namespace tarnevos::platform {

// Value of an environment variable; empty when it is not set.
std::string GetEnv(std::string_view name);
// Sets an environment variable for this process and the programs it starts.
// False when the name is empty or holds "=".
bool SetEnv(std::string_view name, std::string_view value);

// The process's current directory as an absolute native path without a
// trailing "/" (just "/" for the root); "" when it cannot be told.
std::string CurrentDirectory();
// The directory of the running program's file (from /proc/self/exe), as an
// absolute native path ending with "/"; "" when it cannot be told.
std::string ExecutableDirectory();
// The user's home directory: HOME, else the password database's entry;
// "" when there is none.
std::string HomeDirectory();

// True when the native path names a folder (following links).
bool IsDirectory(const std::string& native_path);

// Creates a directory only its owner may use (mode 0700), with any missing
// parents (also 0700), given as a native path. An existing directory is
// accepted when it belongs to the user and is not a symbolic link; its mode
// is then narrowed to 0700. False, with the reason in `error`, otherwise.
bool MakePrivateDirectory(const std::string& native_path, std::string& error);

struct CalendarDay {
  int year = 0;
  int month = 0;
  int day = 0;
};

// The computer's local date (not the session's working date).
CalendarDay LocalToday();
// Makes LocalToday return `day` until called again with std::nullopt.
void TEST_SetToday(std::optional<CalendarDay> day);

// Sleeps for the given milliseconds (negative counts as 0).
void SleepMilliseconds(int milliseconds);
// Replaces the sleeper (nullptr restores the real one); tests record waits.
void TEST_SetSleeper(std::function<void(int)> sleeper);

// Uniform random number in [0, 1).
double RandomUnit();

struct ProgramResult {
  bool started = false;  // false: the program could not be started
  int exit_code = 0;     // meaningful only when started
  std::string error;     // why it could not be started
};

// Starts the program named by a suite path with the given arguments, never
// through a shell, waits for it and returns how it went. The caller hands
// the terminal over (suspends its console) around the call.
ProgramResult RunProgram(std::string_view suite_path,
                         const std::vector<std::string>& arguments);
using ProgramRunner = std::function<ProgramResult(
    std::string_view, const std::vector<std::string>&)>;

// For a signal handler that is about to end the program: ends the program
// RunProgram is waiting for, if any, and waits for it, so that it neither
// outlives the program nor goes on drawing on the terminal. The program
// gets `signal_number` (SIGTERM for signals other than INT, TERM, HUP and
// QUIT), then SIGKILL when it has not ended within two seconds. Returns
// true when there was one. Async-signal-safe.
bool EndRunningProgram(int signal_number);
// Replaces the program runner (nullptr restores the real one).
void TEST_SetProgramRunner(ProgramRunner runner);

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_SYSTEM_SYSTEM_H_
