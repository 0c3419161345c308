#ifndef TARNEVOS_TOOLS_KELPRINT_MESSAGE_SCREEN_H_
#define TARNEVOS_TOOLS_KELPRINT_MESSAGE_SCREEN_H_

#include <string>
#include <vector>

#include "platform/console/console.h"

namespace tarnevos::kelprint {

// Shows `lines` (CP850) in a framed box in the middle of the console, the
// `press_a_key` line under them, and waits for a key; a failure's box is
// red. Lines wider than the box can be (the console less a margin) are
// broken into pieces, and lines that do not fit the console's height are
// left out, the last ones first. A resize of the console redraws the box.
void ShowMessage(platform::Console& console,
                 const std::vector<std::string>& lines,
                 const std::string& press_a_key, bool failure);

// The rows ShowMessage draws for the box's text on a console `columns`
// wide: lines broken into pieces of at most `columns` - 8 characters.
std::vector<std::string> MessageRows(const std::vector<std::string>& lines,
                                     int columns);

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_MESSAGE_SCREEN_H_
