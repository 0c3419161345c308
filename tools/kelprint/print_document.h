#ifndef TARNEVOS_TOOLS_KELPRINT_PRINT_DOCUMENT_H_
#define TARNEVOS_TOOLS_KELPRINT_PRINT_DOCUMENT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The print file read into pages of character cells. The print file is a
// list of commands, one per line (CR LF or LF ends a line; text is CP850):
//
//   DEVICE<target>            where the pages go (first such line counts)
//   PAGE n                    a new page of n lines
//   *<code>                   printer control: @e, q, i
//   JUS<code>                 justification of the texts that follow on the
//                             current line: C, D, A, N..., E
//   c ,<text>, f              text at column c (0: after the previous text),
//                             then f line feeds; the text is everything
//                             between the first and the last comma
//
// Numbers are written with a sign position, digits and a trailing blank
// (" 85 "); the reader accepts them with or without the blanks.
namespace tarnevos::kelprint {

// Page geometry the suite's reports are made for.
inline constexpr int kDefaultPageLength = 66;
inline constexpr int kPaperColumns = 135;
// Caps that keep a damaged file from asking for absurd pages.
inline constexpr int kMaxPageLength = 1000;
inline constexpr int kMaxLineWidth = 400;
inline constexpr int kMaxPages = 100000;

// Style of a cell, as the control codes set it.
inline constexpr uint8_t kItalic = 1;
inline constexpr uint8_t kCondensed = 2;

// One printed line: CP850 characters (blanks where nothing was placed) and
// the style of each, both of the same size; trailing cells never placed are
// absent.
struct PageRow {
  std::string text;
  std::vector<uint8_t> styles;
};

struct Page {
  int length = kDefaultPageLength;  // lines of the sheet
  std::vector<PageRow> rows;        // rows 0.. as far as anything was placed
  // Widest row in columns.
  int Width() const;
  // Lines the sheet needs: its length, or more when rows went past it.
  int Lines() const;
};

// What was wrong with a line of the file (or the file as a whole).
enum class ProblemKind {
  kEmptyFile,
  kNoLineEnd,     // the last line is cut short
  kNoDevice,      // no DEVICE line at all
  kSecondDevice,  // a second DEVICE line, ignored
  kEmptyLine,
  kUnknownCommand,
  kPageLengthNotNumber,
  kPageLengthBelowOne,
  kPageLengthTooLarge,  // value: the length used instead
  kUnknownControl,
  kUnknownJustification,
  kTextWithoutFeeds,
  kFeedsNotNumber,
  kColumnNotNumber,
  kNegativeColumn,
  kTooManyPages,
  kPageOverflow,    // value: the page's length
  kColumnTooLarge,  // value: the last column
  kTextTooLong,     // value: the last column
  kNegativeFeeds,
  kFeedsTooLarge,  // value: the line feeds used instead
};

// A line of the file that could not be taken as it was written.
struct Problem {
  int line_number = 0;  // 1-based line of the print file; 0 for the file
  ProblemKind kind = ProblemKind::kUnknownCommand;
  long long value = 0;  // the number the kind names, else 0
  std::string message;  // English, no line number in it
  // "line 7: ..." or the message alone for the file as a whole.
  std::string Describe() const;
};

struct PrintDocument {
  std::string device;  // CP850 text after DEVICE, unchanged
  bool has_device = false;
  std::vector<Page> pages;
  std::optional<Problem> first_problem;
  int problem_count = 0;
};

// Reads a whole print file. Never fails: what cannot be understood is
// skipped or capped (columns beyond kMaxLineWidth are cut, line feeds are
// capped at kMaxPageLength, page lengths outside 1..kMaxPageLength become the
// default or the cap, pages beyond kMaxPages are dropped) and the first such
// line is named in first_problem.
//
// Layout rules: a text at column c starts in cell c (1-based); column 0
// continues after the previous text of the line; a later text overwrites
// earlier cells. Line feeds move down; a text that would fall past the
// page's length starts a new page of the same length (an overflow, which is
// reported). The first PAGE line starts the first page; each later one
// starts a new page, blank or not. Texts before any PAGE line start a page
// of the default length.
//
// Controls: "@e" resets the style, "q" selects condensed pitch (kept on the
// cells; the renderers place every pitch on the same grid), "i" switches
// italics on or off for the texts that follow.
//
// Justification arranges each text within the cells it occupies, so it
// never moves a text off its columns: D (right) and N (numeric) move
// trailing blanks to the front, C centres the non-blank part, A (left)
// moves leading blanks to the end, E leaves the text as it is. It holds for
// the rest of the current line, until a text with line feeds ends it.
PrintDocument ReadPrintFile(std::string_view bytes);

// The document's title, CP850, as printed on the first page: the first line
// of the block of lines that a rule of "=" underlines (a report's title
// above the line naming what it covers), or, without such a rule, the
// first line that is neither blank nor a rule; blanks around it removed.
// "" when the first page holds no such line.
std::string DocumentTitle(const PrintDocument& document);

}  // namespace tarnevos::kelprint

#endif  // TARNEVOS_TOOLS_KELPRINT_PRINT_DOCUMENT_H_
