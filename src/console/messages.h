#ifndef TARNEVOS_CONSOLE_MESSAGES_H_
#define TARNEVOS_CONSOLE_MESSAGES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Help, message boxes and paragraph formatting.
namespace tarnevos {

// Shows the help of a subject: on a WIN host through COMSPEC /C ZOPRUN,
// elsewhere in the built-in viewer of "AJUDA\" + subject + ".HLP". Where
// that file is missing or empty (or the subject is empty), a message box
// says so (NoHelpMessage) until a key is pressed.
void ShowHelp(std::string_view subject);
// The message for a subject without help, in the session's language: it
// names the missing file, or for an empty subject says that the session
// names no menu entry.
std::string NoHelpMessage(std::string_view subject);
// Puts the text in a framed box centred near `row`; leaves it on screen
// (one window pushed) for the caller's PopWindow. Returns false when the
// text did not fit and nothing was pushed.
bool MessageBox(int16_t row, std::string_view text);
// Breaks the text into lines of `width` with the given indent and
// alignment letter; the lines are concatenated.
void FormatParagraph(std::string& text, int16_t indent, int16_t width,
                     std::string_view alignment);
// The lines FormatParagraph joins, one string per line. Characters below 32
// are carried but take no column, so a line holding them is longer than its
// visible width. A width that leaves no column after the indent still
// takes one character per line.
std::vector<std::string> FormatParagraphLines(std::string_view text, int indent,
                                              int width,
                                              std::string_view alignment);

// Help files hold fixed-length records, one per line, each as long as the
// screen is wide. The line count is the file size over the record length,
// rounded to the nearest whole number (halves to the even one); 0 for a
// record length below 1.
long HelpLineCount(size_t file_size, int line_length);
// The record of line `line` (1-based): the bytes of the file that it
// covers, fewer (or none) where the file ends early or the line lies
// outside it.
std::string HelpFileLine(std::string_view file_bytes, int line_length,
                         long line);
// A run of a help line shown in one colour letter ('n', 'h', 'u', 'r').
struct HelpSegment {
  char attribute = 'n';
  std::string text;
};
// Splits a help line into what the viewer writes: bytes 30, 31 and 16
// toggle highlight, underline and reverse and take no column; at most 76
// visible characters are kept.
std::vector<HelpSegment> HelpLineSegments(std::string_view line);

}  // namespace tarnevos

#endif  // TARNEVOS_CONSOLE_MESSAGES_H_
