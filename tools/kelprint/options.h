#ifndef TARNEVOS_TOOLS_KELPRINT_OPTIONS_H_
#define TARNEVOS_TOOLS_KELPRINT_OPTIONS_H_

#include <optional>
#include <ostream>
#include <string>
#include <vector>

// The print program's command line:
//   kelprint [--output DEVICE] [--session DIR] [--root DIR] [FILE]
//   kelprint --help | --version
// --device is another name of --output. Options take their value as the
// next argument or after "=". Started by TARNEVOS it gets no arguments and
// takes the suite's variables, which TARNEVOS sets.
namespace tarnevos::kelprint {

enum class KelprintAction { kRun, kHelp, kVersion, kUsageError };

struct KelprintArguments {
  KelprintAction action = KelprintAction::kRun;
  std::string file;                   // the print file; "" the session's
  std::optional<std::string> device;  // replaces the file's DEVICE line
  std::string root;                   // --root, "" when not given
  std::string session;                // --session, "" when not given
  std::string error;                  // kUsageError: what is wrong
};

// Reads the arguments (without the program's name). --help or --version
// anywhere wins; an unknown option, a second file or an option without its
// value is a usage error. A repeated option keeps its last value.
KelprintArguments ParseKelprintArguments(
    const std::vector<std::string>& arguments);

// The text of --help (also shown on standard error after a usage error).
const char* KelprintUsage();
// "kelprint" and the version, the text of --version.
std::string KelprintVersion();

// Decides the session's folder and the installation (option, then KELTMP
// and KELROOT, then the defaults of settings/locations.h, without creating
// anything) and sets the variables for the session's loading. False, with
// a message on `err`, when --root names no installation.
bool ApplyKelprintLocations(const KelprintArguments& arguments,
                            std::ostream& err);

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_OPTIONS_H_
