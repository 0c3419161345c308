#include "console/calculator.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "console/keyboard.h"
#include "console/windows.h"
#include "platform/console/console.h"
#include "platform/system/files.h"
#include "settings/session.h"
#include "util/numbers.h"

namespace tarnevos {
namespace {

constexpr char kFileName[] = "KELCALC.TMP";
// A valid file is about a kilobyte; more than this is not read.
constexpr size_t kMaxFileBytes = 64 * 1024;

constexpr int kWindowWidth = 26;
constexpr int16_t kMaxLeftColumn = 80 - kWindowWidth + 1;  // 55
constexpr int16_t kEmptyTape = kCalculatorTapeLines + 1;   // 23
constexpr int kEntryRow = 24;
constexpr int kBottomRow = 25;
constexpr int kMaxDigits = 15;  // digits an entry can be typed with

// Box characters (CP850).
constexpr char kVertical = '\xB3';     // │
constexpr char kHorizontal = '\xC4';   // ─
constexpr char kTopLeft = '\xDA';      // ┌
constexpr char kTopRight = '\xBF';     // ┐
constexpr char kBottomLeft = '\xC0';   // └
constexpr char kBottomRight = '\xD9';  // ┘
constexpr char kTeeLeft = '\xC3';      // ├
constexpr char kTeeRight = '\xB4';     // ┤

constexpr char kDigitMask[] = "Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9";
constexpr size_t kValueWidth = 22;

// ---------------------------------------------------------------------------
// Numbers

long double PowerOfTen(int exponent) {
  return std::pow(10.0L, static_cast<long double>(exponent));
}

// Digits of the integer part of |value|; 0 below 1.
int IntegerDigits(double value) {
  double magnitude = std::trunc(std::fabs(value));
  int digits = 0;
  while (magnitude >= 1 && digits < 400) {
    magnitude = std::trunc(magnitude / 10);
    ++digits;
  }
  return digits;
}

bool InRange(double value) {
  return std::isfinite(value) && std::fabs(value) < kCalculatorLimit;
}

// |value| scaled by 10^decimals and rounded: the digits the display shows.
int64_t ScaledDigits(double value, int decimals) {
  const long double scaled = RoundHalfEven(
      std::fabs(static_cast<long double>(value)) * PowerOfTen(decimals));
  constexpr long double kMax = 999999999999999999.0L;
  if (!std::isfinite(scaled) || scaled > kMax) {
    return static_cast<int64_t>(kMax);
  }
  return static_cast<int64_t>(scaled);
}

double FromScaled(int64_t digits, int decimals, bool negative) {
  const double value = static_cast<double>(static_cast<long double>(digits) /
                                           PowerOfTen(decimals));
  return negative ? -value : value;
}

// Integer division rounded to the nearest, halves to the even quotient.
int64_t DivideHalfEven(int64_t dividend, int64_t divisor) {
  int64_t quotient = dividend / divisor;
  const int64_t twice_rest = 2 * (dividend % divisor);
  if (twice_rest > divisor || (twice_rest == divisor && quotient % 2 != 0)) {
    ++quotient;
  }
  return quotient;
}

// The mask that shows a value in 22 characters with its decimals.
std::string ValueMask(bool decimal_mode, int decimals) {
  std::string digits = kDigitMask;
  if (decimal_mode) {
    digits += '.';
    digits.append(static_cast<size_t>(std::clamp(decimals, 0, 15)), '9');
  }
  return "-" + digits.substr(digits.size() - (kValueWidth - 1));
}

std::string FormatValue(double value, bool decimal_mode, int decimals) {
  return FormatByMask(ValueMask(decimal_mode, decimals), value);
}

// ---------------------------------------------------------------------------
// The file

// Items of one record: commas separate, double quotes enclose texts.
struct Item {
  std::string text;
  bool quoted = false;
};

std::vector<Item> SplitRecord(std::string_view line) {
  std::vector<Item> items;
  size_t at = 0;
  for (;;) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    Item item;
    if (at < line.size() && line[at] == '"') {
      const size_t close = line.find('"', at + 1);
      const size_t end = close == std::string_view::npos ? line.size() : close;
      item.text = line.substr(at + 1, end - at - 1);
      item.quoted = true;
      at = line.find(',', end);
    } else {
      const size_t comma = line.find(',', at);
      const size_t end = comma == std::string_view::npos ? line.size() : comma;
      std::string_view text = line.substr(at, end - at);
      while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
      }
      item.text = text;
      at = comma;
    }
    items.push_back(std::move(item));
    if (at == std::string_view::npos || at >= line.size()) break;
    ++at;  // past the comma
  }
  return items;
}

std::vector<std::string_view> SplitLines(std::string_view contents) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < contents.size(); ++i) {
    if (contents[i] != '\n' && contents[i] != '\r') continue;
    lines.push_back(contents.substr(start, i - start));
    if (contents[i] == '\r' && i + 1 < contents.size() &&
        contents[i + 1] == '\n') {
      ++i;
    }
    start = i + 1;
  }
  if (start < contents.size()) lines.push_back(contents.substr(start));
  return lines;
}

// A number as written by this program or the suite's BASIC programs
// (".05", "-1", "1.5D+03"); false for anything else.
bool ParseNumber(const Item& item, double& value) {
  if (item.quoted) return false;
  std::string text = item.text;
  if (!text.empty() && text.front() == '+') text.erase(0, 1);
  if (text.empty() || text.size() > 400) return false;
  for (char& c : text) {
    if (c == 'D' || c == 'd') c = 'E';
  }
  double parsed = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, parsed);
  if (error != std::errc() || stop != end || !std::isfinite(parsed)) {
    return false;
  }
  value = parsed;
  return true;
}

const Item* ItemAt(const std::vector<Item>& items, size_t index) {
  return index < items.size() ? &items[index] : nullptr;
}

void ReadWhole(const Item* item, int16_t low, int16_t high, int16_t& out) {
  double value = 0;
  if (item == nullptr || !ParseNumber(*item, value)) return;
  if (value != std::trunc(value) || value < low || value > high) return;
  out = static_cast<int16_t>(value);
}

void ReadValue(const Item* item, double& out) {
  double value = 0;
  if (item == nullptr || !ParseNumber(*item, value) || !InRange(value)) return;
  out = value;
}

void ReadFlag(const Item* item, bool& out) {
  double value = 0;
  if (item == nullptr || !ParseNumber(*item, value)) return;
  out = value != 0;
}

void ReadText(const Item* item, std::string_view allowed, std::string& out) {
  if (item == nullptr || item->text.size() > 1) return;
  if (item->text.empty() ||
      allowed.find(item->text[0]) != std::string_view::npos) {
    out = item->text;
  }
}

void ReadOperator(const Item* item, char& out) {
  if (item == nullptr || item->text.size() > 1) return;
  if (item->text.empty()) {
    out = ' ';
  } else if (static_cast<unsigned char>(item->text[0]) >= 32 &&
             item->text[0] != '"') {
    out = item->text[0];
  }
}

std::string NumberText(double value) {
  char buffer[512];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::fixed);
  if (error != std::errc()) return "0";
  return std::string(buffer, end);
}

std::string FlagText(bool flag) { return flag ? "-1" : "0"; }

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c != '"' && c != '\r' && c != '\n') out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string CalculatorPath() {
  return Session().terminal_dir + std::string(kFileName);
}

// ---------------------------------------------------------------------------
// Keys and operations

enum class Outcome {
  kEntryChanged,  // only the entry line changes
  kTapeChanged,
  kTapeEmptied,
  kMoveLeft,
  kMoveRight,
  kFinish,
  kCancel,
};

class Engine {
 public:
  explicit Engine(CalculatorState& state) : s_(state) {}

  Outcome Key(KeyCode key) {
    if (key > 255) {
      switch (key) {
        case key::kLeft:
        case key::kCtrlLeft:
          return Outcome::kMoveLeft;
        case key::kRight:
        case key::kCtrlRight:
          return Outcome::kMoveRight;
        case key::kAltF:
          return Outcome::kFinish;
        default:
          return Outcome::kEntryChanged;
      }
    }
    char c = static_cast<char>(key);
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c >= '0' && c <= '9') {
      Digit(c - '0');
      return Outcome::kEntryChanged;
    }
    switch (c) {
      case '.':
        Point();
        return Outcome::kEntryChanged;
      case key::kBackspace:
        Backspace();
        return Outcome::kEntryChanged;
      case 'T':
        s_.entry = -s_.entry;
        return Outcome::kEntryChanged;
      case '+':
      case '-':
      case '*':
      case '/':
      case '%':
      case 'R':
      case 'C':
        return Operation(c);
      case '=':
      case key::kEnter:
        if (!s_.entry_started) return Outcome::kEntryChanged;
        return Operation('=');
      case 'F':
        return Outcome::kFinish;
      case key::kEsc:
        return Outcome::kCancel;
      default:
        return Outcome::kEntryChanged;
    }
  }

  // The entry takes a computed value, with as many decimals as it needs
  // (trailing zeros dropped, at most fifteen significant digits).
  void SetComputedEntry(double value) {
    const int decimals =
        std::max(0, kCalculatorMaxDecimals - IntegerDigits(value));
    int64_t digits = ScaledDigits(value, decimals);
    int kept = decimals;
    while (kept > 0 && digits % 10 == 0) {
      digits /= 10;
      --kept;
    }
    s_.entry = FromScaled(digits, kept, value < 0);
    s_.decimals = static_cast<int16_t>(kept);
    s_.decimal_mode = kept > 0;
  }

 private:
  void StartEntryIfNeeded() {
    if (s_.entry_started) return;
    s_.entry = 0;
    s_.decimal_mode = false;
    s_.decimals = 0;
  }

  void Digit(int digit) {
    StartEntryIfNeeded();
    const bool negative = std::signbit(s_.entry);
    const int decimals = s_.decimal_mode ? s_.decimals + 1 : 0;
    const int digits_after =
        IntegerDigits(s_.entry) + (s_.decimal_mode ? decimals : 1);
    if (digits_after > kMaxDigits || decimals > kCalculatorMaxDecimals) {
      return;  // the entry is as long as it can be
    }
    const int64_t digits =
        ScaledDigits(s_.entry, s_.decimal_mode ? s_.decimals : 0) * 10 + digit;
    s_.entry = FromScaled(digits, decimals, negative);
    s_.decimals = static_cast<int16_t>(decimals);
    s_.entry_started = true;
  }

  void Point() {
    StartEntryIfNeeded();
    if (!s_.decimal_mode) {
      s_.decimal_mode = true;
      s_.decimals = 0;
    }
    s_.entry_started = true;
  }

  // Drops the last digit typed: an integer loses its units digit (towards
  // zero, also for a negative entry), a decimal entry its last decimal.
  void Backspace() {
    const bool negative = std::signbit(s_.entry);
    if (!s_.decimal_mode) {
      s_.entry = std::trunc(s_.entry / 10);
    } else if (s_.decimals == 0) {
      s_.decimal_mode = false;
    } else {
      const int64_t digits = ScaledDigits(s_.entry, s_.decimals) / 10;
      s_.decimals = static_cast<int16_t>(s_.decimals - 1);
      s_.entry = FromScaled(digits, s_.decimals, negative);
    }
    s_.entry_started = s_.entry != 0;
  }

  void WriteTape(double value, bool decimal_mode, int decimals, char op) {
    std::move(s_.tape.begin() + 1, s_.tape.end(), s_.tape.begin());
    s_.tape.back() = {value, decimal_mode, static_cast<int16_t>(decimals), op};
    s_.first_tape_line =
        static_cast<int16_t>(std::max(1, s_.first_tape_line - 1));
  }

  void WriteEntryToTape(char op) {
    WriteTape(s_.entry, s_.decimal_mode, s_.decimals, op);
  }

  // Division by zero or a result beyond the display: the entry's tape line
  // is marked "E" and everything starts again from 0.
  Outcome Error(bool entry_on_tape = false) {
    if (entry_on_tape) {
      s_.tape.back().op = 'E';
    } else {
      WriteEntryToTape('E');
    }
    s_.accumulator = 0;
    s_.entry = 0;
    s_.decimal_mode = false;
    s_.decimals = 0;
    s_.pending.clear();
    s_.entry_started = false;
    s_.cleared = false;
    return Outcome::kTapeChanged;
  }

  Outcome Operation(char key) {
    s_.last_key = std::string(1, key);
    switch (key) {
      case 'C':
        return Clear();
      case 'R':
        return Round();
      case '%':
        return Percentage();
      default:
        return Arithmetic(key);
    }
  }

  Outcome Clear() {
    if (s_.entry_started) {
      // The entry is cancelled; the calculation goes on from the
      // accumulator, shown with its own decimals.
      SetComputedEntry(s_.accumulator);
      s_.entry_started = false;
      return Outcome::kEntryChanged;
    }
    if (!s_.cleared) {
      s_.entry = 0;
      s_.accumulator = 0;
      s_.decimal_mode = false;
      s_.decimals = 0;
      s_.last_key.clear();
      s_.cleared = true;
      return Outcome::kEntryChanged;
    }
    s_.tape.fill(CalculatorTapeLine{});
    s_.first_tape_line = kEmptyTape;
    return Outcome::kTapeEmptied;
  }

  // Two decimals, an exact half (of the decimal value as shown) going to
  // the even hundredth.
  Outcome Round() {
    const bool negative = std::signbit(s_.entry);
    const int decimals = s_.decimal_mode ? s_.decimals : 0;
    int64_t digits = ScaledDigits(s_.entry, decimals);
    if (decimals > 2) {
      digits = DivideHalfEven(digits,
                              static_cast<int64_t>(PowerOfTen(decimals - 2)));
    } else {
      digits *= static_cast<int64_t>(PowerOfTen(2 - decimals));
    }
    s_.entry = FromScaled(digits, 2, negative);
    s_.accumulator = s_.entry;
    s_.decimal_mode = true;
    s_.decimals = 2;
    WriteEntryToTape('R');
    return Outcome::kTapeChanged;
  }

  Outcome Percentage() {
    WriteEntryToTape('%');
    const double value = (s_.pending == "+" || s_.pending == "-")
                             ? s_.accumulator / 100 * s_.entry
                             : s_.entry / 100;
    if (!InRange(value)) return Error(true);
    SetComputedEntry(value);
    return Outcome::kTapeChanged;
  }

  Outcome Arithmetic(char key) {
    double result = s_.entry;
    if (s_.pending == "+") {
      result = s_.accumulator + s_.entry;
    } else if (s_.pending == "-") {
      result = s_.accumulator - s_.entry;
    } else if (s_.pending == "*") {
      result = s_.accumulator * s_.entry;
    } else if (s_.pending == "/") {
      if (s_.entry == 0) return Error();
      result = s_.accumulator / s_.entry;
    }
    if (!InRange(result)) return Error();
    s_.accumulator = result;
    WriteEntryToTape(key);
    SetComputedEntry(result);
    if (key == '=') {
      WriteEntryToTape(' ');
      s_.pending.clear();
    } else {
      s_.pending = std::string(1, key);
    }
    s_.entry_started = false;
    s_.cleared = false;
    return Outcome::kTapeChanged;
  }

  CalculatorState& s_;
};

// ---------------------------------------------------------------------------
// The screen

class CalculatorScreen {
 public:
  explicit CalculatorScreen(CalculatorState& state) : s_(state) {}

  void Open() {
    PushWindow(1, s_.left_column, kBottomRow,
               static_cast<int16_t>(s_.left_column + kWindowWidth - 1));
    DrawAll();
  }
  void Close() { PopWindow(); }

  void Reopen() {
    Close();
    Open();
  }

  void DrawAll() {
    DrawTape();
    DrawEntry();
    DrawBorder(kBottomRow, kBottomLeft, kHorizontal, kBottomRight);
  }

  void DrawTape() {
    const int first = s_.first_tape_line;
    const bool has_lines = first <= kCalculatorTapeLines;
    // With every line shown there is no row left above the tape for its
    // top border: the oldest line is the window's first row.
    if (has_lines && first >= 2) {
      DrawBorder(first - 1, kTopLeft, kHorizontal, kTopRight);
    }
    for (int i = std::max(first, 1); i <= kCalculatorTapeLines; ++i) {
      const CalculatorTapeLine& line = s_.tape[static_cast<size_t>(i - 1)];
      std::string text(1, kVertical);
      text += FormatValue(line.value, line.decimal_mode, line.decimals);
      text += ' ';
      text += line.op;
      text += kVertical;
      WriteRow(i, text);
    }
    if (has_lines) {
      DrawBorder(kCalculatorTapeLines + 1, kTeeLeft, kHorizontal, kTeeRight);
    } else {
      DrawBorder(kCalculatorTapeLines + 1, kTopLeft, kHorizontal, kTopRight);
    }
  }

  void DrawEntry() {
    std::string text(1, kVertical);
    text += FormatValue(s_.entry, s_.decimal_mode, s_.decimals);
    text += "  ";
    text += kVertical;
    WriteRow(kEntryRow, text);
  }

 private:
  // Screen row `row` of the window, from its left column.
  static void WriteRow(int row, std::string_view text) {
    LocateInWindow(static_cast<int16_t>(row - 1), 0);
    WriteText(text);
  }

  static void DrawBorder(int row, char left, char middle, char right) {
    std::string text(1, left);
    text.append(kWindowWidth - 2, middle);
    text.push_back(right);
    WriteRow(row, text);
  }

  CalculatorState& s_;
};

std::string LoadFile() {
  const std::string path = CalculatorPath();
  std::string contents;
  switch (platform::ReadWholeFile(path, kMaxFileBytes, contents)) {
    case platform::ReadStatus::kOk:
    case platform::ReadStatus::kTooLarge:
      return contents;
    case platform::ReadStatus::kCannotOpen:
      platform::OpenFile(path, platform::OpenMode::kCreateNew);  // empty
      return "";
    case platform::ReadStatus::kReadError:
      break;
  }
  return "";
}

void SaveFile(const CalculatorState& state) {
  platform::Files().WriteFileAtomically(CalculatorPath(),
                                        WriteCalculatorFile(state));
}

}  // namespace

CalculatorState ReadCalculatorFile(std::string_view contents) {
  CalculatorState state;
  const std::vector<std::string_view> lines = SplitLines(contents);
  auto record = [&lines](size_t index) {
    return index < lines.size() ? SplitRecord(lines[index])
                                : std::vector<Item>();
  };

  const std::vector<Item> first = record(0);
  ReadWhole(ItemAt(first, 0), 1, kMaxLeftColumn, state.left_column);
  ReadWhole(ItemAt(first, 1), 1, kEmptyTape, state.first_tape_line);
  ReadValue(ItemAt(first, 2), state.entry);
  ReadValue(ItemAt(first, 3), state.accumulator);

  const std::vector<Item> second = record(1);
  ReadFlag(ItemAt(second, 0), state.cleared);
  ReadFlag(ItemAt(second, 1), state.entry_started);
  ReadFlag(ItemAt(second, 2), state.decimal_mode);
  ReadWhole(ItemAt(second, 3), 0, kCalculatorMaxDecimals, state.decimals);
  if (!state.decimal_mode) state.decimals = 0;

  const std::vector<Item> third = record(2);
  ReadText(ItemAt(third, 0), "+-*/=%RC", state.last_key);
  ReadText(ItemAt(third, 1), "+-*/", state.pending);

  for (size_t i = 0; i < state.tape.size(); ++i) {
    const std::vector<Item> items = record(3 + i);
    CalculatorTapeLine& line = state.tape[i];
    ReadValue(ItemAt(items, 0), line.value);
    ReadFlag(ItemAt(items, 1), line.decimal_mode);
    ReadWhole(ItemAt(items, 2), 0, kCalculatorMaxDecimals, line.decimals);
    if (!line.decimal_mode) line.decimals = 0;
    ReadOperator(ItemAt(items, 3), line.op);
  }
  return state;
}

std::string WriteCalculatorFile(const CalculatorState& state) {
  constexpr char kLineEnd[] = "\r\n";
  std::string out;
  out += std::to_string(state.left_column) + "," +
         std::to_string(state.first_tape_line) + "," + NumberText(state.entry) +
         "," + NumberText(state.accumulator) + kLineEnd;
  out += FlagText(state.cleared) + "," + FlagText(state.entry_started) + "," +
         FlagText(state.decimal_mode) + "," + std::to_string(state.decimals) +
         kLineEnd;
  out += Quoted(state.last_key) + "," + Quoted(state.pending) + kLineEnd;
  for (const CalculatorTapeLine& line : state.tape) {
    out += NumberText(line.value) + "," + FlagText(line.decimal_mode) + "," +
           std::to_string(line.decimals) + "," +
           Quoted(std::string_view(&line.op, 1)) + kLineEnd;
  }
  return out;
}

std::string CalculatorResultText(double value, int decimals) {
  if (!std::isfinite(value)) value = 0;
  const int places = std::clamp(decimals, 2, kCalculatorMaxDecimals);
  const int64_t digits = ScaledDigits(value, places);
  std::string text = std::to_string(digits);
  if (places > 2) {
    const size_t fraction = static_cast<size_t>(places - 2);
    if (text.size() <= fraction)
      text.insert(0, fraction + 1 - text.size(), '0');
    text.insert(text.size() - fraction, ".");
  }
  if (value < 0 && digits != 0) text.insert(0, "-");
  return text;
}

std::string Calculator() {
  SetAcceptedKeys("+e", "");
  SetColour("+n");
  platform::Console& console = platform::CurrentConsole();
  console.SetCursorVisible(false);

  CalculatorState state = ReadCalculatorFile(LoadFile());
  CalculatorScreen screen(state);
  Engine engine(state);
  screen.Open();

  std::string result;
  for (;;) {
    const Outcome outcome = engine.Key(WaitKey());
    if (outcome == Outcome::kFinish) {
      const double value =
          state.entry_started ? state.entry : state.accumulator;
      result = CalculatorResultText(value, state.decimals);
      break;
    }
    if (outcome == Outcome::kCancel) break;
    switch (outcome) {
      case Outcome::kTapeChanged:
        screen.DrawTape();
        break;
      case Outcome::kTapeEmptied:
        screen.Reopen();
        break;
      case Outcome::kMoveLeft:
        state.left_column = state.left_column <= 1
                                ? kMaxLeftColumn
                                : static_cast<int16_t>(state.left_column - 1);
        screen.Reopen();
        break;
      case Outcome::kMoveRight:
        state.left_column = state.left_column >= kMaxLeftColumn
                                ? 1
                                : static_cast<int16_t>(state.left_column + 1);
        screen.Reopen();
        break;
      default:
        break;
    }
    screen.DrawEntry();
  }

  screen.Close();
  SaveFile(state);
  console.SetCursorVisible(true);
  SetColour("-");
  SetAcceptedKeys("-", "");
  return result;
}

}  // namespace tarnevos
