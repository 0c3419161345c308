#ifndef TARNEVOS_SETTINGS_CSV_READER_H_
#define TARNEVOS_SETTINGS_CSV_READER_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnevos {

// Reads comma-separated values as the suite's language and form files hold
// them: a field ends at a comma or at the end of a line; a field in double
// quotes is taken without them and may contain commas; blanks around an
// unquoted field are dropped. A record may run over several lines. Line
// ends may be CR LF, LF or CR.
//
// The finer rules:
//  - Blanks are spaces and tabs.
//  - A field that follows a line end starts at the next character that is
//    not a blank or a line end: empty lines never make fields, and a record
//    may continue on the next line.
//  - A comma always announces one more field. When only blanks follow it up
//    to the line end (or the end of the input), that field is empty; so an
//    entry "text,,," ends with empty fields and does not borrow the next
//    line's fields.
//  - Inside double quotes everything is kept, commas and blanks included.
//    There is no escape: a quoted field cannot hold a double quote. What
//    follows the closing quote up to the next comma or line end is ignored.
//    A quoted field never runs over a line end: a missing closing quote ends
//    the field at the end of its line, blanks kept.
//  - A double quote inside an unquoted field is an ordinary character.
//  - NUL and any other byte are ordinary characters.
class CsvReader {
 public:
  explicit CsvReader(std::string contents);

  // Skips every line whose first character after leading blanks is an
  // apostrophe (comment lines), and empty lines between them, starting at
  // the current position, which must be at the start of a line. Returns
  // false when the input ends.
  bool SkipCommentLines();

  // Reads the next field into `field`. Returns false (and leaves `field`
  // empty) when the input has ended before the field started.
  bool ReadField(std::string& field);

  // Reads the next field as an integer (leading-number reading, rounded
  // half to even and kept within 16 bits). Returns false (value 0) at the
  // end of the input; `valid` (when given) is set to false when the field
  // holds no number.
  bool ReadInteger(int16_t& value, bool* valid = nullptr);

  // True when no further field can be read.
  bool AtEnd() const;
  // 1-based line number of the current position (for messages).
  int line() const { return line_; }

 private:
  void SkipLineEnd();
  void SkipBlanksAndLineEnds();

  std::string contents_;
  size_t pos_ = 0;
  int line_ = 1;
  bool after_comma_ = false;  // the last field ended at a comma
};

}  // namespace tarnevos

#endif  // TARNEVOS_SETTINGS_CSV_READER_H_
