#include "console/form_table.h"

namespace tarnevos {
namespace {

FormTables& Tables() {
  static FormTables tables;
  return tables;
}

}  // namespace

FormTables& Forms() { return Tables(); }

FormDef& Form(int form) {
  static FormDef empty;
  FormTables& tables = Tables();
  if (form < 1 || form >= static_cast<int>(tables.forms.size())) {
    empty = FormDef{};
    return empty;
  }
  return tables.forms[form];
}

FieldDef& Field(int form, int field) {
  static FieldDef empty;
  FormDef& def = Form(form);
  if (field < 1 || field >= static_cast<int>(def.fields.size())) {
    empty = FieldDef{};
    return empty;
  }
  return def.fields[field];
}

ReportParameters& Parameters() {
  static ReportParameters parameters;
  return parameters;
}

void TEST_ResetFormTables() {
  Tables() = FormTables{};
  Parameters() = ReportParameters{};
}

}  // namespace tarnevos
