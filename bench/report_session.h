#ifndef TARNEVOS_BENCH_REPORT_SESSION_H_
#define TARNEVOS_BENCH_REPORT_SESSION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "installation.h"
#include "platform/system/system.h"
#include "print/print_file.h"
#include "report/report_form.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

// The session the report benchmarks run in, as the driver leaves it before
// the report: Catalan, the print file in the benchmark's session folder,
// text output; the print program is never started, so that only the
// report's own work is measured.
namespace tarnevos::bench {

inline void PrepareBenchSession(const ReportInstallation& installation) {
  SessionSettings& session = TEST_MutableSession();
  session.root_dir = installation.root;
  session.tmp_dir = installation.session;
  session.exe_dir = installation.session;
  session.language = "CAT";
  session.output_target = "TXT:report.txt";
  SelectCurrency("a,E");
  RunValues& run = MutableRun();
  run.program_id = "TARNEVOS";
  run.administrator_lines = {
      "", "FINQUES BENCH", "C. MAJOR 1", "08001 BARCELONA", "", "",
      "", "ES12345678Z"};
  platform::TEST_SetProgramRunner(
      [](std::string_view, const std::vector<std::string>&) {
        return platform::ProgramResult{true, 0, ""};
      });
}

// The form's answers and the installation's settings of a typical office:
// letterhead, a fee with 21 % VAT and 15 % withholding, every community up
// to 2026-12-31 in `copies` copies.
inline void PrepareReportParameters(int16_t copies) {
  RunValues& run = MutableRun();
  run.letterhead_mode = "S";
  run.fee_vat_rate = {0, 21};
  run.fee_withholding_rate = {0, 15};
  ReportParameters& parameters = Parameters();
  parameters.cutoff_date = PackDigits("20261231");
  parameters.range_from = PackDottedCode("1.0");
  parameters.range_to = PackDottedCode("9999.9999");
  parameters.copies = copies;
}

}  // namespace tarnevos::bench

#endif  // TARNEVOS_BENCH_REPORT_SESSION_H_
