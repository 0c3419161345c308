#ifndef TARNEVOS_REPORT_FORM_FILE_H_
#define TARNEVOS_REPORT_FORM_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>

// The program's form file: RootDir + "FORMS\" + ProgramId + ".KPN", a CP850
// text of comma-separated records that lays out the parameter forms and the
// lookup lists. Reading it fills the form tables of console/form_table.h.
//
//   header        FormCount, MaxFields
//   form          key list, field count, next form, top, left, bottom, right
//   field         row, column, label, length, width, trailing blanks, flags,
//                 type, lookup, choices          (one per field of the form)
//   lookup count  LookupCount
//   lookup        attr 0..6, heading text, attr 7 (one per lookup)
//
// Lines whose first non-blank character is an apostrophe are comments when
// they stand where a record starts.
namespace tarnevos {

// Bounds beyond which a form file is taken as damaged rather than trusted:
// they keep a few bytes of bad input from asking for huge tables.
inline constexpr int kMaxFormCount = 50;
inline constexpr int kMaxFieldsPerForm = 250;
inline constexpr int kMaxLookupCount = 100;
inline constexpr int kMaxFieldLength = 2000;  // a whole 80 x 25 screen
inline constexpr int kMaxScreenValue = 255;   // rows, columns, corners
inline constexpr size_t kMaxFormFileBytes = 1 << 20;

// RootDir + "FORMS\" + ProgramId + ".KPN" (a suite path).
std::string FormFilePath();

// Reads the form file into the form tables, translating labels, choices and
// lookup headings into the session's language, and sets the defaults of
// form 1 (cut-off date = the working date, first community 1, first unit 0,
// last community 999, last unit 999, copies 1).
//
// Returns false when the file cannot be read or breaks the rules of its
// layout (no header, FormCount below 1 or absurdly large, a field count
// above MaxFields, a text where a number is due, a file ending inside a
// record or before every form of the header or every lookup of the lookup
// count was read, records after a lookup count of 0, values outside the
// bounds above); then the tables are left empty and `error` (when given)
// receives a message in the session's language naming the file and, for a
// malformed file, the line. A file that ends after its last form, without
// a lookup section, has no lookups. A file written in UTF-8 is converted
// to CP850 first (TextFileToCp850).
bool ReadFormFile(std::string* error = nullptr);

// The same over the contents of a form file already in memory; `file_name`
// names it in messages.
bool ReadFormText(std::string contents, std::string_view file_name,
                  std::string* error = nullptr);

}  // namespace tarnevos

#endif  // TARNEVOS_REPORT_FORM_FILE_H_
