#include "util/dates.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/system/system.h"
#include "settings/ini_reader.h"
#include "settings/session.h"
#include "util/text.h"

namespace tarnevos {
namespace {

// Twelve 10-character slots per language; the abbreviation is the first
// three characters of a slot. CP850 bytes: 0x87 is ç, 0x8A is è.
constexpr std::string_view kMonthsCatalan =
    "gener     febrer    mar\x87      abril     maig      juny      "
    "juliol    agost     setembre  octubre   novembre  desembre  ";
constexpr std::string_view kMonthsSpanish =
    "enero     febrero   marzo     abril     mayo      junio     "
    "julio     agosto    septiembreoctubre   noviembre diciembre ";
constexpr std::string_view kMonthsGalician =
    "janeiro   fevereiro mar\x87o     abril     maio      junho     "
    "julho     agosto    setembro  outubro   novembro  dezembro  ";
constexpr std::string_view kMonthsAranese =
    "g\x8Ar       hereu\x8Ar   mar\x87      abriu     mai       junh      "
    "junhsega  agost     seteme    octobre   noveme    deseme    ";
constexpr size_t kMonthSlot = 10;
static_assert(kMonthsCatalan.size() == 12 * kMonthSlot);
static_assert(kMonthsSpanish.size() == 12 * kMonthSlot);
static_assert(kMonthsGalician.size() == 12 * kMonthSlot);
static_assert(kMonthsAranese.size() == 12 * kMonthSlot);

// Words between the parts of a date written out in full.
struct Connectors {
  std::string_view before_consonant_month;
  std::string_view before_vowel_month;
  std::string_view before_other;
};

struct LanguageDates {
  std::string_view months;
  Connectors connectors;
};

constexpr PerLanguage<LanguageDates> kLanguageDates = {{
    {kMonthsCatalan, {" de ", " d'", " del "}},
    {kMonthsSpanish, {" de ", " de ", " de "}},
    {kMonthsGalician, {" de ", " de ", " do "}},
    {kMonthsAranese, {" de ", " d'", " deth "}},
}};

// Separator and order of numeric dates, read from Orvo.ini once a run.
struct DateSettings {
  char separator = '/';
  std::string order = "DMA";
};

std::optional<DateSettings>& LoadedSettings() {
  static std::optional<DateSettings> settings;
  return settings;
}

const DateSettings& Settings() {
  auto& loaded = LoadedSettings();
  if (!loaded) {
    DateSettings settings;
    std::string file = SystemSettingsFile();
    std::string separator = ReadSetting(file, "Usuari", "DatCaracter");
    if (!TrimBlanks(separator).empty()) settings.separator = separator[0];
    std::string order = ReadSetting(file, "Usuari", "DatOrdre");
    if (!TrimBlanks(order).empty()) settings.order = order.substr(0, 3);
    loaded = settings;
  }
  return *loaded;
}

// Day, month and year of a date as read or unpacked. Wide enough for every
// value a four-byte packed date or a 16-bit typed piece can hold.
struct Ymd {
  int64_t year = 0;
  int64_t month = 0;
  int64_t day = 0;
};

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

int64_t PositiveMod(int64_t a, int64_t b) { return a - b * FloorDiv(a, b); }

bool Before(const Ymd& a, const Ymd& b) {
  if (a.year != b.year) return a.year < b.year;
  if (a.month != b.month) return a.month < b.month;
  return a.day < b.day;
}

constexpr Ymd kLastJulianDay = {1582, 10, 4};
constexpr Ymd kFirstGregorianDay = {1582, 10, 15};

bool IsGregorianLeap(int64_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int64_t Length(int64_t year, int64_t month, bool julian) {
  if (month < 1 || month > 12) return 31;
  return MonthLength(static_cast<int>(year % 400 + (year < 0 ? 400 : 0)),
                     static_cast<int>(month), julian);
}

constexpr int64_t kYearSaturation = 1'000'000'000'000;

// The value of a byte of packed digits.
int64_t ByteValue(char byte) {
  return (static_cast<unsigned char>(byte) & 0x7F) % 100;
}

// Splits a packed date: the day is the last byte, the month the one before,
// the year all the bytes before those. Missing bytes read as 0.
Ymd SplitPacked(std::string_view packed) {
  Ymd date;
  size_t n = packed.size();
  if (n >= 1) date.day = ByteValue(packed[n - 1]);
  if (n >= 2) date.month = ByteValue(packed[n - 2]);
  // Longer texts than a date make years that no check accepts; the value
  // saturates instead of overflowing.
  for (size_t i = 0; i + 2 < n; ++i) {
    if (date.year < kYearSaturation) {
      date.year = date.year * 100 + ByteValue(packed[i]);
    }
  }
  return date;
}

std::string PackYmd(int64_t year, int64_t month, int64_t day) {
  return PackDigits(ZeroPad(static_cast<double>(year), 4) +
                    ZeroPad(static_cast<double>(month), 2) +
                    ZeroPad(static_cast<double>(day), 2));
}

int64_t ClockYear() { return platform::LocalToday().year; }

// A typed date as read, before any range check.
struct TypedDate {
  bool readable = false;
  Ymd date;
  bool year_in_full = false;
};

// The value of a piece of a typed date; blanks do not count. Pieces that
// exceed 16 bits, or that cannot be packed in their width, are unreadable.
std::optional<int64_t> PieceValue(std::string_view piece, int64_t limit) {
  int64_t value = 0;
  for (char c : piece) {
    if (c == ' ') continue;
    value = value * 10 + (c - '0');
    if (value > limit) return std::nullopt;
  }
  return value;
}

TypedDate ReadTypedDate(std::string_view typed) {
  TypedDate result;
  std::array<std::string_view, 2> closed;
  int separators = 0;
  size_t piece_start = 0;
  for (size_t i = 0; i < typed.size(); ++i) {
    char c = typed[i];
    if (c == '.' || c == '/' || c == '-') {
      if (separators == 2) return result;
      closed[separators++] = typed.substr(piece_start, i - piece_start);
      piece_start = i + 1;
    } else if (c != ' ' && (c < '0' || c > '9')) {
      return result;
    }
  }
  std::string_view day_text, month_text, year_text;
  if (separators == 0) {
    day_text = typed.substr(0, 2);
    month_text = typed.size() > 2 ? typed.substr(2, 2) : "";
    year_text = typed.size() > 4 ? typed.substr(4) : "";
  } else if (separators == 2) {
    day_text = closed[0];
    month_text = closed[1];
    year_text = typed.substr(piece_start);
  } else {
    return result;
  }
  auto day = PieceValue(day_text, 99);
  auto month = PieceValue(month_text, 99);
  auto year = PieceValue(year_text, 9999);
  if (!day || !month || !year) return result;
  result.readable = true;
  result.date = {*year, *month, *day};
  result.year_in_full = TrimBlanks(year_text).size() > 3;
  return result;
}

// Months from Y-M-1 to the first of the following month, summed from
// `from` to `to` inclusive within one year.
int64_t DaysInMonths(int64_t year, int64_t from, int64_t to) {
  bool julian = year < 1582;
  int64_t days = 0;
  for (int64_t m = std::max<int64_t>(from, 0); m <= std::min<int64_t>(to, 99);
       ++m) {
    days += Length(year, m, julian);
  }
  return days;
}

// Leap years in [0, year) (negative counts below 0) by each rule.
int64_t JulianLeapsBefore(int64_t year) { return FloorDiv(year + 3, 4); }
int64_t GregorianLeapsBefore(int64_t year) {
  return FloorDiv(year + 3, 4) - FloorDiv(year + 99, 100) +
         FloorDiv(year + 399, 400);
}

// Days of the whole years from `first` up to `last` (excluded): years
// before 1582 by the Julian rule, later ones by the Gregorian rule.
int64_t DaysInYears(int64_t first, int64_t last) {
  if (last <= first) return 0;
  constexpr int64_t kReform = 1582;
  int64_t days = 365 * (last - first);
  int64_t julian_end = std::min(last, kReform);
  if (first < julian_end) {
    days += JulianLeapsBefore(julian_end) - JulianLeapsBefore(first);
  }
  int64_t gregorian_start = std::max(first, kReform);
  if (gregorian_start < last) {
    days += GregorianLeapsBefore(last) - GregorianLeapsBefore(gregorian_start);
  }
  return days;
}

int64_t DaysBetween(const Ymd& a, const Ymd& b) {
  if (a.year == b.year) {
    return DaysInMonths(a.year, a.month, b.month - 1) + b.day - a.day;
  }
  int64_t days = DaysInMonths(a.year, a.month, 12);
  days += DaysInYears(a.year + 1, b.year);
  days += DaysInMonths(b.year, 1, b.month - 1);
  return days + b.day - a.day;
}

char UnitLetter(std::string_view unit) {
  if (unit.size() != 1) return 0;
  char c = unit[0];
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return (c == 'D' || c == 'M' || c == 'A') ? c : 0;
}

// Whole calendar cycles, to keep normalising fast for large day counts:
// 400 Gregorian years or 4 Julian years hold a fixed number of days.
struct Cycle {
  int64_t years;
  int64_t days;
};
constexpr Cycle kGregorianCycle = {400, 146097};
constexpr Cycle kJulianCycle = {4, 1461};

}  // namespace

int MonthLength(int year, int month, bool julian) {
  if (month < 1 || month > 12) return 31;
  int length = 30 + ((1 + (month + 1) % 9) % 2);
  if (month == 2) {
    bool leap = julian ? year % 4 == 0 : IsGregorianLeap(year);
    length -= 2 - (leap ? 1 : 0);
  }
  return length;
}

std::string PackDigits(std::string_view digits) {
  const size_t n = digits.size();
  if (n == 0) return "";
  std::string text = TrimBlanks(digits);
  text = std::string(n - text.size(), '0') + text;
  std::string packed;
  packed.reserve((n + 1) / 2);
  auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : 0; };
  for (size_t i = 0; i < n; i += 2) {
    int tens = digit(text[i]);
    int units = i + 1 < n ? digit(text[i + 1]) : 0;
    packed += static_cast<char>(128 + 10 * tens + units);
  }
  return packed;
}

std::string UnpackDigits(std::string_view packed) {
  std::string digits;
  digits.reserve(packed.size() * 2);
  for (char byte : packed) {
    int64_t value = ByteValue(byte);
    digits += static_cast<char>('0' + value / 10);
    digits += static_cast<char>('0' + value % 10);
  }
  return digits;
}

std::string ParseDateEntry(std::string_view typed) {
  TypedDate read = ReadTypedDate(typed);
  if (!read.readable) return PackDigits("00000000");
  Ymd date = read.date;
  // Only one- and two-digit years take the clock's century, as in the
  // check: a three-digit year is the year as written, so that the date
  // stored is the date that was checked.
  if (date.day > 0 && date.month > 0 && date.year < 100 && !read.year_in_full) {
    int64_t clock = ClockYear();
    date.year += 100 * (clock / 100);
    if (date.year - clock > 49) {
      date.year -= 100;
    } else if (clock - date.year > 50) {
      date.year += 100;
    }
  }
  return PackYmd(date.year, date.month, date.day);
}

bool IsInvalidDateEntry(std::string_view typed) {
  TypedDate read = ReadTypedDate(typed);
  if (!read.readable) return true;
  Ymd date = read.date;
  if (date.year < 100 && !read.year_in_full) {
    int64_t clock = ClockYear();
    date.year += 100 * (clock / 100);
    if (date.year - clock > 50) {
      date.year -= 100;
    } else if (clock - date.year > 50) {
      date.year += 100;
    }
  }
  // The days dropped by the calendar reform never existed.
  if (Before(kLastJulianDay, date) && Before(date, kFirstGregorianDay)) {
    return true;
  }
  if (date.month < 1 || date.month > 12) return true;
  return date.day < 1 || date.day > Length(date.year, date.month, false);
}

std::string DateToEntryText(std::string_view packed_date) {
  Ymd date = SplitPacked(packed_date);
  if (date.day == 0 && date.month == 0) return "";
  int64_t clock = ClockYear();
  bool near = date.year >= clock - 50 && date.year <= clock + 49;
  return ZeroPad(static_cast<double>(date.day), 2) +
         ZeroPad(static_cast<double>(date.month), 2) +
         ZeroPad(static_cast<double>(near ? date.year % 100 : date.year),
                 near ? 2 : 4);
}

std::string AddToDate(std::string_view packed_date, int32_t amount,
                      std::string_view unit) {
  char letter = UnitLetter(unit);
  if (amount == 0 || letter == 0) return std::string(packed_date);
  const Ymd start = SplitPacked(packed_date);
  Ymd date = start;
  switch (letter) {
    case 'D':
      date.day += amount;
      break;
    case 'M': {
      date.month += amount;
      int64_t years = FloorDiv(date.month - 1, 12);
      date.year += years;
      date.month -= 12 * years;
      break;
    }
    default:
      date.year += amount;
      break;
  }

  const bool julian = Before(start, Ymd{1582, 10, 5});
  const Cycle cycle = julian ? kJulianCycle : kGregorianCycle;
  if (letter == 'D' && amount > 0) {
    if (date.day > cycle.days) {
      int64_t cycles = (date.day - 1) / cycle.days;
      date.day -= cycles * cycle.days;
      date.year += cycles * cycle.years;
    }
    int64_t length;
    while (date.year <= 9999 &&
           date.day > (length = Length(date.year, date.month, julian))) {
      date.day -= length;
      if (date.month >= 12) {
        date.month = 1;
        ++date.year;
      } else {
        ++date.month;
      }
    }
  } else if (letter == 'D') {
    if (date.day < -cycle.days) {
      int64_t cycles = -date.day / cycle.days;
      date.day += cycles * cycle.days;
      date.year -= cycles * cycle.years;
    }
    while (date.day < 1) {
      if (date.month <= 1) {
        date.month = 12;
        --date.year;
      } else {
        --date.month;
      }
      date.day += Length(date.year, date.month, julian);
    }
  } else {
    date.day = std::min(date.day, Length(date.year, date.month, julian));
  }

  if (date.year > 9999) return PackDigits("99991231");
  // Before year 0 nothing can be packed: the earliest date stands for it.
  if (date.year < 0) return PackDigits("00000101");
  return PackYmd(date.year, date.month, date.day);
}

int32_t DateDifference(std::string_view first, std::string_view second,
                       std::string_view unit) {
  std::string_view earlier = first < second ? first : second;
  std::string_view later = first < second ? second : first;
  const Ymd a = SplitPacked(earlier);
  const Ymd b = SplitPacked(later);
  int64_t count = 0;
  switch (UnitLetter(unit)) {
    case 'D':
      count = DaysBetween(a, b);
      break;
    case 'M':
      count = 12 * (b.year - a.year) + (b.month - a.month);
      break;
    case 'A':
      count = b.year - a.year;
      if (a.month > b.month || (a.month == b.month && a.day > b.day)) --count;
      break;
    default:
      break;
  }
  return static_cast<int32_t>(std::clamp<int64_t>(count, 0, INT32_MAX));
}

int DayOfWeek(std::string_view packed_date) {
  const Ymd date = SplitPacked(packed_date);
  const int64_t y = date.year - 1;
  const int64_t k = DateDifference(PackYmd(date.year, 1, 1), packed_date, "D");
  int64_t base;
  if (Before(date, Ymd{1582, 10, 5})) {
    base = PositiveMod(y + FloorDiv(y, 4), 7) + 5;
  } else {
    base = PositiveMod(y + FloorDiv(y, 4) - FloorDiv(y, 100) + FloorDiv(y, 400),
                       7);
  }
  return static_cast<int>(PositiveMod(base + k, 7) + 1);
}

std::string FormatDate(std::string_view packed_date, int style,
                       std::string_view parts) {
  const DateSettings& settings = Settings();
  std::string digits = UnpackDigits(packed_date);
  digits.resize(std::max<size_t>(digits.size(), 8), '0');
  const std::string year = digits.substr(0, 4);
  const int month = std::atoi(digits.substr(4, 2).c_str());
  const int day = std::atoi(digits.substr(6, 2).c_str());

  if (style == -1) {
    return year + "-" + digits.substr(4, 2) + "-" + digits.substr(6, 2);
  }

  const std::string wanted = UpperAscii(parts);
  const LanguageDates& language =
      ForLanguage(kLanguageDates, SessionLanguage());
  std::string text;
  if (month != 0 || day != 0) {
    for (char letter : settings.order) {
      if (wanted.find(letter) == std::string::npos) continue;
      std::string piece;
      std::string_view connector = language.connectors.before_other;
      if (letter == 'D') {
        piece = std::to_string(day);
      } else if (letter == 'A') {
        piece = year;
      } else if (letter == 'M') {
        if (style <= 0 || month < 1 || month > 12) {
          piece = std::to_string(month);
        } else {
          std::string_view slot =
              language.months.substr((month - 1) * kMonthSlot, kMonthSlot);
          piece = style == 1 ? std::string(slot.substr(0, 3))
                             : TrimRightBlanks(slot);
        }
        char initial = piece.empty() ? ' ' : UpperAscii(piece.substr(0, 1))[0];
        bool vowel =
            std::string_view("AEIOU").find(initial) != std::string_view::npos;
        connector = vowel ? language.connectors.before_vowel_month
                          : language.connectors.before_consonant_month;
      } else {
        continue;
      }
      if (!text.empty()) {
        text += style <= 1 ? std::string(1, settings.separator)
                           : std::string(connector);
      }
      text += piece;
    }
  }

  if (style == 0 || style == 1) {
    int width = static_cast<int>(wanted.size()) - 1;
    if (wanted.find('D') != std::string::npos) width += 2;
    if (wanted.find('A') != std::string::npos) width += 4;
    if (wanted.find('M') != std::string::npos) width += style + 2;
    if (static_cast<int>(text.size()) < width) text.resize(width, ' ');
  }
  return text;
}

void TEST_ResetDateSettings() { LoadedSettings().reset(); }

}  // namespace tarnevos
