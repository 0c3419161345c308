#ifndef TARNEVOS_REPORT_BATCH_H_
#define TARNEVOS_REPORT_BATCH_H_

#include <ostream>
#include <string>
#include <vector>

#include "report/report_form.h"

// The report without the form and without a terminal:
//
//   tarnevos --batch --cutoff DATE [--from C.U] [--to C.U] [--copies N]
//            [--xlsx FILE] [--csv DIR] [--statements DIR]
//
// writes the same print file as the form's report for the same parameters
// and runs the print program, and can also write the computed settlement as
// a workbook and as CSV files, and the owners' statements. Options take "--name
// value" or
// "--name=value". The driver's own options (--root, --session, --output)
// are the driver's: they decide the session before the run.
namespace tarnevos {

// The options as given. Every renderer of the settlement has its output
// member here and is handed the same settlements in RunBatch.
struct BatchOptions {
  std::string cutoff;            // YYYY-MM-DD, or as the form's field takes it
  std::string from = "0.0";      // C.U; a lone C means C.0
  std::string to = "9999.9999";  // C.U; a lone C means C.9999
  std::string copies = "1";      // 0: one copy per unit of each community
  std::string xlsx;              // workbook to write; "" none
  std::string csv;               // folder of CSV files to write; "" none
  std::string statements;        // folder of the owners' statements; "" none
};

// Exit codes of a batch run.
constexpr int kBatchDone = 0;
// Not printed, or a spreadsheet or the statements not written.
constexpr int kBatchFailed = 1;
constexpr int kBatchDataStop = 3;  // a data file could not be opened
constexpr int kBatchUsage = 64;    // wrong options or parameters

// Reads the options that follow the program's name ("--batch" itself is
// skipped). False with `error` for an unknown option, a missing value or a
// missing --cutoff; the values themselves are checked by
// BatchParameters.
bool ParseBatchOptions(const std::vector<std::string>& arguments,
                       BatchOptions& options, std::string& error);

// The report's parameters for the options, checked as the form checks its
// fields: a readable calendar date, numbers of up to four digits for the
// communities and units, a whole number of copies (0 to 32767), and a range
// whose first code does not come after its last. False with `error`.
bool BatchParameters(const BatchOptions& options, ReportParameters& parameters,
                     std::string& error);

// One report run as the form runs it after its check, with the session
// loaded (LoadSessionEnvironment and the administrator's lines, as at
// start-up): the six data files, the fee settings, the print file on the
// session's device, the print program, the spreadsheets. Messages go to `err`.
// Returns an exit code above. A data file that cannot be opened ends the
// program at once with kBatchDataStop after its message.
int RunBatch(const BatchOptions& options, std::ostream& err);

// The usage text.
const char* BatchUsage();

}  // namespace tarnevos

#endif  // TARNEVOS_REPORT_BATCH_H_
