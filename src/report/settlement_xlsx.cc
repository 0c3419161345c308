#include "report/settlement_xlsx.h"

#include <xlsxwriter.h>

#include <limits>

#include "platform/system/directories.h"
#include "platform/system/files.h"
#include "util/dates.h"

namespace tarnevos {
namespace {

// The workbook as written, read back whole to be put in place: generous
// for the largest installations (a 1,000-community workbook is 4 MB).
constexpr size_t kMaxWorkbookBytes = size_t{1} << 31;

constexpr double kCodeWidth = 9;
constexpr double kOwnerWidth = 30;
constexpr double kDesignationWidth = 12;
constexpr double kFigureWidth = 14;

// A packed date as the spreadsheet's date; false outside its calendar.
bool SheetDate(const std::string& packed, lxw_datetime& date) {
  const std::string digits = UnpackDigits(packed);
  if (digits.size() != 8) return false;
  const int year = std::stoi(digits.substr(0, 4));
  const int month = std::stoi(digits.substr(4, 2));
  const int day = std::stoi(digits.substr(6, 2));
  if (year < 1900 || month < 1 || month > 12 || day < 1 ||
      day > MonthLength(year, month)) {
    return false;
  }
  date = {year, month, day, 0, 0, 0.0};
  return true;
}

}  // namespace

struct XlsxWorkbook::State {
  std::string target;  // suite path of the finished workbook
  std::unique_ptr<platform::PrivateDirectory> scratch;
  std::string scratch_file;  // native path libxlsxwriter writes
  lxw_workbook* workbook = nullptr;
  lxw_format* header = nullptr;
  lxw_format* euros = nullptr;
  lxw_format* whole = nullptr;
  lxw_format* date = nullptr;
  SheetLabels labels;
  std::string error;  // the first failure

  ~State() {
    // A workbook never finished is closed only to free it; its scratch
    // file goes with the directory.
    if (workbook != nullptr) workbook_close(workbook);
  }

  bool Fail(const std::string& what) {
    if (error.empty()) error = what;
    return false;
  }

  bool Check(lxw_error status, const std::string& what) {
    if (status == LXW_NO_ERROR) return true;
    return Fail(what + ": " + lxw_strerror(status));
  }

  bool WriteCell(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t column,
                 const SheetCell& cell, lxw_format* text_format) {
    switch (cell.kind) {
      case SheetCell::Kind::kEmpty:
        return true;
      case SheetCell::Kind::kText:
        return Check(worksheet_write_string(sheet, row, column,
                                            cell.text.c_str(), text_format),
                     "cell text");
      case SheetCell::Kind::kEuros:
        return Check(worksheet_write_number(
                         sheet, row, column,
                         static_cast<double>(cell.value) / 100.0, euros),
                     "cell amount");
      case SheetCell::Kind::kWhole:
        return Check(
            worksheet_write_number(sheet, row, column,
                                   static_cast<double>(cell.value), whole),
            "cell number");
      case SheetCell::Kind::kDate: {
        lxw_datetime value{};
        if (!SheetDate(cell.date, value)) {
          const std::string text = FormatDate(cell.date, -1, "dma");
          return Check(
              worksheet_write_string(sheet, row, column, text.c_str(), nullptr),
              "cell date");
        }
        return Check(worksheet_write_datetime(sheet, row, column, &value, date),
                     "cell date");
      }
    }
    return true;
  }

  void WriteSheet(const SheetTable& table, bool header_row) {
    if (!error.empty()) return;
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, table.name.c_str());
    if (sheet == nullptr) {
      Fail("sheet \"" + table.name +
           "\" cannot be added (too many sheets for the open-file limit?)");
      return;
    }
    if (header_row) {
      worksheet_set_column(sheet, kUnitCodeColumn, kUnitCodeColumn, kCodeWidth,
                           nullptr);
      worksheet_set_column(sheet, kOwnerColumn, kOwnerColumn, kOwnerWidth,
                           nullptr);
      worksheet_set_column(sheet, kDesignationColumn, kDesignationColumn,
                           kDesignationWidth, nullptr);
      worksheet_set_column(sheet, kFirstFigureColumn, kSheetColumns - 1,
                           kFigureWidth, nullptr);
      worksheet_freeze_panes(sheet, 1, kFirstFigureColumn);
    } else {
      worksheet_set_column(sheet, 0, 0, 24, header);
      worksheet_set_column(sheet, 1, 1, 40, nullptr);
    }
    for (size_t r = 0; r < table.rows.size(); ++r) {
      const SheetRow& row = table.rows[r];
      lxw_format* text_format = header_row && r == 0 ? header : nullptr;
      for (size_t c = 0; c < row.size(); ++c) {
        if (!WriteCell(sheet, static_cast<lxw_row_t>(r),
                       static_cast<lxw_col_t>(c), row[c], text_format)) {
          return;
        }
      }
    }
  }
};

XlsxWorkbook::XlsxWorkbook(std::unique_ptr<State> state)
    : state_(std::move(state)) {}

XlsxWorkbook::~XlsxWorkbook() = default;

std::unique_ptr<XlsxWorkbook> XlsxWorkbook::Create(
    const std::string& suite_path, const RunDescription& run,
    std::string& error) {
  auto state = std::make_unique<State>();
  state->target = suite_path;
  state->scratch = platform::PrivateDirectory::Create();
  if (state->scratch == nullptr) {
    error = "no private temporary folder can be made for the workbook";
    return nullptr;
  }
  state->scratch_file = state->scratch->path() + "workbook.xlsx";
  // Constant memory: each row goes to a temporary file of its sheet as soon
  // as the next one starts. That is one open file per sheet until the end.
  platform::RaiseOpenFileLimit();
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = const_cast<char*>(state->scratch->path().c_str());
  state->workbook = workbook_new_opt(state->scratch_file.c_str(), &options);
  if (state->workbook == nullptr) {
    error = "the workbook cannot be started";
    return nullptr;
  }
  state->header = workbook_add_format(state->workbook);
  format_set_bold(state->header);
  state->euros = workbook_add_format(state->workbook);
  format_set_num_format(state->euros, "#,##0.00");
  state->whole = workbook_add_format(state->workbook);
  format_set_num_format(state->whole, "#,##0");
  state->date = workbook_add_format(state->workbook);
  format_set_num_format(state->date, "dd/mm/yyyy");
  state->labels = MakeSheetLabels();
  state->WriteSheet(ParametersSheet(run, state->labels), false);
  return std::unique_ptr<XlsxWorkbook>(new XlsxWorkbook(std::move(state)));
}

void XlsxWorkbook::Add(const CommunitySettlement& settlement) {
  if (settlement.units.empty()) return;
  state_->WriteSheet(CommunitySheet(settlement, state_->labels), true);
}

bool XlsxWorkbook::Finish(std::string& error) {
  State& state = *state_;
  if (state.workbook == nullptr) return state.Fail("finished twice");
  const lxw_error closed = workbook_close(state.workbook);
  state.workbook = nullptr;
  if (state.error.empty()) state.Check(closed, "the workbook");
  std::string bytes;
  if (state.error.empty() &&
      platform::ReadWholeFile(state.scratch_file, kMaxWorkbookBytes, bytes) !=
          platform::ReadStatus::kOk) {
    state.Fail("the workbook written cannot be read back");
  }
  if (state.error.empty() &&
      !platform::Files().WriteFileAtomically(state.target, bytes)) {
    state.Fail(state.target + " cannot be written");
  }
  error = state.error;
  return error.empty();
}

}  // namespace tarnevos
