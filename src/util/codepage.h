#ifndef TARNEVOS_UTIL_CODEPAGE_H_
#define TARNEVOS_UTIL_CODEPAGE_H_

#include <string>
#include <string_view>

// Every text inside the program is code page 850 bytes in a std::string.
// These functions convert at the edges: files written by people (UTF-8 in
// the repository, JSON), the terminal and the print program's output.
namespace tarnevos {

// UTF-8 -> CP850. Characters CP850 lacks are dropped. The console glyphs of
// the control codes (U+25BA for 16, U+25C4 for 17, and the rest of the
// usual set) map back to their control bytes; invalid UTF-8 bytes are
// dropped.
std::string Cp850(std::string_view utf8);

// CP850 -> UTF-8. Bytes 0-31 and 127 stay control characters.
std::string Utf8FromCp850(std::string_view cp850);

// CP850 -> UTF-8 as the console draws it: bytes 1-31 and 127 become their
// glyphs (16 is U+25BA, 17 is U+25C4), byte 0 a blank.
std::string Utf8GlyphsFromCp850(std::string_view cp850);

// Unicode code point of a CP850 byte as the console draws it.
char32_t GlyphOf(unsigned char byte);

// CP850 byte of a code point, or -1 when CP850 has none.
int Cp850ByteOf(char32_t code_point);

// Appends the UTF-8 encoding of a code point.
void AppendUtf8(std::string& out, char32_t code_point);

// How a text file written by people (settings, form, language and help
// files) is encoded. A file is UTF-8 when it starts with the byte-order mark
// EF BB BF, or when it is valid UTF-8 and holds at least one multi-byte
// sequence; any other file is CP850 (plain ASCII reads the same either way).
// The one ambiguity: a CP850 file whose bytes above 127 all happen to form
// valid UTF-8 sequences (each accented letter in a run led by a capital
// accented letter or a box-drawing character, such as "Èà", D4 85) is taken
// for UTF-8.
enum class TextEncoding { kCp850, kUtf8, kUtf8WithMark };
TextEncoding DetectTextEncoding(std::string_view bytes);

// The text of such a file in CP850: a UTF-8 file is converted (the mark
// dropped; typographic quotes, dashes, the ellipsis and the euro sign become
// their plain look-alikes ', ", -, ... and EUR; any other character CP850
// lacks, and an invalid byte, becomes "?"); a CP850 file is returned as it
// is. Line ends and control bytes are kept.
std::string TextFileToCp850(std::string_view bytes);

// Decodes one UTF-8 character at `pos`, advancing it. Returns -1 (and
// advances one byte) for an invalid or truncated sequence.
long DecodeUtf8(std::string_view text, size_t& pos);

}  // namespace tarnevos

#endif  // TARNEVOS_UTIL_CODEPAGE_H_
