#ifndef TARNEVOS_CONSOLE_WINDOW_NOTICE_H_
#define TARNEVOS_CONSOLE_WINDOW_NOTICE_H_

#include <string>

#include "settings/language.h"

namespace tarnevos {

// The line a terminal window too small for the screen shows instead of it,
// in `language`, naming the size needed: "Amplieu la finestra a 80x25".
// CP850, for the terminal console's notice.
std::string SmallWindowNotice(Language language, int columns, int rows);

}  // namespace tarnevos

#endif  // TARNEVOS_CONSOLE_WINDOW_NOTICE_H_
