#ifndef TARNEVOS_UTIL_CSV_TEXT_H_
#define TARNEVOS_UTIL_CSV_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Writing comma-separated values as RFC 4180 has them (and as spreadsheet
// programs read them): a field is quoted when it holds the separator, a
// double quote, a line end, or blanks at either end, its quotes doubled;
// records end with CR LF.
namespace tarnevos {

// One field, quoted when it needs it.
std::string CsvField(std::string_view text, char separator);
// One record (line): the fields joined by the separator, then CR LF.
std::string CsvLine(const std::vector<std::string>& fields, char separator);
// Hundredths as a decimal number with two decimals: 123456 -> "1234.56",
// -5 -> "-0.05" (`decimal` is "." or ","); exact for every 64-bit value.
std::string DecimalHundredths(int64_t hundredths, char decimal = '.');

}  // namespace tarnevos

#endif  // TARNEVOS_UTIL_CSV_TEXT_H_
