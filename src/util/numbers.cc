#include "util/numbers.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "settings/ini_reader.h"
#include "util/text.h"

namespace tarnevos {
namespace {

// The peseta's fixed rate, held as the single-precision number the suite
// has always multiplied by (166.38600158691406).
constexpr float kPesetasPerEuro = 166.386f;

// Decimal and thousands characters, read from Orvo.ini once a run.
struct NumberSettings {
  char decimal = '\'';
  char thousands = '.';
};

std::optional<NumberSettings>& LoadedSettings() {
  static std::optional<NumberSettings> settings;
  return settings;
}

const NumberSettings& Settings() {
  auto& loaded = LoadedSettings();
  if (!loaded) {
    NumberSettings settings;
    std::string file = SystemSettingsFile();
    std::string decimal = ReadSetting(file, "Usuari", "DecCaracter");
    if (!TrimBlanks(decimal).empty()) settings.decimal = decimal[0];
    std::string thousands = ReadSetting(file, "Usuari", "MilCaracter");
    if (!TrimBlanks(thousands).empty()) settings.thousands = thousands[0];
    loaded = settings;
  }
  return *loaded;
}

// Currency letters: 'P' pesetas, 'E' euros, 0 not set.
struct CurrencyState {
  char primary = 0;
  char secondary = 0;
  char current = 0;
};

CurrencyState& Currencies() {
  static CurrencyState state;
  return state;
}

// Any letter but P means euros.
char CurrencyLetter(char c) { return (c == 'P' || c == 'p') ? 'P' : 'E'; }

char PrimaryOrEuro() {
  return Currencies().primary == 0 ? 'E' : Currencies().primary;
}

bool IsDigitPosition(char c) {
  return c == '9' || c == 'Z' || c == 'z' || c == '*';
}
bool IsSignPosition(char c) { return c == '-' || c == '+'; }

// Decimal digits of a non-negative integer-valued number; "" for 0.
std::string IntegerDigits(long double value) {
  if (value < 1) return "";
  // Whole numbers that fit 64 bits (every amount) are converted exactly
  // without going through printf's floating-point path.
  if (value < 18446744073709551616.0L && value == std::floor(value)) {
    char text[24];
    const auto result =
        std::to_chars(text, text + sizeof text, static_cast<uint64_t>(value));
    return std::string(text, result.ptr);
  }
  int length = std::snprintf(nullptr, 0, "%.0Lf", value);
  if (length <= 0) return "";
  std::string digits(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(digits.data(), digits.size(), "%.0Lf", value);
  digits.resize(static_cast<size_t>(length));
  return digits;
}

// What a "," left of the number's first digit becomes: the fill of the
// digit position to its right, or the thousands character after a "9".
char SeparatorFill(std::string_view mask, size_t i, char thousands) {
  char right = i + 1 < mask.size() ? mask[i + 1] : ' ';
  if (right == '*') return '*';
  if (right == '9') return thousands;
  return ' ';
}

// The number written plainly, for values the mask cannot hold: right-aligned
// in the mask's width and cut on the right, or all "!" when even its integer
// digits do not fit.
std::string PlainNumber(const std::string& digits, size_t decimals,
                        bool negative, size_t width, char decimal_char) {
  std::string integer = digits.size() > decimals
                            ? digits.substr(0, digits.size() - decimals)
                            : "0";
  if (integer.size() + (negative ? 1 : 0) > width) {
    return std::string(width, '!');
  }
  std::string plain = (negative ? "-" : "") + integer;
  if (decimals > 0) {
    std::string fraction =
        digits.size() > decimals
            ? digits.substr(digits.size() - decimals)
            : std::string(decimals - digits.size(), '0') + digits;
    plain += decimal_char + fraction;
  }
  if (plain.size() < width)
    return std::string(width - plain.size(), ' ') + plain;
  return plain.substr(0, width);
}

// Keeps the rightmost `width` characters.
std::string Rightmost(const std::string& text, size_t width) {
  return text.size() > width ? text.substr(text.size() - width) : text;
}

}  // namespace

double NumericValue(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  std::string number;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
    number += text[pos++];
  }
  auto take_digits = [&] {
    size_t taken = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      number += text[pos++];
      ++taken;
    }
    return taken;
  };
  size_t digits = take_digits();
  if (pos < text.size() && text[pos] == '.') {
    number += text[pos++];
    digits += take_digits();
  }
  if (digits == 0) return 0;
  return std::strtod(number.c_str(), nullptr);
}

long double RoundHalfEven(long double value) {
  if (!std::isfinite(value)) return value;
  long double floor = std::floor(value);
  long double fraction = value - floor;
  if (fraction > 0.5L) return floor + 1;
  if (fraction < 0.5L) return floor;
  return std::fmod(floor, 2.0L) == 0 ? floor : floor + 1;
}

int16_t ToInt16(long double value) {
  if (std::isnan(value)) return 0;
  long double rounded = RoundHalfEven(value);
  if (rounded < INT16_MIN) return INT16_MIN;
  if (rounded > INT16_MAX) return INT16_MAX;
  return static_cast<int16_t>(rounded);
}

std::string FormatByMask(std::string_view mask, double value) {
  const NumberSettings& settings = Settings();
  const size_t width = mask.size();
  if (!std::isfinite(value)) return std::string(width, '!');

  // Decimals: the digit positions right after the first ".". Every digit or
  // sign position of the decimal area takes one digit slot.
  const size_t dot = mask.find('.');
  size_t decimals = 0;
  size_t decimal_slots = 0;
  if (dot != std::string_view::npos) {
    while (dot + 1 + decimals < width &&
           IsDigitPosition(mask[dot + 1 + decimals])) {
      ++decimals;
    }
    for (size_t i = dot + 1; i < width; ++i) {
      if (IsDigitPosition(mask[i]) || IsSignPosition(mask[i])) ++decimal_slots;
    }
  }

  long double scaled = 0;
  if (value != 0) {
    scaled = RoundHalfEven(std::fabs(static_cast<long double>(value)) *
                           std::pow(10.0L, static_cast<long double>(decimals)));
    if (!std::isfinite(scaled)) return std::string(width, '!');
  }
  const std::string digits = IntegerDigits(scaled);
  // A value that rounds to zero shows no sign.
  const bool negative = value < 0 && !digits.empty();
  const bool mask_has_sign = mask.find_first_of("-+") != std::string_view::npos;
  auto sign_of = [&](char position) {
    return negative ? '-' : (position == '+' ? '+' : ' ');
  };

  // One sweep from the right: while digits remain they are placed (the
  // number's units digit meets the mask's units position); the positions
  // left of the number get their fill.
  std::string out(mask);
  int64_t next = static_cast<int64_t>(digits.size()) - 1 -
                 static_cast<int64_t>(decimals) +
                 static_cast<int64_t>(decimal_slots);
  bool decimals_zero = true;   // decimal digits so far (from the right) are 0
  bool decimals_blank = true;  // decimal positions so far came out blank
  bool minus_placed = false;
  for (size_t i = width; i-- > 0;) {
    const char m = mask[i];
    const bool in_decimals = dot != std::string_view::npos && i > dot;
    char& o = out[i];
    if (next >= 0) {
      if (IsDigitPosition(m)) {
        char d =
            next < static_cast<int64_t>(digits.size()) ? digits[next] : '0';
        --next;
        bool z = m == 'Z' || m == 'z';
        o = (z && in_decimals && d == '0' && decimals_zero) ? ' ' : d;
        if (in_decimals && d != '0') decimals_zero = false;
      } else if (IsSignPosition(m)) {
        o = sign_of(m);
        if (in_decimals) --next;
      } else if (m == '.') {
        o = decimals_blank ? ' ' : settings.decimal;
      } else if (m == ',') {
        o = settings.thousands;
      }
    } else {
      if (IsDigitPosition(m)) {
        if (in_decimals) {
          o = ((m == 'Z' || m == 'z') && digits.empty()) ? ' ' : '0';
        } else {
          o = m == '9' ? '0' : (m == '*' ? '*' : ' ');
        }
      } else if (IsSignPosition(m)) {
        o = sign_of(m);
      } else if (m == '.') {
        o = decimals_blank ? ' ' : settings.decimal;
      } else if (m == ',') {
        o = SeparatorFill(mask, i, settings.thousands);
      }
      // Floating minus: the position nearest the number that can take it.
      if (negative && !mask_has_sign && !minus_placed && !in_decimals &&
          (IsDigitPosition(m) || m == ',')) {
        o = '-';
        minus_placed = true;
      }
    }
    if (in_decimals && IsDigitPosition(m) && o != ' ') decimals_blank = false;
  }

  if (next >= 0 || (negative && !mask_has_sign && !minus_placed)) {
    return PlainNumber(digits, decimals, negative, width, settings.decimal);
  }
  return out;
}

namespace {

// The mask that shows an amount of `pattern` in `currency`: the pattern's
// fill, thousands, sign and decimals, with the decimals the currency needs.
std::string AmountMask(std::string_view pattern, char currency) {
  const size_t width = pattern.size();
  char fill = 'Z';
  bool thousands = false;
  bool show_zero = false;
  bool in_decimals = false;
  size_t decimal_chars = 0;
  char sign = 0;
  bool leading_sign = false;
  for (size_t i = 0; i < width; ++i) {
    char c = pattern[i];
    if (c == 'Z' || c == 'z') {
      fill = 'Z';
    } else if (c == '*') {
      fill = '*';
    } else if (c == ',') {
      thousands = true;
    } else if (c == '.') {
      in_decimals = true;
      ++decimal_chars;
    } else if (c == '9') {
      if (in_decimals) {
        ++decimal_chars;
      } else {
        show_zero = true;
      }
    } else if (IsSignPosition(c)) {
      sign = c;
      leading_sign = i == 0;
    }
  }

  std::string mask(width, fill);
  if (show_zero) mask = Rightmost(mask + "9", width);
  if (thousands) {
    for (int64_t p = static_cast<int64_t>(width) - 3; p >= 1; p -= 4) {
      mask.insert(static_cast<size_t>(p), ",");
      mask = Rightmost(mask, width);
    }
  }

  if (currency != 'P') decimal_chars += decimal_chars == 0 ? 3 : 2;
  if (decimal_chars > 0) {
    mask += "." + std::string(decimal_chars - 1, show_zero ? '9' : 'Z');
    mask = Rightmost(mask, width);
  }
  if (sign != 0 && width > 0) {
    if (leading_sign) {
      mask[0] = sign;
    } else {
      mask = Rightmost(mask + sign, width);
    }
  }
  return mask;
}

}  // namespace

std::string FormatAmount(std::string_view pattern, double amount) {
  return FormatAmountIn(pattern, amount, CurrentCurrency());
}

std::string FormatAmountIn(std::string_view pattern, double amount,
                           char currency) {
  // A report formats thousands of amounts with a handful of patterns: the
  // last mask made is kept.
  struct LastMask {
    std::string pattern;
    char currency = 0;
    std::string mask;
  };
  static LastMask last;
  if (last.currency != currency || last.pattern != pattern) {
    last.mask = AmountMask(pattern, currency);
    last.pattern.assign(pattern);
    last.currency = currency;
  }
  return FormatByMask(last.mask, AmountInCurrency(amount, currency));
}

double AmountInCurrency(double amount, char currency) {
  long double value = static_cast<long double>(amount) / 100;
  if (currency == 'P') value *= static_cast<long double>(kPesetasPerEuro);
  return static_cast<double>(value);
}

int64_t WholePesetas(int64_t amount) {
  const double value = AmountInCurrency(static_cast<double>(amount), 'P');
  const long double rounded =
      RoundHalfEven(std::fabs(static_cast<long double>(value)));
  const auto whole = static_cast<int64_t>(
      std::min(rounded, static_cast<long double>(INT64_MAX)));
  return value < 0 ? -whole : whole;
}

bool IsInvalidNumberEntry(std::string_view text, std::string_view mask) {
  const bool point_allowed = mask.find('.') != std::string_view::npos;
  bool sign_allowed = mask.find_first_of("-+") != std::string_view::npos;
  bool point_seen = false;
  for (char c : text) {
    if (c == ' ') continue;
    if (c >= '0' && c <= '9') {
      sign_allowed = false;
    } else if (c == '-' || c == '+') {
      if (!sign_allowed) return true;
      sign_allowed = false;
    } else if (c == '.') {
      if (!point_allowed || point_seen) return true;
      point_seen = true;
      sign_allowed = false;
    } else {
      return true;
    }
  }
  return false;
}

void SelectCurrency(std::string_view specification) {
  CurrencyState& state = Currencies();
  const char first = specification.empty() ? ' ' : specification[0];
  const size_t comma = specification.find(',');
  if (comma != std::string_view::npos) {
    std::string after = TrimLeftBlanks(specification.substr(comma + 1));
    if (first == 'A' || first == 'a') {
      state.primary = after.empty() ? 'E' : CurrencyLetter(after[0]);
      state.current = state.primary;
    } else {
      state.secondary =
          after.empty() ? PrimaryOrEuro() : CurrencyLetter(after[0]);
    }
    return;
  }
  if (first == 'P' || first == 'p') {
    state.current = state.secondary != 0 ? state.secondary : PrimaryOrEuro();
  } else {
    state.current = PrimaryOrEuro();
  }
}

char CurrencyFor(std::string_view target) {
  std::string trimmed = TrimLeftBlanks(target);
  if (!trimmed.empty() && (trimmed[0] == 'A' || trimmed[0] == 'a')) {
    return PrimaryOrEuro();
  }
  return Currencies().secondary != 0 ? Currencies().secondary : PrimaryOrEuro();
}

char CurrentCurrency() {
  return Currencies().current != 0 ? Currencies().current : PrimaryOrEuro();
}

void TEST_ResetNumberState() {
  LoadedSettings().reset();
  Currencies() = CurrencyState{};
}

}  // namespace tarnevos
