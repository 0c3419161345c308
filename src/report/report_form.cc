#include "report/report_form.h"

#include "console/form_screen.h"
#include "console/form_table.h"
#include "data/data_files.h"
#include "data/lookup_list.h"
#include "settings/session.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

using namespace report_form;

ReportParameters& State() {
  static ReportParameters parameters;
  return parameters;
}

bool& ReportRequested() {
  static bool requested = false;
  return requested;
}

std::string PieceOrZero(std::string_view text) {
  std::string trimmed = TrimBlanks(std::string(text));
  return trimmed.empty() ? std::string("0") : trimmed;
}

std::string FieldValue(int16_t field) {
  return Field(kParameterForm, field).value;
}

// Only a choice field answers for the statements: in a form file of before
// the choice, field 7 is one of the help texts.
bool StatementsChosen() {
  const FieldDef* field = FindField(kParameterForm, kStatementsField);
  return field != nullptr && !field->choices.empty() &&
         TrimBlanks(field->value) == kStatementsChosen;
}

// The lines of the F4 lists: the code's last three digits, then the
// community's name, or the unit's owner and designation.
std::vector<LookupLayout> ReportLookupLayouts() {
  const uint8_t* finques = Areas().finques.data();
  const uint8_t* propiet = Areas().propiet.data();
  const std::vector<LookupField> unit_line = {{field::kOwnerName, 30},
                                              {field::kDesignation, 10}};
  return {
      {kCommunityLookup, finques, 2, {{field::kCommunityName, 30}}, 0, 0},
      {kFirstUnitLookup, propiet, 4, unit_line, kParameterForm,
       kFirstCommunityField},
      {kLastUnitLookup, propiet, 4, unit_line, kParameterForm,
       kLastCommunityField},
  };
}

}  // namespace

ReportParameters& Parameters() { return State(); }
void TEST_ResetParameters() {
  State() = ReportParameters{};
  ReportRequested() = false;
}

bool TakeReportRequest() {
  const bool requested = ReportRequested();
  ReportRequested() = false;
  return requested;
}

ReportParameters ParametersFromEntries(std::string_view cutoff_date,
                                       std::string_view first_community,
                                       std::string_view first_unit,
                                       std::string_view last_community,
                                       std::string_view last_unit,
                                       std::string_view copies) {
  ReportParameters parameters;
  parameters.cutoff_date = ParseDateEntry(cutoff_date);
  parameters.range_from = PackDottedCode(PieceOrZero(first_community) + "." +
                                         PieceOrZero(first_unit));
  parameters.range_to = PackDottedCode(PieceOrZero(last_community) + "." +
                                       PieceOrZero(last_unit));
  parameters.copies = ToInt16(NumericValue(copies));
  return parameters;
}

bool RangeInOrder(const ReportParameters& parameters) {
  return parameters.range_from <= parameters.range_to;
}

int16_t CheckReportForm(int16_t form, KeyCode key) {
  if (form != kParameterForm || key == key::kEsc) return 0;
  ReportRequested() = false;
  Parameters() = ParametersFromEntries(
      FieldValue(kCutoffField), FieldValue(kFirstCommunityField),
      FieldValue(kFirstUnitField), FieldValue(kLastCommunityField),
      FieldValue(kLastUnitField), FieldValue(kCopiesField));
  Parameters().statements = StatementsChosen();
  if (!RangeInOrder(Parameters())) return 1;

  if (FieldDef* answer = FindField(kConfirmationForm, kConfirmationField)) {
    answer->value.assign(answer->length, ' ');
  }
  int16_t confirmation_form = kConfirmationForm;
  KeyCode closing = 0;
  FormScreen(confirmation_form, closing);
  const std::string answer =
      TrimRightBlanks(Field(kConfirmationForm, kConfirmationField).value);
  if (answer != kConfirmedAnswer) return 1;
  ReportRequested() = true;
  return 0;
}

void SetParameterDefaults() {
  const std::string defaults[kParameterFieldCount] = {
      DateToEntryText(Session().work_date), "1", "0", "999", "999", "1"};
  for (int16_t j = 1; j <= kParameterFieldCount; ++j) {
    if (FieldDef* field = FindField(kParameterForm, j)) {
      field->value = FitText(defaults[j - 1], field->length);
    }
  }
  FieldDef* statements = FindField(kParameterForm, kStatementsField);
  if (statements != nullptr && !statements->choices.empty()) {
    statements->value = FitText("N", statements->length);
  }
}

void InstallReportHooks() {
  SetFormCheck(&CheckReportForm);
  SetLookupLayouts(ReportLookupLayouts());
  InstallLookupRunner();
}

}  // namespace tarnevos
