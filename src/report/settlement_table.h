#ifndef TARNEVOS_REPORT_SETTLEMENT_TABLE_H_
#define TARNEVOS_REPORT_SETTLEMENT_TABLE_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "report/report_form.h"
#include "report/settlement.h"

// A settlement as rows of cells: what the spreadsheet writers (XLSX and
// CSV) write, so that both show the same figures in the same places. Every
// figure is taken from the computed settlement as it is; nothing here adds
// or shares out an amount.
namespace tarnevos {

struct SheetCell {
  enum class Kind { kEmpty, kText, kEuros, kWhole, kDate };
  Kind kind = Kind::kEmpty;
  std::string text;   // kText: UTF-8
  int64_t value = 0;  // kEuros: hundredths of a euro; kWhole: the number
  std::string date;   // kDate: packed date

  static SheetCell Text(std::string utf8);
  static SheetCell Euros(int64_t hundredths);
  static SheetCell Whole(int64_t value);
  static SheetCell Date(std::string packed);
};
using SheetRow = std::vector<SheetCell>;

struct SheetTable {
  // The sheet's name: UTF-8, at most 31 characters, none of []:*?/\ and no
  // apostrophe at either end (what spreadsheet programs accept).
  std::string name;
  // The CSV file's name without its extension: plain ASCII.
  std::string file_stem;
  std::vector<SheetRow> rows;
};

// Columns of a community's sheet. The header row names them; each unit's
// row, the remainder row and the total row fill them. The twelve figures
// of a line (LineFigures order) are euros from kFirstFigureColumn; the
// total row adds the same twelve in whole pesetas from
// kFirstPesetaColumn.
constexpr int kUnitCodeColumn = 0;     // "C.U"; the line's label on the
                                       // remainder and total rows
constexpr int kOwnerColumn = 1;        // owner
constexpr int kDesignationColumn = 2;  // designation
constexpr int kFirstFigureColumn = 3;
constexpr int kFirstPesetaColumn = kFirstFigureColumn + 12;
constexpr int kSheetColumns = kFirstPesetaColumn + 12;

// The texts of the header row and the line labels, in the session's
// language (through the language file where the print file's texts are).
// Made once per run: translating reads the language file.
struct SheetLabels {
  std::string unit_code, owner, designation;
  std::array<std::string, 12> figures;  // LineFigures order; columns A..G
                                        // get the community's title added
  std::string adjustment, rest, total, pesetas_suffix;
  std::string parameters_sheet, cutoff, range_from, range_to, copies, run_date,
      administrator, tax_id;
};
SheetLabels MakeSheetLabels();

// What the first sheet records about the run.
struct RunDescription {
  ReportParameters parameters;
  std::string run_date;              // packed date
  std::string administrator;         // CP850, as in Orvo.ini
  std::string administrator_tax_id;  // CP850
};

// Label and value per parameter: cut-off, range, copies, date of the run,
// the administrator and its tax identification.
SheetTable ParametersSheet(const RunDescription& run,
                           const SheetLabels& labels);

// A community's sheet: the header row, a row per listed unit, the
// remainder row ("AJUST" or "RESTA COMUNITAT") and the total row.
SheetTable CommunitySheet(const CommunitySettlement& settlement,
                          const SheetLabels& labels);

// "C.U" of a 4-byte packed code (a unit, or an end of the range): the
// community's and the unit's numbers.
std::string UnitCodeText(std::string_view packed_unit);

}  // namespace tarnevos

#endif  // TARNEVOS_REPORT_SETTLEMENT_TABLE_H_
