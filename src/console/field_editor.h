#ifndef TARNEVOS_CONSOLE_FIELD_EDITOR_H_
#define TARNEVOS_CONSOLE_FIELD_EDITOR_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "console/keyboard.h"

// The field editor: edits one fixed-length value of a form in place on the
// console, free text (possibly wrapped over several lines) or a choice among
// listed values, until a key arrives that it does not handle itself and that
// the accepted-key table lets through.
namespace tarnevos {

// Sets the choice list for the following EditField calls: "" for a free-text
// field, or options written "|value,description|value,description...". The
// text of a choice field holds the selected option's value; the screen shows
// its description. The list stays as last set.
void SetChoiceList(std::string_view list);
const std::string& ChoiceList();

// The description of the option of a choice list whose value equals
// `value` (trailing blanks ignored); "" when none does.
std::string ChoiceDescription(std::string_view list, std::string_view value);

// Edits `text` (its length L never changes) at (row, column) of the current
// window (0 = the cursor's current row or column), `width` characters per
// line (0 = one line). `cursor` starts clamped to 1..L + 1 and returns the
// final position. `key` receives the key that ended the edit after the
// translations Shift+Tab -> Up, Tab -> Enter, Enter -> End (when End is an
// accepted key), Ctrl+F4 / Alt+F4 -> Esc, and the accepted key's mapped
// result; a mouse click outside the field ends the edit with
// -(column x 100 + row) in screen coordinates (see IsClickCode).
void EditField(int16_t& row, int16_t& column, int16_t& width, std::string& text,
               int16_t& cursor, KeyCode& key);

// True when `key` is a click code of EditField rather than an extended key
// whose code reads as negative in 16 bits (F11, F12 and their variants).
bool IsClickCode(KeyCode key);
// Screen row and column of a click code.
void ClickPosition(KeyCode key, int16_t& row, int16_t& column);
KeyCode ClickCode(int16_t row, int16_t column);

// Empty choice list.
void TEST_ResetFieldEditor();

}  // namespace tarnevos

#endif  // TARNEVOS_CONSOLE_FIELD_EDITOR_H_
