#ifndef TARNEVOS_REPORT_REPORT_FORM_H_
#define TARNEVOS_REPORT_REPORT_FORM_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "console/keyboard.h"

// What only the report knows about its forms and lookups: which field of
// the form file's form 1 holds which parameter, the confirmation on form 2,
// the lookup lists' line and code layouts, and the report parameters that
// the check of form 1 leaves behind. The generic form screen and lookup
// list reach this through the hooks InstallReportHooks installs.
namespace tarnevos {

namespace report_form {
constexpr int16_t kParameterForm = 1;
constexpr int16_t kCutoffField = 1;
constexpr int16_t kFirstCommunityField = 2;
constexpr int16_t kFirstUnitField = 3;
constexpr int16_t kLastCommunityField = 4;
constexpr int16_t kLastUnitField = 5;
constexpr int16_t kCopiesField = 6;
constexpr int16_t kParameterFieldCount = 6;
// A choice "S"/"N": owners' statements along with the summary. A form file
// without it (or with a text there) never asks for them.
constexpr int16_t kStatementsField = 7;
constexpr char kStatementsChosen[] = "S";

constexpr int16_t kConfirmationForm = 2;
constexpr int16_t kConfirmationField = 1;
constexpr char kConfirmedAnswer[] = "S";

// F4 lists: the communities, the units of the first community, the units
// of the last one.
constexpr int16_t kCommunityLookup = 1;
constexpr int16_t kFirstUnitLookup = 2;
constexpr int16_t kLastUnitLookup = 3;
}  // namespace report_form

// The parameters of one report.
struct ReportParameters {
  std::string cutoff_date;  // packed date, 4 bytes
  std::string range_from;   // packed community + unit, 4 bytes
  std::string range_to;     // packed, 4 bytes
  int16_t copies = 1;       // 0: one copy per unit of each community
  bool statements = false;  // owners' statements too
};
// The parameters the last accepted form 1 (or the batch run) left.
ReportParameters& Parameters();
void TEST_ResetParameters();

// The parameters that form 1's texts stand for: the cut-off date as typed
// (see ParseDateEntry), each end of the range as a community and a unit
// number (a blank piece counts as 0, so both ends keep their four bytes),
// the number of copies.
ReportParameters ParametersFromEntries(std::string_view cutoff_date,
                                       std::string_view first_community,
                                       std::string_view first_unit,
                                       std::string_view last_community,
                                       std::string_view last_unit,
                                       std::string_view copies);

// True when the range's first code does not come after its last.
bool RangeInOrder(const ReportParameters& parameters);

// The form check: form 1 closed with any key but Esc turns its fields into
// Parameters() and, when the range is in order, asks for confirmation on
// form 2. Returns 0 to let the form close, 1 to keep the operator in it.
// Only a confirmation asks for a report (see TakeReportRequest).
int16_t CheckReportForm(int16_t form, KeyCode key);

// True once after the operator confirmed a report on form 2; the request
// is used up by asking. A form 1 that closed for any other reason (Esc, or
// a form without a field to edit, which closes at once) asked for none.
bool TakeReportRequest();

// Form 1's fields start with the working date as cut-off date, the widest
// range of communities and units, one copy, and no statements.
void SetParameterDefaults();

// Installs the report's form check, its lookup layouts and the F4 runner.
void InstallReportHooks();

}  // namespace tarnevos

#endif  // TARNEVOS_REPORT_REPORT_FORM_H_
