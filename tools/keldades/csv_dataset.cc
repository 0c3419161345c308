#include "keldades/csv_dataset.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "keldades/csv_file.h"
#include "util/csv_text.h"

namespace tarnevos::keldades {
namespace {

namespace fs = std::filesystem;

constexpr char kColumnLetters[] = "abcdefg";

enum class CellKind {
  kText,           // as written
  kPresentText,    // a text whose absence means "no record": an empty
                   // unquoted cell is absent, "" is present and empty
  kWhole,          // whole number
  kEuros,          // amount in euros to hundredths
  kDate,           // date; empty: none
  kFlag,           // S or N
  kUnitCommunity,  // the C of a "C.U" member
  kUnitNumber,     // the U of a "C.U" member
};

struct CsvColumn {
  std::string name;
  CellKind kind;
  std::string pointer;  // where the value goes in the dataset element
  bool in_list;         // part of a list: empty reads as 0 or ""
};

using Columns = std::vector<CsvColumn>;

Columns ReceiptTypeColumns() {
  return {{"code", CellKind::kWhole, "/code", false},
          {"number", CellKind::kWhole, "/number", false},
          {"class", CellKind::kWhole, "/class", false}};
}

Columns CommunityColumns() {
  Columns columns = {
      {"code", CellKind::kWhole, "/code", false},
      {"name", CellKind::kText, "/name", false},
      {"monthly_fee", CellKind::kEuros, "/monthly_fee", false},
      {"fee_tax_type", CellKind::kWhole, "/fee_tax_type", false},
      {"last_settlement", CellKind::kDate, "/last_settlement", false},
      {"tax_id", CellKind::kText, "/tax_id", false}};
  for (int k = 0; k < 6; ++k) {
    const std::string column = std::string("column_") + kColumnLetters[k + 1];
    const std::string at = "/special_columns/" + std::to_string(k);
    columns.push_back(
        {column + "_title", CellKind::kText, at + "/title", true});
    columns.push_back(
        {column + "_total", CellKind::kWhole, at + "/coefficient_total", true});
  }
  columns.push_back(
      {"expense_headings", CellKind::kPresentText, "/expense_headings", false});
  return columns;
}

Columns UnitColumns() {
  Columns columns = {{"community", CellKind::kUnitCommunity, "/code", false},
                     {"unit", CellKind::kUnitNumber, "/code", false},
                     {"owner", CellKind::kText, "/owner", false},
                     {"designation", CellKind::kText, "/designation", false}};
  for (int k = 0; k < 7; ++k) {
    columns.push_back({std::string("coefficient_") + kColumnLetters[k],
                       CellKind::kWhole, "/coefficients/" + std::to_string(k),
                       true});
  }
  for (int q = 0; q < 8; ++q) {
    columns.push_back({"receipt_amount_" + std::to_string(q + 1),
                       CellKind::kEuros,
                       "/receipt_amounts/" + std::to_string(q), true});
  }
  for (int e = 0; e < 2; ++e) {
    const std::string at = "/free_entries/" + std::to_string(e);
    columns.push_back({"free_type_" + std::to_string(e + 1), CellKind::kWhole,
                       at + "/type", true});
    columns.push_back({"free_amount_" + std::to_string(e + 1), CellKind::kEuros,
                       at + "/amount", true});
  }
  return columns;
}

Columns CollectionColumns() {
  return {{"community", CellKind::kUnitCommunity, "/unit", false},
          {"unit", CellKind::kUnitNumber, "/unit", false},
          {"date", CellKind::kDate, "/date", false},
          {"amount", CellKind::kEuros, "/amount", false},
          {"deduction", CellKind::kEuros, "/deduction", false},
          {"type", CellKind::kText, "/type", false}};
}

Columns PaymentColumns() {
  return {{"community", CellKind::kWhole, "/community", false},
          {"date", CellKind::kDate, "/date", false},
          {"amount", CellKind::kEuros, "/amount", false},
          {"single_unit", CellKind::kFlag, "/single_unit", false},
          {"code", CellKind::kWhole, "/code", false}};
}

const Columns& ColumnsOf(std::string_view section) {
  static const std::map<std::string, Columns, std::less<>> kColumns = {
      {"receipt_types", ReceiptTypeColumns()},
      {"communities", CommunityColumns()},
      {"units", UnitColumns()},
      {"collections", CollectionColumns()},
      {"payments", PaymentColumns()}};
  static const Columns kNone;
  auto it = kColumns.find(section);
  return it == kColumns.end() ? kNone : it->second;
}

// Columns a file must have.
std::vector<std::string> RequiredColumns(std::string_view section) {
  if (section == "communities") return {"code"};
  if (section == "units") return {"community", "unit"};
  if (section == "collections") return {"community", "unit", "date"};
  if (section == "payments") return {"community", "date"};
  return {};
}

// The lists an element holds in full, whatever its cells say.
Json EmptyElement(std::string_view section) {
  Json element = Json::object();
  if (section == "communities") {
    Json columns = Json::array();
    for (int k = 0; k < 6; ++k) {
      columns.push_back(Json{{"title", ""}, {"coefficient_total", 0}});
    }
    element["special_columns"] = std::move(columns);
  } else if (section == "units") {
    element["coefficients"] = Json(std::vector<int>(7, 0));
    element["receipt_amounts"] = Json(std::vector<int>(8, 0));
    element["free_entries"] = Json::array(
        {Json{{"type", 0}, {"amount", 0}}, Json{{"type", 0}, {"amount", 0}}});
  }
  return element;
}

std::string FileName(std::string_view section) {
  return std::string(section) + ".csv";
}

std::string LowerTrimmed(std::string text) {
  const size_t first = text.find_first_not_of(" \t");
  const size_t last = text.find_last_not_of(" \t");
  text = first == std::string::npos ? "" : text.substr(first, last - first + 1);
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// --- Reading -------------------------------------------------------------

// One section's file being read into the builder.
class SectionReader {
 public:
  SectionReader(std::string_view section, std::string file_name,
                DatasetBuilder& builder, CsvLines& lines)
      : section_(section),
        file_name_(std::move(file_name)),
        columns_(ColumnsOf(section)),
        builder_(builder),
        lines_(lines) {}

  bool Record(const CsvRecord& record, std::string& error) {
    if (header_.empty() && !header_read_) return Header(record, error);
    if (std::all_of(record.fields.begin(), record.fields.end(),
                    [](const std::string& f) { return f.empty(); }) &&
        std::none_of(record.quoted.begin(), record.quoted.end(),
                     [](bool q) { return q; })) {
      return true;  // an empty row, as spreadsheets leave them
    }
    Json element = EmptyElement(section_);
    std::string community, unit;
    for (size_t c = 0; c < record.fields.size(); ++c) {
      if (c >= header_.size()) {
        if (record.fields[c].find_first_not_of(" \t") == std::string::npos) {
          continue;
        }
        return Fail(error, record.line, c, "", "more fields than the header");
      }
      const CsvColumn& column = *header_[c];
      std::string message;
      if (!Cell(column, record.fields[c], record.quoted[c], element, community,
                unit, message)) {
        return Fail(error, record.line, c, column.name, message);
      }
    }
    if (!community.empty() || !unit.empty()) {
      element[Json::json_pointer(unit_pointer_)] = community + "." + unit;
    }
    if (section_ == "receipt_types" || section_ == "communities" ||
        section_ == "units") {
      lines_[section_].push_back(record.line);
    }
    if (!builder_.Add(section_, index_, element)) {
      return BuilderFault(error, record.line);
    }
    ++index_;
    return true;
  }

  // A file with no header at all.
  bool Finish(std::string& error) {
    if (header_read_) return true;
    error = file_name_ + ": has no header line";
    return false;
  }

 private:
  bool Fail(std::string& error, size_t line, size_t column,
            const std::string& name, const std::string& message) {
    error = file_name_ + ", line " + std::to_string(line) + ", column " +
            std::to_string(column + 1) +
            (name.empty() ? std::string() : " (" + name + ")") + ": " + message;
    return false;
  }

  bool Header(const CsvRecord& record, std::string& error) {
    header_read_ = true;
    for (size_t c = 0; c < record.fields.size(); ++c) {
      const std::string name = LowerTrimmed(record.fields[c]);
      auto it = std::find_if(
          columns_.begin(), columns_.end(),
          [&name](const CsvColumn& column) { return column.name == name; });
      if (it == columns_.end()) {
        std::string known;
        for (const CsvColumn& column : columns_) {
          known += (known.empty() ? "" : ", ") + column.name;
        }
        return Fail(error, record.line, c, record.fields[c],
                    "not a column of " + file_name_ + " (" + known + ")");
      }
      if (std::find(header_.begin(), header_.end(), &*it) != header_.end()) {
        return Fail(error, record.line, c, name, "named twice");
      }
      header_.push_back(&*it);
      if (it->kind == CellKind::kUnitCommunity) unit_pointer_ = it->pointer;
    }
    for (const std::string& required : RequiredColumns(section_)) {
      if (std::none_of(header_.begin(), header_.end(),
                       [&required](const CsvColumn* column) {
                         return column->name == required;
                       })) {
        error = file_name_ + ", line " + std::to_string(record.line) +
                ": the column " + required + " is missing";
        return false;
      }
    }
    return true;
  }

  bool Cell(const CsvColumn& column, const std::string& text, bool quoted,
            Json& element, std::string& community, std::string& unit,
            std::string& message) {
    const Json::json_pointer at(column.pointer);
    const bool blank =
        !quoted && text.find_first_not_of(" \t") == std::string::npos;
    switch (column.kind) {
      case CellKind::kText:
        if (!text.empty() || quoted || column.in_list) element[at] = text;
        return true;
      case CellKind::kPresentText:
        if (!text.empty() || quoted) element[at] = text;
        return true;
      case CellKind::kWhole:
      case CellKind::kEuros: {
        if (blank) {
          if (column.in_list) element[at] = 0;
          return true;
        }
        int64_t value = 0;
        const bool read = column.kind == CellKind::kWhole
                              ? ParseWhole(text, value, message)
                              : ParseEuros(text, value, message);
        if (read) element[at] = value;
        return read;
      }
      case CellKind::kDate: {
        if (blank) return true;
        std::string iso;
        if (!ParseDate(text, iso, message)) return false;
        element[at] = iso;
        return true;
      }
      case CellKind::kFlag: {
        bool value = false;
        if (!ParseFlag(text, value, message)) return false;
        element[at] = value;
        return true;
      }
      case CellKind::kUnitCommunity:
      case CellKind::kUnitNumber: {
        if (blank) return true;
        int64_t value = 0;
        if (!ParseWhole(text, value, message)) return false;
        (column.kind == CellKind::kUnitCommunity ? community : unit) =
            std::to_string(value);
        return true;
      }
    }
    return true;
  }

  // The builder's message ("units[3].coefficients[1]: ...") told by file,
  // line and column.
  bool BuilderFault(std::string& error, size_t line) {
    const std::string& fault = builder_.error();
    const size_t close = fault.find(']');
    const size_t colon =
        fault.find(": ", close == std::string::npos ? 0 : close);
    std::string path = close == std::string::npos || colon == std::string::npos
                           ? ""
                           : fault.substr(close + 1, colon - close - 1);
    std::string message =
        colon == std::string::npos ? fault : fault.substr(colon + 2);
    // ".free_entries[0].type" -> "/free_entries/0/type"
    std::string pointer;
    for (char c : path) {
      if (c == '.' || c == '[') {
        pointer += '/';
      } else if (c != ']') {
        pointer += c;
      }
    }
    message = WithLines(message);
    const CsvColumn* column = ColumnAt(pointer, message);
    if (column == nullptr) {
      error = file_name_ + ", line " + std::to_string(line) + ": " + message;
      return false;
    }
    auto at = std::find(header_.begin(), header_.end(), column);
    if (at == header_.end()) {
      error = file_name_ + ", line " + std::to_string(line) + ", column " +
              column->name + " (not in the file): " + message;
      return false;
    }
    return Fail(error, line, static_cast<size_t>(at - header_.begin()),
                column->name, message);
  }

  // The column a dataset path names; for a unit code, the community's
  // column when the message is about the community.
  const CsvColumn* ColumnAt(const std::string& pointer,
                            const std::string& message) const {
    if (pointer.empty()) return nullptr;
    const CsvColumn* found = nullptr;
    for (const CsvColumn& column : columns_) {
      const bool same = column.pointer == pointer;
      const bool inside = column.pointer.rfind(pointer + "/", 0) == 0;
      if (!same && !inside) continue;
      if (column.kind == CellKind::kUnitCommunity &&
          message.find("communit") == std::string::npos) {
        continue;
      }
      if (found == nullptr) found = &column;
    }
    return found;
  }

  // "repeats communities[2]" -> "repeats line 4".
  std::string WithLines(std::string message) const {
    for (const auto& [section, lines] : lines_) {
      const std::string mark = section + "[";
      size_t at = 0;
      while ((at = message.find(mark, at)) != std::string::npos) {
        const size_t close = message.find(']', at);
        if (close == std::string::npos) break;
        const std::string digits =
            message.substr(at + mark.size(), close - at - mark.size());
        size_t index = 0;
        bool ok = !digits.empty() && digits.size() < 10;
        for (char c : digits) {
          ok = ok && c >= '0' && c <= '9';
          if (ok) index = index * 10 + static_cast<size_t>(c - '0');
        }
        if (!ok || index >= lines.size()) {
          at = close;
          continue;
        }
        const std::string line =
            (section == section_ ? "line " : FileName(section) + " line ") +
            std::to_string(lines[index]);
        message.replace(at, close + 1 - at, line);
        at += line.size();
      }
    }
    return message;
  }

  std::string section_;
  std::string file_name_;
  const Columns& columns_;
  DatasetBuilder& builder_;
  CsvLines& lines_;
  std::vector<const CsvColumn*> header_;
  bool header_read_ = false;
  std::string unit_pointer_;
  size_t index_ = 0;
};

// --- Writing -------------------------------------------------------------

std::string CellText(const CsvColumn& column, const Json& element,
                     const CsvStyle& style) {
  const Json::json_pointer at(column.pointer);
  if (!element.contains(at)) return "";
  const Json& value = element[at];
  switch (column.kind) {
    case CellKind::kText:
    case CellKind::kPresentText:
      return CsvField(value.is_string() ? value.get<std::string>() : "",
                      style.separator);
    case CellKind::kWhole:
      return value.is_number_integer() ? std::to_string(value.get<int64_t>())
                                       : "";
    case CellKind::kEuros:
      return value.is_number_integer()
                 ? CsvField(EurosText(value.get<int64_t>(), style),
                            style.separator)
                 : "";
    case CellKind::kDate:
      return value.is_string() ? DateText(value.get<std::string>(), style) : "";
    case CellKind::kFlag:
      return value.is_boolean() && value.get<bool>() ? "S" : "N";
    case CellKind::kUnitCommunity:
    case CellKind::kUnitNumber: {
      if (!value.is_string()) return "";
      const std::string code = value.get<std::string>();
      const size_t dot = code.find('.');
      if (dot == std::string::npos) return "";
      return column.kind == CellKind::kUnitCommunity ? code.substr(0, dot)
                                                     : code.substr(dot + 1);
    }
  }
  return "";
}

std::string RowText(std::string_view section, const Json& element,
                    const CsvStyle& style) {
  std::string row;
  bool first = true;
  for (const CsvColumn& column : ColumnsOf(section)) {
    if (!first) row += style.separator;
    first = false;
    std::string cell = CellText(column, element, style);
    // A present but empty text is written "" so that it reads back as
    // present.
    if (column.kind == CellKind::kPresentText && cell.empty() &&
        element.contains(Json::json_pointer(column.pointer))) {
      cell = "\"\"";
    }
    row += cell;
  }
  row += "\r\n";
  return row;
}

bool ExportSection(const std::string& root, const Section& section,
                   const std::string& folder, const CsvStyle& style,
                   const std::map<std::string, std::string>& headings,
                   std::string& error) {
  const std::string path = folder + FileName(section.name);
  const std::string partial = path + ".partial";
  std::ofstream out(partial, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = path + ": cannot be written";
    return false;
  }
  if (style.byte_order_mark) out << "\xEF\xBB\xBF";
  bool first = true;
  for (const CsvColumn& column : ColumnsOf(section.name)) {
    out << (first ? "" : std::string(1, style.separator)) << column.name;
    first = false;
  }
  out << "\r\n";
  const bool read = ReadRecords(
      root, section.file,
      [&](std::string_view record) {
        const Json element = RecordJson(section.file, record, headings);
        out << RowText(section.name, element, style);
      },
      error);
  out.close();
  std::error_code ignored;
  if (!read || !out) {
    if (read) error = path + ": cannot be written";
    fs::remove(partial, ignored);
    return false;
  }
  std::error_code renamed;
  fs::rename(partial, path, renamed);
  if (renamed) {
    error = path + ": cannot be written: " + renamed.message();
    fs::remove(partial, ignored);
    return false;
  }
  return true;
}

std::string FolderPath(const std::string& folder) {
  if (folder.empty()) return "./";
  return folder.back() == '/' ? folder : folder + "/";
}

}  // namespace

std::vector<std::string> CsvColumns(std::string_view section) {
  std::vector<std::string> names;
  for (const CsvColumn& column : ColumnsOf(section)) {
    names.push_back(column.name);
  }
  return names;
}

bool ExportCsv(const std::string& root, const std::string& folder,
               const CsvStyle& style, std::string& error) {
  const std::string path = FolderPath(folder);
  std::error_code made;
  fs::create_directory(path, made);
  if (made || !fs::is_directory(path)) {
    error = path + ": not a folder and cannot be made";
    return false;
  }
  std::map<std::string, std::string> headings;
  if (!ReadRecords(
          root, kFinDespFile,
          [&](std::string_view record) {
            headings[KeyOf(kFinDespFile, record)] = std::string(record);
          },
          error)) {
    return false;
  }
  for (const Section& section : kSections) {
    if (!ExportSection(root, section, path, style, headings, error)) {
      return false;
    }
  }
  return true;
}

bool ReadCsvSection(std::string_view section, const std::string& file_name,
                    std::istream& in, DatasetBuilder& builder, CsvLines& lines,
                    std::string& error) {
  SectionReader reader(section, file_name, builder, lines);
  char separator = ',';
  std::string fault;
  if (!ReadCsv(
          in, separator,
          [&reader](const CsvRecord& record, std::string& message) {
            return reader.Record(record, message);
          },
          fault)) {
    error = fault.rfind(file_name, 0) == 0 ? fault : file_name + ", " + fault;
    return false;
  }
  return reader.Finish(error);
}

bool ReadCsvDataset(const std::string& folder, RecordSet& records,
                    std::string& error) {
  records = RecordSet{};
  const std::string path = FolderPath(folder);
  DatasetBuilder builder;
  CsvLines lines;
  for (const Section& section : kSections) {
    const std::string file = path + FileName(section.name);
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      error = file +
              ": cannot be read (every section needs its file, "
              "with at least its header line)";
      return false;
    }
    if (!ReadCsvSection(section.name, file, in, builder, lines, error)) {
      return false;
    }
  }
  if (!builder.Finish(records)) {
    error = builder.error();
    return false;
  }
  return true;
}

bool ImportCsv(const std::string& root, const std::string& folder,
               WriteCounts& counts, std::string& error) {
  RecordSet records;
  if (!ReadCsvDataset(folder, records, error)) return false;
  return WriteRecordSet(root, records, counts, error);
}

}  // namespace tarnevos::keldades
