#ifndef TARNEVOS_DRIVER_OPTIONS_H_
#define TARNEVOS_DRIVER_OPTIONS_H_

#include <optional>
#include <string>
#include <vector>

// The program's command line:
//   tarnevos [--root DIR] [--session DIR] [--output DEVICE]
//   tarnevos --batch --cutoff DATE [...] [--root DIR] [--session DIR]
//            [--output DEVICE]          (the batch report, report/batch.h)
//   tarnevos --help | --version
// Options take their value as the next argument or after "=" (--root=DIR).
// Started by the suite's menu the program gets no arguments at all and
// takes everything from the suite's variables and settings files.
namespace tarnevos {

struct DriverOptions {
  std::string root;                   // --root: the installation's folder
  std::string session;                // --session: the session's folder
  std::optional<std::string> output;  // --output: the device, as typed
};

enum class DriverAction { kRun, kHelp, kVersion, kUsageError };

struct ParsedArguments {
  DriverAction action = DriverAction::kRun;
  DriverOptions options;
  std::string error;  // kUsageError: what is wrong with the command line
};

// Reads the arguments (without the program's name). --help or --version
// anywhere wins over everything else but an earlier usage error; an unknown
// option, a stray argument, or an option without its value (or with an
// empty one) is a usage error. A repeated option keeps its last value.
ParsedArguments ParseDriverArguments(const std::vector<std::string>& arguments);

// Sorts a command line into the driver's own options, with their values
// (--root, --session, --output, --help, -h, --version), and everything else,
// each in its order, for modes that have options of their own (the batch
// report reads the rest).
void SplitDriverArguments(const std::vector<std::string>& arguments,
                          std::vector<std::string>& driver,
                          std::vector<std::string>& rest);

// The text of --help (also shown, on standard error, after a usage error).
std::string DriverUsage();

// "tarnevos" and the version, the text of --version.
std::string DriverVersion();

// Exit code of a usage error (EX_USAGE).
inline constexpr int kExitUsage = 64;

}  // namespace tarnevos

#endif  // TARNEVOS_DRIVER_OPTIONS_H_
