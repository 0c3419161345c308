#ifndef TARNEVOS_CONSOLE_MESSAGES_H_
#define TARNEVOS_CONSOLE_MESSAGES_H_

#include <cstdint>
#include <string>
#include <string_view>

// Help, message boxes and paragraph formatting.
namespace tarnevos {

// Shows the help of a subject: on a WIN host through COMSPEC /C ZOPRUN,
// elsewhere in the built-in viewer of "AJUDA\" + subject + ".HLP".
void ShowHelp(std::string_view subject);
// Puts the text in a framed box centred near `row`; leaves it on screen
// (one window pushed) for the caller's PopWindow. Returns false when the
// text did not fit and nothing was pushed.
bool MessageBox(int16_t row, std::string_view text);
// Breaks the text into lines of `width` with the given indent and
// alignment letter; the lines are concatenated.
void FormatParagraph(std::string& text, int16_t indent, int16_t width,
                     std::string_view alignment);

}  // namespace tarnevos

#endif  // TARNEVOS_CONSOLE_MESSAGES_H_
