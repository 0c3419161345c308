#ifndef TARNEVOS_UTIL_TEXT_H_
#define TARNEVOS_UTIL_TEXT_H_

#include <string>
#include <string_view>

// Text helpers over CP850 text: upper-case folding through the plain and
// the search table, name reordering, zero padding, dotted record codes, a
// stack of texts and a few measures. None of them fails: bad input gives a
// documented neutral value.
namespace tarnevos {

// Folds codes 64..237 through the plain upper-case table, or through the
// search table (capitals without accents, other symbols blank) while search
// folding is on.
std::string FoldText(std::string_view text);
// The process-wide folding mode; off (plain table) at start.
void SetSearchFolding(bool on);
bool SearchFolding();

// "GARCIA LOPEZ*JUAN" -> "JUAN GARCIA LOPEZ"; "ARC*JOAN D'" -> "JOAN D'ARC".
std::string ReorderName(std::string_view stored_name);

// Decimal digits of |number| (its integer part), zero-padded on the left,
// keeping the rightmost `width` characters. Width <= 0 gives "".
std::string ZeroPad(double number, int width);

// "12.5" -> packed digits of "00120005" (each group four digits; a first
// group of six in the two special lengths).
std::string PackDottedCode(std::string_view code);
// Packed digits -> "12.5", dropping zero groups on the right.
std::string FormatPackedCode(std::string_view packed);

// Last-in-first-out stack of texts of any length. PopText on an empty stack
// gives "".
void PushText(std::string_view text);
std::string PopText();

// True when every character of `text` has the given code ("" is true).
bool IsAllChar(std::string_view text, int code);
// (width - length) / 2 truncated toward zero.
int CentreOffset(std::string_view text, int width);
// Text copy of the first `length` bytes of a memory area (length <= 0: "").
std::string CopyBytes(const void* area, int length);

// Small helpers used across the program.
std::string TrimBlanks(std::string_view text);  // both ends, blanks only
std::string TrimLeftBlanks(std::string_view text);
std::string TrimRightBlanks(std::string_view text);
std::string UpperAscii(std::string_view text);  // a-z only
// Cut to `width` or pad with blanks on the right.
std::string FitText(std::string_view text, int width);

// Back to the start-up state (search folding off, empty stack).
void TEST_ResetTextState();

}  // namespace tarnevos

#endif  // TARNEVOS_UTIL_TEXT_H_
