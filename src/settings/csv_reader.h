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
class CsvReader {
 public:
  explicit CsvReader(std::string contents);

  // Skips every line whose first character after leading blanks is an
  // apostrophe (comment lines), starting at the current position, which
  // must be at the start of a line. Returns false when the input ends.
  bool SkipCommentLines();

  // Reads the next field into `field`. Returns false (and leaves `field`
  // empty) when the input has ended before the field started.
  bool ReadField(std::string& field);

  // Reads the next field as an integer (leading-number reading, kept to 16
  // bits). Returns false at the end of the input; `valid` (when given) is
  // set to false when the field holds no number.
  bool ReadInteger(int16_t& value, bool* valid = nullptr);

  bool AtEnd() const;
  // 1-based line number of the current position (for messages).
  int line() const { return line_; }

 private:
  std::string contents_;
  size_t pos_ = 0;
  int line_ = 1;
};

}  // namespace tarnevos

#endif  // TARNEVOS_SETTINGS_CSV_READER_H_
