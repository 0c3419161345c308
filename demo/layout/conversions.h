#ifndef TARNEVOS_DEMO_LAYOUT_CONVERSIONS_H_
#define TARNEVOS_DEMO_LAYOUT_CONVERSIONS_H_

#include <cstddef>
#include <string>

// The conversions that lay out the demo installation. The repository keeps
// the demo's files as UTF-8 with LF line ends; the suite reads CP850 with
// CR LF, and its help viewer fixed-length records.
namespace tarnevos::demo {

// Bytes of one help record: one line of the help text.
constexpr size_t kHelpRecord = 80;

// UTF-8 text -> CP850 with CR LF line ends (LF, CR LF and CR are all read
// as line ends; a text without a final line end keeps it so). Bytes that
// are not UTF-8 text (a NUL byte or an invalid sequence) are copied as they
// are. Returns false, with "source:line: why" in `error`, at a character
// that CP850 lacks.
bool ConvertText(const std::string& source, const std::string& bytes,
                 std::string& out, std::string& error);

// A help text -> one record of kHelpRecord bytes per line, padded with
// blanks, without line ends. The markup {h}...{/h}, {u}...{/u} and
// {r}...{/r} becomes the toggle bytes 30, 31 and 16 of highlighted,
// underlined and reverse text. Returns false, with "source:line: why" in
// `error`, for text that is not UTF-8, a character that CP850 lacks, a tag
// opened twice, closed without being open or left open at the end of its
// line, and a line longer than a record.
bool ConvertHelp(const std::string& source, const std::string& bytes,
                 std::string& out, std::string& error);

}  // namespace tarnevos::demo

#endif  // TARNEVOS_DEMO_LAYOUT_CONVERSIONS_H_
