#ifndef TARNEVOS_TOOLS_KELPRINT_KELPRINT_APP_H_
#define TARNEVOS_TOOLS_KELPRINT_KELPRINT_APP_H_

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/console/console.h"

namespace tarnevos::kelprint {

// Exit codes of the print program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNoPrintFile = 1;  // the print file cannot be read
inline constexpr int kExitNoOutput = 2;     // the device could not be served
inline constexpr int kExitUsage = 64;

// Opens the terminal for the preview; nullptr (with the reason in `error`)
// when there is none.
using TerminalOpener =
    std::function<std::unique_ptr<platform::Console>(std::string& error)>;

// The whole print program. Arguments (after the program name):
//   [--device=VALUE] [FILE]
// FILE defaults to the session's TmpDir + "kelprint.tmp" (KELTMP, else the
// session's terminal directory); --device replaces the file's DEVICE line.
// Messages go to `out` (what was written where) and `err` (problems, with
// the first bad line of the print file).
int KelprintMain(const std::vector<std::string>& arguments,
                 const TerminalOpener& open_terminal, std::ostream& out,
                 std::ostream& err);

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_KELPRINT_APP_H_
