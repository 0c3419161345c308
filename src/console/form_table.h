#ifndef TARNEVOS_CONSOLE_FORM_TABLE_H_
#define TARNEVOS_CONSOLE_FORM_TABLE_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The form tables read from the program's form file at start-up and shown by
// the form screen, the lookup definitions, and the report parameters that
// the check of form 1 leaves behind.
namespace tarnevos {

struct FieldDef {
  int16_t row = 0;
  int16_t column = 0;
  std::string label;          // translated at load
  int16_t length = 0;         // L: characters of the value
  int16_t width = 0;          // characters per line when wrapping; 0 none
  int16_t trailing_blanks = 0;
  int16_t flags = 0;          // 1 blank on visit, 2 secret, 4 read-only,
                              // 8 cursor after the last non-blank
  int16_t type = 0;           // 0 text, 1 date, 2 number, 3 number or "P"
  int16_t lookup = 0;         // lookup number opened by F4; 0 none
  std::string choices;        // "|value,description|..." translated
  std::string value;          // always exactly `length` characters
};

struct FormDef {
  std::string key_list;       // accepted keys, hexadecimal, comma-separated
  int16_t field_count = 0;
  int16_t next_form = 0;      // continuation form; 0 none
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

// Safe access: a form or field number outside the tables gives a shared
// empty definition instead of undefined behaviour.
FormDef& Form(int form);
FieldDef& Field(int form, int field);

// The report parameters that form 1's check leaves behind.
struct ReportParameters {
  std::string cutoff_date;  // packed date, 4 bytes
  std::string range_from;   // packed community + unit, 4 bytes
  std::string range_to;     // packed, 4 bytes
  int16_t copies = 1;
};
ReportParameters& Parameters();

// Empty tables and default parameters.
void TEST_ResetFormTables();

}  // namespace tarnevos

#endif  // TARNEVOS_CONSOLE_FORM_TABLE_H_
