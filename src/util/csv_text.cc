#include "util/csv_text.h"

namespace tarnevos {

std::string CsvField(std::string_view text, char separator) {
  const bool quoted =
      text.find_first_of(std::string{separator, '"', '\r', '\n'}) !=
          std::string_view::npos ||
      (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quoted) return std::string(text);
  std::string field = "\"";
  for (char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  field += '"';
  return field;
}

std::string CsvLine(const std::vector<std::string>& fields, char separator) {
  std::string record;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) record += separator;
    record += CsvField(fields[i], separator);
  }
  record += "\r\n";
  return record;
}

std::string DecimalHundredths(int64_t hundredths, char decimal) {
  // Work on the magnitude as unsigned so that the most negative value has
  // one too.
  const bool negative = hundredths < 0;
  const uint64_t magnitude = negative ? ~static_cast<uint64_t>(hundredths) + 1
                                      : static_cast<uint64_t>(hundredths);
  const uint64_t cents = magnitude % 100;
  std::string text = negative ? "-" : "";
  text += std::to_string(magnitude / 100);
  text += decimal;
  text += static_cast<char>('0' + cents / 10);
  text += static_cast<char>('0' + cents % 10);
  return text;
}

}  // namespace tarnevos
