#include "support/form_tables.h"

#include <algorithm>
#include <utility>

#include "console/form_screen.h"
#include "platform/system/system.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "util/dates.h"
#include "util/text.h"

namespace tarnevos::testing {

FieldDef MakeField(int16_t row, int16_t column, std::string label,
                   int16_t length, int16_t type, int16_t flags,
                   std::string choices) {
  FieldDef field;
  field.row = row;
  field.column = column;
  field.label = std::move(label);
  field.length = length;
  field.type = type;
  field.flags = flags;
  field.choices = std::move(choices);
  field.value.assign(length, ' ');
  return field;
}

void SetForm(int number, std::string keys, std::vector<FieldDef> fields,
             int16_t next, std::array<int16_t, 5> window) {
  FormTables& tables = Forms();
  if (tables.form_count < number) {
    tables.form_count = static_cast<int16_t>(number);
    tables.forms.resize(number + 1);
  }
  FormDef& form = tables.forms[number];
  form.key_list = std::move(keys);
  form.next_form = next;
  form.window = window;
  form.field_count = static_cast<int16_t>(fields.size());
  form.fields.assign(1, FieldDef{});
  for (FieldDef& field : fields) form.fields.push_back(std::move(field));
  tables.max_fields = std::max<int16_t>(tables.max_fields, form.field_count);
}

void SetUpFormSession(const std::string& dir) {
  ResetRunState();
  platform::TEST_SetToday(platform::CalendarDay{2026, 6, 1});
  SessionSettings& session = TEST_MutableSession();
  session.tmp_dir = dir;
  session.root_dir = dir;
  session.language = "CAT";
  session.work_date = PackDigits("20240315");
  session.screen_colours = {{{15, 0}, {7, 0}, {0, 7}, {1, 7}, {14, 1}}};
}

void SetReportForms() {
  SetForm(1, kMoveKeys,
          {MakeField(2, 1, "Data: ", 10, field_type::kDate),
           MakeField(3, 1, "Com1: ", 3, field_type::kNumber, 0),
           MakeField(4, 1, "Dep1: ", 3, field_type::kNumber),
           MakeField(5, 1, "Com2: ", 3, field_type::kNumber),
           MakeField(6, 1, "Dep2: ", 3, field_type::kNumber),
           MakeField(7, 1, "Copies: ", 3, field_type::kNumber)});
  SetForm(2, "d,1b", {MakeField(2, 3, "Imprimir?  ", 1, 0, 0, "|N,No|S,S\xa1")},
          0, {0, 10, 20, 14, 60});
  const char* values[] = {"", "150324", "1", "0", "999", "999", "1"};
  for (int j = 1; j <= 6; ++j) {
    FieldDef* field = FindField(1, j);
    field->value = FitText(values[j], field->length);
  }
}

}  // namespace tarnevos::testing
