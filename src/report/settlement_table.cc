#include "report/settlement_table.h"

#include "settings/run_values.h"
#include "settings/session.h"
#include "settings/translate.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

constexpr char kColumnLetters[] = "ABCDEFG";
constexpr size_t kSheetNameLength = 31;

// A text of the print file's headings, translated, as UTF-8.
std::string Printed(const char* utf8) {
  return Utf8FromCp850(TrimBlanks(Translate(Cp850(utf8))));
}

// The two lines of a column heading of the print file as one text.
std::string Heading(const char* upper, const char* lower) {
  const std::string top = Printed(upper);
  const std::string bottom = Printed(lower);
  return top.empty() ? bottom : top + " " + bottom;
}

std::string Stored(std::string_view cp850) {
  return Utf8FromCp850(TrimRightBlanks(std::string(cp850)));
}

int DigitsValue(std::string_view digits) {
  int value = 0;
  for (char c : digits)
    value = value * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);
  return value;
}

// The texts the print file does not have, by language.
struct OwnTexts {
  const char* owner;
  const char* parameters;
  const char* cutoff;
  const char* from;
  const char* to;
  const char* copies;
  const char* run_date;
  const char* administrator;
};
constexpr PerLanguage<OwnTexts> kOwnTexts = {{
    {"PROPIETARI", "PARÀMETRES", "DATA DE TALL", "DES DE", "FINS A", "CÒPIES",
     "DATA D'EXECUCIÓ", "ADMINISTRADOR"},
    {"PROPIETARIO", "PARÁMETROS", "FECHA DE CORTE", "DESDE", "HASTA", "COPIAS",
     "FECHA DE EJECUCIÓN", "ADMINISTRADOR"},
    {"PROPIETARIO", "PARÁMETROS", "DATA DE CORTE", "DESDE", "ATA", "COPIAS",
     "DATA DE EXECUCIÓN", "ADMINISTRADOR"},
    {"PROPRIETARI", "PARAMÈTRES", "DATA DE TALH", "DES DE", "ENTÀ", "CÒPIAS",
     "DATA D'EXECUCION", "ADMINISTRADOR"},
}};

// Characters spreadsheet programs refuse in a sheet's name.
bool RefusedInSheetName(char32_t c) {
  return c == '[' || c == ']' || c == ':' || c == '*' || c == '?' || c == '/' ||
         c == '\\' || c < 0x20;
}

// "0001 C/ MAJOR, 12" made acceptable as a sheet's name: refused
// characters become blanks, runs of blanks one, at most 31 characters, no
// apostrophe or blank at the ends. The code in front keeps the names of a
// workbook unique.
std::string SheetName(const std::string& utf8) {
  std::string name;
  size_t characters = 0;
  size_t pos = 0;
  while (pos < utf8.size() && characters < kSheetNameLength) {
    const size_t start = pos;
    const long code = DecodeUtf8(utf8, pos);
    if (code < 0) break;
    if (RefusedInSheetName(static_cast<char32_t>(code)) || code == ' ') {
      if (name.empty() || name.back() == ' ') continue;
      name += ' ';
    } else {
      name.append(utf8, start, pos - start);
    }
    ++characters;
  }
  while (!name.empty() && (name.back() == ' ' || name.back() == '\'')) {
    name.pop_back();
  }
  return name;
}

SheetRow LabelledFigures(const std::string& label, const LineFigures& figures) {
  SheetRow row(kFirstPesetaColumn);
  row[kUnitCodeColumn] = SheetCell::Text(label);
  for (size_t i = 0; i < figures.size(); ++i) {
    row[kFirstFigureColumn + i] = SheetCell::Euros(figures[i]);
  }
  return row;
}

}  // namespace

SheetCell SheetCell::Text(std::string utf8) {
  SheetCell cell;
  cell.kind = Kind::kText;
  cell.text = std::move(utf8);
  return cell;
}

SheetCell SheetCell::Euros(int64_t hundredths) {
  SheetCell cell;
  cell.kind = Kind::kEuros;
  cell.value = hundredths;
  return cell;
}

SheetCell SheetCell::Whole(int64_t value) {
  SheetCell cell;
  cell.kind = Kind::kWhole;
  cell.value = value;
  return cell;
}

SheetCell SheetCell::Date(std::string packed) {
  SheetCell cell;
  cell.kind = Kind::kDate;
  cell.date = std::move(packed);
  return cell;
}

std::string UnitCodeText(std::string_view packed_unit) {
  const std::string digits = UnpackDigits(packed_unit);
  if (digits.size() < 8) return FormatPackedCode(packed_unit);
  return std::to_string(DigitsValue(digits.substr(0, 4))) + "." +
         std::to_string(DigitsValue(digits.substr(4, 4)));
}

SheetLabels MakeSheetLabels() {
  const OwnTexts& own = ForLanguage(kOwnTexts, SessionLanguage());
  SheetLabels labels;
  labels.unit_code = Printed("COD");
  labels.owner = own.owner;
  labels.designation = Printed("DEPART.");
  labels.figures[kPreviousBalanceFigure] = Heading("    RÒSSEC", "  ANTERIOR");
  for (int k = 1; k <= 7; ++k) labels.figures[k] = kColumnLetters[k - 1];
  labels.figures[kPrivateExpensesFigure] = Printed("   D.PART.");
  labels.figures[kExpensesFigure] = Heading("     TOTAL", "  DESPESES");
  labels.figures[kCollectedFigure] = Heading("     TOTAL", "      FONS");
  labels.figures[kBalanceFigure] = Heading("    RÒSSEC", "    ACTUAL");
  labels.adjustment = Printed("AJUST");
  labels.rest = Printed("RESTA COMUNITAT");
  labels.total = Printed("TOTAL COMUNITAT");
  labels.pesetas_suffix = " ESP";
  labels.parameters_sheet = own.parameters;
  labels.cutoff = own.cutoff;
  labels.range_from = own.from;
  labels.range_to = own.to;
  labels.copies = own.copies;
  labels.run_date = own.run_date;
  labels.administrator = own.administrator;
  labels.tax_id = "N.I.F.";
  return labels;
}

SheetTable ParametersSheet(const RunDescription& run,
                           const SheetLabels& labels) {
  SheetTable table;
  table.name = SheetName(labels.parameters_sheet);
  table.file_stem = "parameters";
  auto add = [&table](const std::string& label, SheetCell value) {
    table.rows.push_back({SheetCell::Text(label), std::move(value)});
  };
  add(labels.cutoff, SheetCell::Date(run.parameters.cutoff_date));
  add(labels.range_from,
      SheetCell::Text(UnitCodeText(run.parameters.range_from)));
  add(labels.range_to, SheetCell::Text(UnitCodeText(run.parameters.range_to)));
  add(labels.copies, SheetCell::Whole(run.parameters.copies));
  add(labels.run_date, SheetCell::Date(run.run_date));
  add(labels.administrator, SheetCell::Text(Stored(run.administrator)));
  add(labels.tax_id, SheetCell::Text(Stored(run.administrator_tax_id)));
  return table;
}

SheetTable CommunitySheet(const CommunitySettlement& settlement,
                          const SheetLabels& labels) {
  SheetTable table;
  const std::string code =
      ZeroPad(DigitsValue(UnpackDigits(settlement.code)), 4);
  table.name = SheetName(code + " " + Stored(ReorderName(settlement.name)));
  table.file_stem = "community-" + code;

  SheetRow header(kSheetColumns);
  header[kUnitCodeColumn] = SheetCell::Text(labels.unit_code);
  header[kOwnerColumn] = SheetCell::Text(labels.owner);
  header[kDesignationColumn] = SheetCell::Text(labels.designation);
  for (int i = 0; i < 12; ++i) {
    std::string label = labels.figures[i];
    if (i >= 1 && i <= 7) {
      const std::string title = Stored(settlement.column_title[i]);
      if (!title.empty()) label += ": " + title;
    }
    header[kFirstFigureColumn + i] = SheetCell::Text(label);
    header[kFirstPesetaColumn + i] =
        SheetCell::Text(label + labels.pesetas_suffix);
  }
  table.rows.push_back(std::move(header));

  for (const UnitSettlement& unit : settlement.units) {
    SheetRow row = LabelledFigures(UnitCodeText(unit.code), unit.Figures());
    row[kOwnerColumn] = SheetCell::Text(Stored(ReorderName(unit.owner)));
    row[kDesignationColumn] = SheetCell::Text(Stored(unit.designation));
    table.rows.push_back(std::move(row));
  }
  table.rows.push_back(
      LabelledFigures(settlement.AllListed() ? labels.adjustment : labels.rest,
                      settlement.remainder));
  SheetRow total = LabelledFigures(labels.total, settlement.totals);
  total.resize(kSheetColumns);
  for (size_t i = 0; i < settlement.totals.size(); ++i) {
    total[kFirstPesetaColumn + i] =
        SheetCell::Whole(WholePesetas(settlement.totals[i]));
  }
  table.rows.push_back(std::move(total));
  return table;
}

}  // namespace tarnevos
