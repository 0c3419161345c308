// The comma-separated reader over arbitrary contents, mixing every call its
// callers make.
#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/csv_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte chooses the calls, two bits a step: whether comment
  // lines are skipped first, and whether the field is read as a number.
  const unsigned pattern = data[0];
  const std::string contents(reinterpret_cast<const char*>(data) + 1, size - 1);
  tarnevos::CsvReader reader(contents);
  std::string field;
  int last_line = reader.line();
  for (size_t step = 0;; ++step) {
    const unsigned bits = (pattern >> (2 * (step % 4))) & 3;
    if (bits & 1) reader.SkipCommentLines();
    bool read = false;
    if (bits & 2) {
      int16_t value = 0;
      bool valid = false;
      read = reader.ReadInteger(value, &valid);
    } else {
      read = reader.ReadField(field);
      if (field.size() > contents.size()) __builtin_trap();
    }
    if (reader.line() < last_line) __builtin_trap();
    last_line = reader.line();
    if (!read) {
      if (!reader.AtEnd()) __builtin_trap();
      break;
    }
    // Every field read moves on (or ends a comma's empty field); a reader
    // that reports fields forever would be a fault.
    if (step > 2 * contents.size() + 8) __builtin_trap();
  }
  return 0;
}
