#include "console/form_table.h"

namespace tarnevos {
namespace {

FormTables& Tables() {
  static FormTables tables;
  return tables;
}

const FormDef kNoForm;
const FieldDef kNoField;

}  // namespace

FormTables& Forms() { return Tables(); }

FormDef* FindForm(int form) {
  FormTables& tables = Tables();
  if (form < 1 || form >= static_cast<int>(tables.forms.size())) {
    return nullptr;
  }
  return &tables.forms[form];
}

FieldDef* FindField(int form, int field) {
  FormDef* def = FindForm(form);
  if (def == nullptr || field < 1 ||
      field >= static_cast<int>(def->fields.size())) {
    return nullptr;
  }
  return &def->fields[field];
}

const FormDef& Form(int form) {
  const FormDef* def = FindForm(form);
  return def != nullptr ? *def : kNoForm;
}

const FieldDef& Field(int form, int field) {
  const FieldDef* def = FindField(form, field);
  return def != nullptr ? *def : kNoField;
}

void TEST_ResetFormTables() { Tables() = FormTables{}; }

}  // namespace tarnevos
