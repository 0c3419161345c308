// KELCALC.TMP of any content: whatever the reader takes from it lies in the
// calculator's ranges, what it takes is written back and read again
// unchanged, and the result text of any value read is short and finite.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "console/calculator.h"

namespace {

using namespace tarnevos;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

bool ValueInRange(double value) {
  return std::isfinite(value) && std::fabs(value) < kCalculatorLimit;
}

bool KnownText(const std::string& text, std::string_view allowed) {
  return text.empty() ||
         (text.size() == 1 && allowed.find(text[0]) != std::string_view::npos);
}

void CheckResultText(double value, int decimals) {
  const std::string text = CalculatorResultText(value, decimals);
  Check(!text.empty() && text.size() <= 40, "result text length");
  for (char c : text) {
    Check((c >= '0' && c <= '9') || c == '.' || c == '-', "result text");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view contents(reinterpret_cast<const char*>(data), size);
  const CalculatorState state = ReadCalculatorFile(contents);

  Check(state.left_column >= 1 && state.left_column <= 55, "left column");
  Check(state.first_tape_line >= 1 && state.first_tape_line <= 23,
        "first tape line");
  Check(ValueInRange(state.entry) && ValueInRange(state.accumulator),
        "registers");
  Check(state.decimals >= 0 && state.decimals <= kCalculatorMaxDecimals,
        "decimals");
  Check(state.decimal_mode || state.decimals == 0, "decimals without point");
  Check(KnownText(state.last_key, "+-*/=%RC"), "last key");
  Check(KnownText(state.pending, "+-*/"), "pending operator");
  for (const CalculatorTapeLine& line : state.tape) {
    Check(ValueInRange(line.value), "tape value");
    Check(line.decimals >= 0 && line.decimals <= kCalculatorMaxDecimals,
          "tape decimals");
    Check(line.decimal_mode || line.decimals == 0, "tape decimals point");
    Check(static_cast<unsigned char>(line.op) >= 32 && line.op != '"',
          "tape operator");
    CheckResultText(line.value, line.decimals);
  }
  CheckResultText(state.entry, state.decimals);
  CheckResultText(state.accumulator, state.decimals);

  const std::string written = WriteCalculatorFile(state);
  Check(WriteCalculatorFile(ReadCalculatorFile(written)) == written,
        "written file reads back differently");
  return 0;
}
