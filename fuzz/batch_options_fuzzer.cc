// Arbitrary command lines for the batch report: the bytes split at NUL
// into arguments. Reading the options never crashes; accepted options are
// checked as parameters, and accepted parameters are those of a range in
// order with a cut-off that reads as a calendar date.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "report/batch.h"
#include "report/report_form.h"
#include "util/dates.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.emplace_back();
    } else {
      arguments.back() += static_cast<char>(data[i]);
    }
  }
  tarnevos::BatchOptions options;
  std::string error;
  if (!tarnevos::ParseBatchOptions(arguments, options, error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  tarnevos::ReportParameters parameters;
  if (!tarnevos::BatchParameters(options, parameters, error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  if (!tarnevos::RangeInOrder(parameters)) __builtin_trap();
  if (parameters.cutoff_date.size() != 4 || parameters.range_from.size() != 4 ||
      parameters.range_to.size() != 4 || parameters.copies < 0) {
    __builtin_trap();
  }
  return 0;
}
