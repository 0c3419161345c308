#include "report/settlement_csv.h"

#include "platform/system/directories.h"
#include "platform/system/files.h"
#include "util/csv_text.h"
#include "util/dates.h"

namespace tarnevos {
namespace {

constexpr char kSeparator = ',';

std::string CellText(const SheetCell& cell) {
  switch (cell.kind) {
    case SheetCell::Kind::kEmpty:
      return "";
    case SheetCell::Kind::kText:
      return cell.text;
    case SheetCell::Kind::kEuros:
      return DecimalHundredths(cell.value);
    case SheetCell::Kind::kWhole:
      return std::to_string(cell.value);
    case SheetCell::Kind::kDate:
      return FormatDate(cell.date, -1, "dma");
  }
  return "";
}

}  // namespace

std::string CsvText(const SheetTable& table) {
  std::string text;
  std::vector<std::string> fields;
  for (const SheetRow& row : table.rows) {
    fields.clear();
    for (const SheetCell& cell : row) fields.push_back(CellText(cell));
    text += CsvLine(fields, kSeparator);
  }
  return text;
}

std::unique_ptr<CsvFolder> CsvFolder::Create(const std::string& suite_path,
                                             const RunDescription& run,
                                             std::string& error) {
  std::string folder = suite_path;
  if (folder.empty()) folder = "./";
  if (folder.back() != '/' && folder.back() != '\\') folder += '/';
  if (!platform::MakeDirectory(folder)) {
    error = folder + " is not a folder and cannot be made";
    return nullptr;
  }
  std::unique_ptr<CsvFolder> csv(new CsvFolder(folder, MakeSheetLabels()));
  if (!csv->Write(ParametersSheet(run, csv->labels_))) {
    error = csv->error_;
    return nullptr;
  }
  return csv;
}

bool CsvFolder::Write(const SheetTable& table) {
  if (!error_.empty()) return false;
  const std::string path = folder_ + table.file_stem + ".csv";
  if (!platform::Files().WriteFileAtomically(path, CsvText(table))) {
    error_ = path + " cannot be written";
    return false;
  }
  return true;
}

void CsvFolder::Add(const CommunitySettlement& settlement) {
  if (settlement.units.empty()) return;
  Write(CommunitySheet(settlement, labels_));
}

bool CsvFolder::Finish(std::string& error) const {
  error = error_;
  return error.empty();
}

}  // namespace tarnevos
