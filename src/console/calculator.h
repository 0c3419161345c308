#ifndef TARNEVOS_CONSOLE_CALCULATOR_H_
#define TARNEVOS_CONSOLE_CALCULATOR_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The adding-machine calculator of Alt+X: a printed tape of 22 lines above
// an entry line, in a window 26 columns wide over the whole screen height
// that the operator can move sideways. Its whole state is kept between
// openings (and between the suite's programs) in KELCALC.TMP in the
// terminal directory.
namespace tarnevos {

inline constexpr int kCalculatorTapeLines = 22;
// Values the calculator holds stay below this magnitude (the sixteen digit
// positions of its display). A result that would reach it, and a division
// by zero, is an error: the tape line of the entry is marked "E" and the
// calculation starts again from 0.
inline constexpr double kCalculatorLimit = 1e16;
// Decimals are kept to this many places.
inline constexpr int kCalculatorMaxDecimals = 15;

struct CalculatorTapeLine {
  double value = 0;
  bool decimal_mode = false;
  int16_t decimals = 0;
  char op = ' ';  // + - * / = % R, E for an error, blank for a result
};

struct CalculatorState {
  int16_t left_column = 1;       // 1..55
  int16_t first_tape_line = 23;  // oldest line shown, 1..22; 23 = empty
  double entry = 0;
  double accumulator = 0;
  bool cleared = true;  // a further C empties the tape
  bool entry_started = false;
  bool decimal_mode = false;
  int16_t decimals = 0;  // 0..15; 0 whenever decimal_mode is off
  std::string last_key;  // the operation key handled last
  std::string pending;   // "+", "-", "*", "/" or ""
  std::array<CalculatorTapeLine, kCalculatorTapeLines> tape{};  // [21] newest
};

// KELCALC.TMP: a sequential text file, one record per line, items
// separated by commas, texts in double quotes, flags 0 or -1:
//   1  left column, first tape line, entry, accumulator
//   2  cleared, entry started, decimal mode, decimals
//   3  "last key", "pending operator"
//   4..25  the tape, oldest first: value, decimal mode, decimals, "operator"
// Reading never fails: whatever is missing, cannot be read or lies outside
// its range (left column 1..55, first tape line 1..23, decimals 0..15,
// numbers finite and below the limit, known operators) keeps its default;
// lines after the tape are ignored.
CalculatorState ReadCalculatorFile(std::string_view contents);
std::string WriteCalculatorFile(const CalculatorState& state);

// The text F hands back: the value in hundredths, with a "." before the
// digits beyond the hundredths when it has more than two decimals
// (12.5 -> "1250", 0.05 -> "5", 1.2345 -> "123.45"), a leading "-" when
// negative. At most eighteen digits (larger magnitudes are cut to eighteen
// nines); a value that is not finite gives "0".
std::string CalculatorResultText(double value, int decimals);

// Runs the calculator. Returns the result text (F, f or Alt+F), or "" when
// left with Esc. The screen, colour, cursor and accepted keys are as they
// were on return; the state is saved to KELCALC.TMP.
std::string Calculator();

}  // namespace tarnevos

#endif  // TARNEVOS_CONSOLE_CALCULATOR_H_
