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

// Opens the terminal for the preview and the messages; nullptr (with the
// reason in `error`) when there is none.
using TerminalOpener =
    std::function<std::unique_ptr<platform::Console>(std::string& error)>;

// The whole print program. Arguments (after the program name), see
// kelprint/options.h:
//   [--output DEVICE] [--session DIR] [--root DIR] [FILE]
// FILE defaults to the session's TmpDir + "kelprint.tmp" (--session, else
// KELTMP, else the user's private session folder); --output (or --device)
// replaces the file's DEVICE line. --help and --version print on `out`,
// which nothing else writes.
// The texts shown on the terminal are in the session's language. After an
// output is made (or fails) the program says so on a terminal from
// `open_terminal` and waits for a key; when none can be opened it says so
// on `err`, in English. Failures, the first bad line of the print file and
// wrong arguments always go to `err` in English.
int KelprintMain(const std::vector<std::string>& arguments,
                 const TerminalOpener& open_terminal, std::ostream& out,
                 std::ostream& err);

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_KELPRINT_APP_H_
