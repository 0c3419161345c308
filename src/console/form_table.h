#ifndef TARNEVOS_CONSOLE_FORM_TABLE_H_
#define TARNEVOS_CONSOLE_FORM_TABLE_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The form tables read from the program's form file at start-up and shown by
// the form screen, and the lookup definitions.
namespace tarnevos {

struct FieldDef {
  int16_t row = 0;
  int16_t column = 0;
  std::string label;   // translated at load
  int16_t length = 0;  // L: characters of the value
  int16_t width = 0;   // characters per line when wrapping; 0 none
  int16_t trailing_blanks = 0;
  int16_t flags = 0;    // 1 blank on visit, 2 secret, 4 read-only,
                        // 8 cursor after the last non-blank
  int16_t type = 0;     // 0 text, 1 date, 2 number, 3 number or "P"
  int16_t lookup = 0;   // lookup number opened by F4; 0 none
  std::string choices;  // "|value,description|..." translated
  std::string value;    // always exactly `length` characters
};

struct FormDef {
  std::string key_list;  // accepted keys, hexadecimal, comma-separated
  int16_t field_count = 0;
  int16_t next_form = 0;            // continuation form; 0 none
  std::array<int16_t, 5> window{};  // [1..4] top, left, bottom, right
  std::vector<FieldDef> fields;     // index 1..MaxFields (0 unused)
};

struct FormTables {
  int16_t form_count = 0;
  int16_t max_fields = 0;
  std::vector<FormDef> forms;  // index 1..form_count (0 unused)
  int16_t lookup_count = 0;
  // lookup_attr[k][i]: attribute i (0..7) of lookup k (1..lookup_count).
  std::vector<std::array<int16_t, 8>> lookup_attr;
  std::vector<std::string> lookup_text;  // index 0..lookup_count
};

FormTables& Forms();

// The definition to change; nullptr for a number outside the tables.
FormDef* FindForm(int form);
FieldDef* FindField(int form, int field);

// Reading: a number outside the tables gives an empty definition.
const FormDef& Form(int form);
const FieldDef& Field(int form, int field);

// Empty tables.
void TEST_ResetFormTables();

}  // namespace tarnevos

#endif  // TARNEVOS_CONSOLE_FORM_TABLE_H_
