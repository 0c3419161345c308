#ifndef TARNEVOS_TESTS_SUPPORT_FORM_TABLES_H_
#define TARNEVOS_TESTS_SUPPORT_FORM_TABLES_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "console/form_table.h"

// Form tables built in code, as a form file would lay them out.
namespace tarnevos::testing {

// Blank keys of a form that moves between fields: Enter, Esc, Up, Down,
// PgUp, PgDn, Ctrl+B, F2, F4.
inline constexpr char kMoveKeys[] = "d,1b,4800,5000,4900,5100,2,3c00,3e00";

// A field at (row, column) with its value all blanks.
FieldDef MakeField(int16_t row, int16_t column, std::string label,
                   int16_t length, int16_t type = 0, int16_t flags = 0,
                   std::string choices = "");

// Defines form `number` (growing the tables when needed).
void SetForm(int number, std::string keys, std::vector<FieldDef> fields,
             int16_t next = 0, std::array<int16_t, 5> window = {});

// A clean run for form tests: ResetRunState, today 1 June 2026, the
// session's directories at `dir`, Catalan, working date 15 March 2024, a
// colour set whose roles differ.
void SetUpFormSession(const std::string& dir);

// The report's parameter form 1 (cut-off date, first community and unit,
// last community and unit, copies; values "150324", "1", "0", "999",
// "999", "1") and its confirmation form 2 ("N" or "S").
void SetReportForms();

}  // namespace tarnevos::testing

#endif  // TARNEVOS_TESTS_SUPPORT_FORM_TABLES_H_
