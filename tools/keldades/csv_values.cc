#include "keldades/csv_values.h"

#include <algorithm>
#include <array>

#include "util/csv_text.h"

namespace tarnevos::keldades {
namespace {

constexpr std::string_view kEuroSign = "\xE2\x82\xAC";
constexpr std::string_view kNoBreakSpace = "\xC2\xA0";
// Amounts beyond this many hundredths are no amount of the data files (and
// would lose digits in a spreadsheet's numbers).
constexpr int64_t kMaxHundredths = int64_t{1} << 53;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trimmed(std::string_view text) {
  for (;;) {
    const size_t before = text.size();
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
      text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
      text.remove_suffix(1);
    }
    for (std::string_view mark : {kNoBreakSpace, kEuroSign}) {
      if (text.substr(0, mark.size()) == mark) text.remove_prefix(mark.size());
      if (text.size() >= mark.size() &&
          text.substr(text.size() - mark.size()) == mark) {
        text.remove_suffix(mark.size());
      }
    }
    if (text.size() == before) return text;
  }
}

struct Number {
  bool negative = false;
  std::string integer;   // digits, leading zeros kept
  std::string fraction;  // digits after the decimal separator
};

// Digits in groups of three after the first (1 to 3 digits), separated by
// `thousands`; the digits without the separators into `digits`.
bool Grouped(std::string_view text, char thousands, std::string& digits) {
  size_t group = 0;
  bool first = true;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == thousands) {
      if (first ? (group == 0 || group > 3) : group != 3) return false;
      first = false;
      group = 0;
      continue;
    }
    if (!IsDigit(text[i])) return false;
    digits += text[i];
    ++group;
  }
  return true;
}

bool ReadNumber(std::string_view text, Number& number, std::string& error) {
  text = Trimmed(text);
  error = "\"" + std::string(text) + "\" is not a number";
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    number.negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || !std::any_of(text.begin(), text.end(), IsDigit)) {
    return false;
  }
  for (char c : text) {
    if (!IsDigit(c) && c != '.' && c != ',') return false;
  }
  const size_t dots = std::count(text.begin(), text.end(), '.');
  const size_t commas = std::count(text.begin(), text.end(), ',');
  char decimal = 0;
  char thousands = 0;
  if (dots > 0 && commas > 0) {
    decimal = text.find_last_of(".,") == text.rfind('.') ? '.' : ',';
    thousands = decimal == '.' ? ',' : '.';
    if ((decimal == '.' ? dots : commas) != 1) return false;
  } else if (dots + commas > 1) {
    thousands = dots > 0 ? '.' : ',';
  } else if (dots + commas == 1) {
    const char separator = dots > 0 ? '.' : ',';
    const size_t at = text.find(separator);
    const bool groups_thousands =
        text.size() - at - 1 == 3 && at >= 1 && at <= 3;
    (groups_thousands ? thousands : decimal) = separator;
  }
  std::string_view integer = text;
  if (decimal != 0) {
    const size_t at = text.find(decimal);
    integer = text.substr(0, at);
    number.fraction = std::string(text.substr(at + 1));
    if (number.fraction.empty() ||
        !std::all_of(number.fraction.begin(), number.fraction.end(), IsDigit)) {
      return false;
    }
  }
  if (thousands != 0) {
    if (!Grouped(integer, thousands, number.integer)) return false;
  } else {
    number.integer = std::string(integer);
    if (!std::all_of(number.integer.begin(), number.integer.end(), IsDigit)) {
      return false;
    }
  }
  if (number.integer.empty()) number.integer = "0";
  number.integer.erase(0, std::min(number.integer.find_first_not_of('0'),
                                   number.integer.size() - 1));
  error.clear();
  return true;
}

bool Digits(std::string_view text, size_t low, size_t high, int& value) {
  if (text.size() < low || text.size() > high) return false;
  value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

std::string Padded(int value, int width) {
  std::string text = std::to_string(value);
  return std::string(
             width > static_cast<int>(text.size()) ? width - text.size() : 0,
             '0') +
         text;
}

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

}  // namespace

bool ParseEuros(std::string_view text, int64_t& hundredths,
                std::string& error) {
  Number number;
  if (!ReadNumber(text, number, error)) return false;
  std::string fraction = number.fraction;
  while (fraction.size() > 2 && fraction.back() == '0') fraction.pop_back();
  if (fraction.size() > 2) {
    error = "\"" + std::string(Trimmed(text)) + "\" has more than two decimals";
    return false;
  }
  fraction.resize(2, '0');
  if (number.integer.size() > 14) {
    error = "\"" + std::string(Trimmed(text)) + "\" is too large an amount";
    return false;
  }
  const int64_t value = std::stoll(number.integer) * 100 + std::stoll(fraction);
  if (value > kMaxHundredths) {
    error = "\"" + std::string(Trimmed(text)) + "\" is too large an amount";
    return false;
  }
  hundredths = number.negative ? -value : value;
  return true;
}

bool ParseWhole(std::string_view text, int64_t& value, std::string& error) {
  Number number;
  if (!ReadNumber(text, number, error)) return false;
  if (number.fraction.find_first_not_of('0') != std::string::npos) {
    error = "\"" + std::string(Trimmed(text)) + "\" must be a whole number";
    return false;
  }
  if (number.integer.size() > 15) {
    error = "\"" + std::string(Trimmed(text)) + "\" is too large a number";
    return false;
  }
  const int64_t magnitude = std::stoll(number.integer);
  value = number.negative ? -magnitude : magnitude;
  return true;
}

bool ParseDate(std::string_view text, std::string& iso, std::string& error) {
  text = Trimmed(text);
  const std::string shown(text);
  // A time of midnight after the date, as spreadsheets add to date-times.
  const size_t blank = text.find(' ');
  if (blank != std::string_view::npos) {
    const std::string_view time = Trimmed(text.substr(blank));
    if (time.find_first_not_of("0:.") != std::string_view::npos) {
      error = "\"" + shown + "\" is not a date (DD/MM/YYYY or YYYY-MM-DD)";
      return false;
    }
    text = text.substr(0, blank);
  }
  std::array<std::string_view, 3> pieces;
  size_t count = 0;
  char separator = 0;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && IsDigit(text[i])) continue;
    if (i < text.size()) {
      if (separator == 0 &&
          (text[i] == '/' || text[i] == '-' || text[i] == '.')) {
        separator = text[i];
      }
      if (text[i] != separator) count = 4;
    }
    if (count < 3) pieces[count] = text.substr(start, i - start);
    ++count;
    start = i + 1;
  }
  int year = 0, month = 0, day = 0;
  const bool year_first =
      count == 3 && separator == '-' && Digits(pieces[0], 4, 4, year) &&
      Digits(pieces[1], 1, 2, month) && Digits(pieces[2], 1, 2, day);
  const bool day_first =
      count == 3 && !year_first && Digits(pieces[0], 1, 2, day) &&
      Digits(pieces[1], 1, 2, month) && Digits(pieces[2], 4, 4, year);
  if (!year_first && !day_first) {
    error = "\"" + shown + "\" is not a date (DD/MM/YYYY or YYYY-MM-DD)";
    return false;
  }
  iso = Padded(year, 4) + "-" + Padded(month, 2) + "-" + Padded(day, 2);
  return true;
}

bool ParseFlag(std::string_view text, bool& value, std::string& error) {
  const std::string word = UpperAscii(Trimmed(text));
  for (const char* yes :
       {"S", "SI", "S\xC3\x8D", "S\xC3\xAD", "Y", "YES", "TRUE", "1", "X"}) {
    if (word == yes) {
      value = true;
      return true;
    }
  }
  for (const char* no : {"", "N", "NO", "FALSE", "0"}) {
    if (word == no) {
      value = false;
      return true;
    }
  }
  error = "\"" + std::string(Trimmed(text)) + "\" must be S or N";
  return false;
}

std::string EurosText(int64_t hundredths, const CsvStyle& style) {
  return DecimalHundredths(hundredths, style.decimal);
}

std::string DateText(const std::string& iso, const CsvStyle& style) {
  if (iso.size() != 10 || !style.day_first) return iso;
  return iso.substr(8, 2) + "/" + iso.substr(5, 2) + "/" + iso.substr(0, 4);
}

}  // namespace tarnevos::keldades
