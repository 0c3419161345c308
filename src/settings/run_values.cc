#include "settings/run_values.h"

#include <cfloat>
#include <cmath>

#include "settings/ini_reader.h"
#include "util/numbers.h"

namespace tarnevos {
namespace {

RunValues& State() {
  static RunValues values;
  return values;
}

// A percentage read from the settings, kept within what a float holds.
float RateValue(std::string_view text) {
  double value = NumericValue(text);
  if (std::isnan(value)) return 0;
  if (value > FLT_MAX) return FLT_MAX;
  if (value < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(value);
}

}  // namespace

const RunValues& Run() { return State(); }
RunValues& MutableRun() { return State(); }

void LoadAdministratorLines() {
  const std::string file = SystemSettingsFile();
  for (size_t line = 1; line < State().administrator_lines.size(); ++line) {
    State().administrator_lines[line] =
        ReadSetting(file, "Administrador", "Linia" + std::to_string(line));
  }
}

void LoadFeeSettings() {
  const std::string file = SystemSettingsFile();
  RunValues& run = State();
  run.letterhead_mode = ReadSetting(file, "Rebut", "Membret");
  run.fee_vat_rate[0] = RateValue(ReadSetting(file, "Iva0", "Honoraris"));
  run.fee_vat_rate[1] = RateValue(ReadSetting(file, "Iva1", "Honoraris"));
  run.fee_withholding_rate[0] =
      RateValue(ReadSetting(file, "Ret0", "Honoraris"));
  run.fee_withholding_rate[1] =
      RateValue(ReadSetting(file, "Ret1", "Honoraris"));
}

void TEST_ResetRun() { State() = RunValues{}; }

}  // namespace tarnevos
