#ifndef TARNEVOS_DRIVER_STARTUP_H_
#define TARNEVOS_DRIVER_STARTUP_H_

#include <string>
#include <vector>

#include "driver/options.h"
#include "settings/locations.h"
#include "settings/session.h"

// What the program does before it loads its session: decide where the
// installation, the session and the print program are (option, then the
// suite's variable, then a default), make a session the program keeps
// itself ready, and put the outcome into the suite's variables so that the
// program and the print program it starts read the same folders.
namespace tarnevos {

struct StartPlan {
  Locations locations;
  SessionOverrides overrides;  // for LoadSessionEnvironment
};

// Where the installed print program may be, best first: next to the
// program's folder as installed (libexec), the program's own folder, and
// the build tree's.
std::vector<std::string> PrintProgramFolders();

// Prepares the start. False, with a message for standard error in
// `message` (ending with a line end), when there is no installation or the
// session's folder cannot be made: the program cannot run.
bool PrepareStart(const DriverOptions& options,
                  const std::vector<std::string>& program_dirs, StartPlan& plan,
                  std::string& message);

}  // namespace tarnevos

#endif  // TARNEVOS_DRIVER_STARTUP_H_
