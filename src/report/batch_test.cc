// The batch run against the form's run, and the spreadsheets against the
// print file, on the demo installation and on a generated one. The data
// files are made with the data tool built beside the tests; the workbook is
// read back with openpyxl (tests/support/xlsx_cells.py), which shares no
// code with the writer.

#include "report/batch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "console/form_table.h"
#include "console/keyboard.h"
#include "data/access_layer.h"
#include "data/data_files.h"
#include "platform/console/memory_console.h"
#include "platform/system/system.h"
#include "print/print_file.h"
#include "report/form_file.h"
#include "report/report_form.h"
#include "report/settlement.h"
#include "report/settlement_test_data.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "support/failing_files.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

using testing::AsInstalled;
using testing::ReadWhole;

std::string DataTool() {
  const char* binary_dir = std::getenv("TARNEVOS_BINARY_DIR");
  return std::string(binary_dir == nullptr ? "." : binary_dir) +
         "/tools/keldades/keldades";
}

// --- Options and parameters ----------------------------------------------

TEST(BatchOptionsTest, ReadsEveryOptionInBothFormsAndRefusesTheRest) {
  BatchOptions options;
  std::string error;
  ASSERT_TRUE(ParseBatchOptions(
      {"--batch", "--cutoff", "2026-11-30", "--from=4.3", "--to", "5.40",
       "--copies=0", "--xlsx=a.xlsx", "--csv", "dir"},
      options, error))
      << error;
  EXPECT_EQ(options.cutoff, "2026-11-30");
  EXPECT_EQ(options.from, "4.3");
  EXPECT_EQ(options.to, "5.40");
  EXPECT_EQ(options.copies, "0");
  EXPECT_EQ(options.xlsx, "a.xlsx");
  EXPECT_EQ(options.csv, "dir");

  struct Bad {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Bad bad[] = {
      {{"--batch"}, "--cutoff is missing"},
      {{"--batch", "--cutoff"}, "--cutoff needs a value"},
      {{"--batch", "--cutoff", "2026-11-30", "--copies"}, "needs a value"},
      {{"--batch", "--cutoff", "2026-11-30", "--colour", "red"},
       "unknown option --colour"},
      {{"--batch", "2026-11-30"}, "unknown option 2026-11-30"},
      // The driver's options are the driver's to read.
      {{"--batch", "--cutoff", "2026-11-30", "--output", "PDF"},
       "unknown option --output"},
  };
  for (const Bad& c : bad) {
    BatchOptions ignored;
    EXPECT_FALSE(ParseBatchOptions(c.arguments, ignored, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

TEST(BatchParametersTest, AreCheckedAsTheFormChecksItsFields) {
  testing::ResetRunState();
  struct Case {
    const char* cutoff;
    const char* from;
    const char* to;
    const char* copies;
    const char* packed_cutoff;  // nullptr: refused
    const char* from_digits;
    const char* to_digits;
    const char* message;
  };
  const Case cases[] = {
      {"2026-11-30", "0.0", "9999.9999", "1", "20261130", "00000000",
       "99999999", ""},
      {"30/11/2026", "4.3", "5.40", "0", "20261130", "00040003", "00050040",
       ""},
      {"30112026", "3", "3", "2", "20261130", "00030000", "00039999", ""},
      {"2024-02-29", "1.0", "999.999", "1", "20240229", "00010000", "09990999",
       ""},
      // Dates the form's field refuses.
      {"2026-02-30", "0.0", "1.0", "1", nullptr, "", "", "not a calendar"},
      {"31/04/2026", "0.0", "1.0", "1", nullptr, "", "", "not a calendar"},
      {"tomorrow", "0.0", "1.0", "1", nullptr, "", "", "not a calendar"},
      {"", "0.0", "1.0", "1", nullptr, "", "", "not a calendar"},
      {"1582-10-10", "0.0", "1.0", "1", nullptr, "", "", "not a calendar"},
      // Ranges and copies.
      {"2026-11-30", "5.0", "4.999", "1", nullptr, "", "", "comes after"},
      {"2026-11-30", "4.10", "4.9", "1", nullptr, "", "", "comes after"},
      {"2026-11-30", "4.x", "5.0", "1", nullptr, "", "", "--from 4.x"},
      {"2026-11-30", "1.0", "12345.0", "1", nullptr, "", "", "--to 12345.0"},
      {"2026-11-30", "1.0", "-5", "1", nullptr, "", "", "--to -5"},
      {"2026-11-30", "1.0", "5.0", "-1", nullptr, "", "", "--copies -1"},
      {"2026-11-30", "1.0", "5.0", "two", nullptr, "", "", "--copies two"},
      {"2026-11-30", "1.0", "5.0", "40000", nullptr, "", "", "--copies"},
  };
  for (const Case& c : cases) {
    BatchOptions options;
    options.cutoff = c.cutoff;
    options.from = c.from;
    options.to = c.to;
    options.copies = c.copies;
    ReportParameters parameters;
    std::string error;
    const bool ok = BatchParameters(options, parameters, error);
    EXPECT_EQ(ok, c.packed_cutoff != nullptr) << c.cutoff << " " << error;
    if (!ok) {
      EXPECT_NE(error.find(c.message), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(parameters.cutoff_date, PackDigits(c.packed_cutoff)) << c.cutoff;
    EXPECT_EQ(parameters.range_from, PackDigits(c.from_digits)) << c.from;
    EXPECT_EQ(parameters.range_to, PackDigits(c.to_digits)) << c.to;
    EXPECT_EQ(parameters.copies, std::atoi(c.copies));
  }
  testing::ResetRunState();
}

// --- Installations ---------------------------------------------------------

// One program run by the report: its path and arguments.
struct ProgramCall {
  std::string program;
  std::vector<std::string> arguments;
};

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    if (!std::filesystem::exists(DataTool())) {
      GTEST_SKIP() << "the data tool is not built: " << DataTool();
    }
  }
  void TearDown() override { testing::ResetRunState(); }

  bool RunTool(const std::vector<std::string>& arguments) {
    const platform::ProgramResult result =
        platform::RunProgram(DataTool(), arguments);
    EXPECT_TRUE(result.started && result.exit_code == 0)
        << arguments[0] << ": " << result.error;
    return result.started && result.exit_code == 0;
  }

  // The demo installation with its settings and language file.
  void InstallDemo() {
    const std::string source = testing::SourceDir() + "/demo/root/";
    ASSERT_TRUE(RunTool({"init", root()}));
    ASSERT_TRUE(RunTool({"load", root(), source + "data.json"}));
    dir_.Write("ROOT/Orvo.ini", AsInstalled(ReadWhole(source + "Orvo.ini")));
    dir_.Write("ROOT/LOCALE/TARNEVOS.LNG",
               AsInstalled(ReadWhole(source + "LOCALE/TARNEVOS.LNG")));
    StartSession("CAT");
  }

  // A generated installation without settings files (default characters).
  void InstallGenerated() {
    ASSERT_TRUE(RunTool({"generate", root(), "--communities", "12", "--units",
                         "9", "--years", "1", "--seed", "5"}));
    StartSession("CAT");
  }

  // The session as the driver leaves it before the report.
  void StartSession(const char* language) {
    SessionSettings& session = TEST_MutableSession();
    session.root_dir = root();
    session.tmp_dir = dir_.path();
    session.exe_dir = dir_.path();
    session.language = language;
    session.output_target = "PANTALLA";
    session.work_date = PackDigits("20261130");
    SelectCurrency("a,E");
    MutableRun().program_id = "TARNEVOS";
    LoadAdministratorLines();
    platform::TEST_SetProgramRunner(
        [this](std::string_view program,
               const std::vector<std::string>& arguments) {
          calls_.push_back({std::string(program), arguments});
          return program_result_;
        });
  }

  // The report as the operator makes it: form 1 filled in, accepted with
  // Ctrl+B, confirmed with S, then Esc. Returns the print file.
  std::string FormReport(const std::string& cutoff,
                         const std::vector<std::string>& fields) {
    const std::string forms =
        ReadWhole(testing::SourceDir() + "/demo/root/FORMS/TARNEVOS.KPN");
    EXPECT_TRUE(ReadFormText(Cp850(forms), "TARNEVOS.KPN"));
    InstallReportHooks();
    const std::vector<std::string> values = {cutoff,    fields[0], fields[1],
                                             fields[2], fields[3], fields[4]};
    for (int16_t j = 1; j <= 6; ++j) {
      FieldDef* field = FindField(report_form::kParameterForm, j);
      EXPECT_NE(field, nullptr);
      if (field != nullptr)
        field->value = FitText(values[j - 1], field->length);
    }
    platform::MemoryConsole& console = platform::BuiltInMemoryConsole();
    console.PushKeys({key::kCtrlB, 'S', key::kEnter, key::kEsc});
    ResetWorkTables();
    OpenAllDataFiles();
    LoadFeeSettings();
    RunReport();
    int16_t status = 0;
    CloseAllDataFiles(status);
    EXPECT_EQ(console.PendingEvents(), 0u);
    return dir_.Read("kelprint.tmp");
  }

  int Batch(const BatchOptions& options) {
    std::ostringstream err;
    const int code = RunBatch(options, err);
    err_ = err.str();
    return code;
  }

  std::string root() const { return dir_.path() + "ROOT/"; }

  testing::ScratchDir dir_;
  testing::ScopedEnv env_{{"KELROOT", dir_.path() + "ROOT/"}};
  std::vector<ProgramCall> calls_;
  platform::ProgramResult program_result_{true, 0, ""};
  std::string err_;
};

// --- The print file --------------------------------------------------------

TEST_F(BatchTest, PrintFileEqualsTheFormsForTheSameParameters) {
  InstallDemo();
  struct Case {
    const char* typed_cutoff;  // as typed in the form
    std::vector<std::string> fields;
    BatchOptions options;
  };
  const Case cases[] = {
      {"30/11/2026",
       {"1", "0", "999", "999", "1"},
       {"2026-11-30", "1.0", "999.999", "1", "", ""}},
      // Part of two communities: RESTA COMUNITAT.
      {"30/11/2026",
       {"4", "3", "5", "40", "1"},
       {"2026-11-30", "4.3", "5.40", "1", "", ""}},
      // One copy per unit.
      {"31/10/2026",
       {"6", "0", "7", "999", "0"},
       {"31/10/2026", "6", "7", "0", "", ""}},
      {"151026",
       {"2", "0", "3", "999", "2"},
       {"15102026", "2.0", "3.999", "2", "", ""}},
      // No community in the range: the device line only.
      {"30/11/2026",
       {"8", "0", "999", "999", "1"},
       {"2026-11-30", "8", "999.999", "1", "", ""}},
  };
  for (const Case& c : cases) {
    const std::string form = FormReport(c.typed_cutoff, c.fields);
    ASSERT_FALSE(form.empty());
    ASSERT_TRUE(dir_.Exists("kelprint.tmp"));
    std::filesystem::remove(dir_.path() + "kelprint.tmp");
    calls_.clear();

    ResetWorkTables();
    EXPECT_EQ(Batch(c.options), kBatchDone) << err_;
    EXPECT_EQ(err_, "");
    EXPECT_TRUE(dir_.Read("kelprint.tmp") == form)
        << "batch and form differ for " << c.options.from << " - "
        << c.options.to << " copies " << c.options.copies;
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_EQ(calls_[0].program, dir_.path() + "KELPRINT");
    EXPECT_TRUE(calls_[0].arguments.empty());
  }
}

TEST_F(BatchTest, RefusedParametersPrintNothing) {
  InstallDemo();
  BatchOptions options;
  options.cutoff = "2026-13-01";
  EXPECT_EQ(Batch(options), kBatchUsage);
  EXPECT_NE(err_.find("--cutoff 2026-13-01: not a calendar date"),
            std::string::npos)
      << err_;
  options.cutoff = "2026-11-30";
  options.from = "7.0";
  options.to = "6.999";
  EXPECT_EQ(Batch(options), kBatchUsage);
  EXPECT_NE(err_.find("--from 7.0 comes after --to 6.999"), std::string::npos);
  EXPECT_FALSE(dir_.Exists("kelprint.tmp"));
  EXPECT_TRUE(calls_.empty());
}

TEST_F(BatchTest, PrintingThatFailsIsToldAndEndsNonZero) {
  InstallDemo();
  BatchOptions options;
  options.cutoff = "2026-11-30";
  options.from = "6";
  options.to = "6";

  // The print program ran but could not serve its device.
  program_result_ = {true, 2, ""};
  EXPECT_EQ(Batch(options), kBatchFailed);
  EXPECT_NE(err_.find("print program ended with exit code 2"),
            std::string::npos)
      << err_;

  // It could not be started at all.
  program_result_ = {false, 0, "no such file"};
  EXPECT_EQ(Batch(options), kBatchFailed);
  EXPECT_NE(err_.find(Utf8FromCp850(Cp850("NO ES POT EXECUTAR EL PROGRAMA"))),
            std::string::npos)
      << err_;

  // The print file could not be written: nothing is printed.
  program_result_ = {true, 0, ""};
  calls_.clear();
  {
    testing::FailingFileSystem files;
    files.FillDiskAfter("kelprint.tmp", 40);
    EXPECT_EQ(Batch(options), kBatchFailed);
  }
  EXPECT_NE(err_.find(Utf8FromCp850(Cp850("NO ES POT ESCRIURE EL FITXER"))),
            std::string::npos)
      << err_;
  EXPECT_TRUE(calls_.empty());
  // No message box was shown, and no key awaited.
  EXPECT_FALSE(platform::BuiltInMemoryConsole().ScreenContains("NO ES POT"));
  EXPECT_EQ(platform::BuiltInMemoryConsole().ExhaustedWaits(), 0);
}

TEST_F(BatchTest, SpreadsheetsThatCannotBeWrittenAreTold) {
  InstallDemo();
  BatchOptions options;
  options.cutoff = "2026-11-30";
  // A folder whose parent is missing: nothing is printed.
  options.csv = dir_.path() + "missing/csv";
  EXPECT_EQ(Batch(options), kBatchFailed);
  EXPECT_NE(err_.find("cannot be made"), std::string::npos) << err_;
  EXPECT_TRUE(calls_.empty());

  // A workbook that cannot be put in place: the report is printed, the old
  // workbook stays.
  options.csv.clear();
  options.xlsx = dir_.path() + "resum.xlsx";
  dir_.Write("resum.xlsx", "old");
  {
    testing::FailingFileSystem files;
    files.FillDiskAfter("resum.xlsx", 10);
    EXPECT_EQ(Batch(options), kBatchFailed);
  }
  EXPECT_NE(err_.find("resum.xlsx cannot be written"), std::string::npos)
      << err_;
  EXPECT_EQ(calls_.size(), 1u);
  EXPECT_EQ(dir_.Read("resum.xlsx"), "old");
}

TEST_F(BatchTest, StatementsGoToTheirFolderBeforeThePrintProgramRuns) {
  InstallDemo();
  BatchOptions options;
  options.cutoff = "2026-11-30";
  options.from = "6";
  options.to = "7";
  options.statements = dir_.path() + "extractes";
  EXPECT_EQ(Batch(options), kBatchDone) << err_;
  EXPECT_TRUE(dir_.Exists("extractes/0006-20261130.pdf"));
  EXPECT_TRUE(dir_.Exists("extractes/0007-20261130.pdf"));
  EXPECT_TRUE(dir_.Exists("extractes/EXTRACTES-0006-0007-20261130.pdf"));
  EXPECT_EQ(calls_.size(), 1u);

  // A folder that cannot be made: told, and the run ends non-zero.
  dir_.Write("blocked", "a file");
  options.statements = dir_.path() + "blocked/extractes";
  EXPECT_EQ(Batch(options), kBatchFailed);
  EXPECT_NE(err_.find("blocked"), std::string::npos) << err_;
}

TEST_F(BatchTest, DataFileThatCannotBeOpenedEndsTheRunWithItsMessage) {
  InstallDemo();
  dir_.Write("ROOT/DADES/PagamH.dat", "not a data file at all");
  BatchOptions options;
  options.cutoff = "2026-11-30";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunBatch(options, std::cerr),
              ::testing::ExitedWithCode(kBatchDataStop),
              "tarnevos: NO ES POT ACCEDIR AL FITXER .*PagamH");
}

// --- The spreadsheets against the print file ------------------------------

// An amount slot of the print file back in hundredths: the last two
// characters are the cents (blank where the remainder line's mask leaves
// zero cents out), separators are skipped.
int64_t EuroSlot(const std::string& slot) {
  int64_t value = 0;
  for (size_t i = 0; i < slot.size(); ++i) {
    const bool cents = i + 2 >= slot.size();
    if (std::isdigit(static_cast<unsigned char>(slot[i]))) {
      value = value * 10 + (slot[i] - '0');
    } else if (cents) {
      value *= 10;
    }
  }
  return slot.find('-') != std::string::npos ? -value : value;
}

// A peseta slot: whole pesetas.
int64_t PesetaSlot(const std::string& slot) {
  int64_t value = 0;
  for (char c : slot) {
    if (std::isdigit(static_cast<unsigned char>(c)))
      value = value * 10 + (c - '0');
  }
  return slot.find('-') != std::string::npos ? -value : value;
}

// What a community shows on paper: its unit lines (number, figures), the
// remainder line with its label, the total line in euros and in pesetas.
struct PrintedCommunity {
  std::vector<std::pair<int, testing::LineFigures12>> units;
  std::string remainder_label;
  testing::LineFigures12 remainder{};
  testing::LineFigures12 totals{};
  testing::LineFigures12 pesetas{};
};

std::vector<PrintedCommunity> PrintedCommunities(const std::string& contents) {
  std::vector<PrintedCommunity> communities(1);
  std::string previous;
  // Columns are counted in CP850 characters, one byte each.
  for (const std::string& line : testing::RenderPrintFile(contents)) {
    auto figures = [&line](bool pesetas) {
      testing::LineFigures12 values{};
      const auto slots = testing::FigureSlots(line);
      for (size_t i = 0; i < slots.size(); ++i) {
        values[i] = pesetas ? PesetaSlot(slots[i]) : EuroSlot(slots[i]);
      }
      return values;
    };
    PrintedCommunity& current = communities.back();
    if (line.size() > 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
        line[3] == ' ') {
      current.units.push_back({std::stoi(line.substr(0, 3)), figures(false)});
    } else if (line.rfind(std::string(15, ' ') + std::string(120, '-'), 0) ==
               0) {
      const std::string above = previous;
      current.remainder_label =
          Utf8FromCp850(TrimRightBlanks(above.substr(0, 15)));
      const auto slots = testing::FigureSlots(above);
      for (size_t i = 0; i < slots.size(); ++i) {
        current.remainder[i] = EuroSlot(slots[i]);
      }
    } else if (line.rfind("TOTAL COMUNITAT", 0) == 0) {
      current.totals = figures(false);
    } else if (line.rfind("ESP", 0) == 0) {
      current.pesetas = figures(true);
      communities.emplace_back();
    }
    previous = line;
  }
  communities.pop_back();
  return communities;
}

// A sheet read back: its name and rows of cell texts.
struct ReadSheet {
  std::string name;
  std::vector<std::vector<std::string>> rows;
};

std::vector<std::string> SplitOn(const std::string& line, char separator) {
  std::vector<std::string> cells;
  std::string cell;
  std::istringstream in(line);
  while (std::getline(in, cell, separator)) cells.push_back(cell);
  if (!line.empty() && line.back() == separator) cells.emplace_back();
  return cells;
}

// The workbook through openpyxl.
std::vector<ReadSheet> ReadWorkbook(const std::string& path) {
  const std::string command = "/usr/bin/python3 '" + testing::SourceDir() +
                              "/tests/support/xlsx_cells.py' '" + path + "'";
  std::vector<ReadSheet> sheets;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return sheets;
  std::string text;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    text.append(buffer, got);
  }
  const int status = ::pclose(pipe);
  EXPECT_EQ(status, 0) << command << " (needs python3-openpyxl)";
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("SHEET\t", 0) == 0) {
      sheets.push_back({line.substr(6), {}});
    } else if (!sheets.empty()) {
      sheets.back().rows.push_back(SplitOn(line, '\t'));
    }
  }
  return sheets;
}

// The CSV files of a folder, parameters first, then the communities in
// order. The settlement's texts hold no quotes or line ends except where
// a field is quoted for a comma.
std::vector<ReadSheet> ReadCsvFolder(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files.push_back(entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  std::vector<ReadSheet> sheets;
  for (const std::string& file : files) {
    ReadSheet sheet{file, {}};
    std::istringstream lines(ReadWhole(folder + "/" + file));
    std::string line;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::vector<std::string> cells;
      std::string cell;
      bool quoted = false;
      for (char c : line) {
        if (c == '"') {
          quoted = !quoted;
        } else if (c == ',' && !quoted) {
          cells.push_back(cell);
          cell.clear();
        } else {
          cell += c;
        }
      }
      cells.push_back(cell);
      sheet.rows.push_back(cells);
    }
    if (file == "parameters.csv") {
      sheets.insert(sheets.begin(), sheet);
    } else {
      sheets.push_back(sheet);
    }
  }
  return sheets;
}

// A number cell back in hundredths (or whole pesetas): "N:12.5" from the
// workbook, "12.50" from the CSV.
int64_t Hundredths(const std::string& cell, bool whole) {
  const std::string number = cell.rfind("N:", 0) == 0 ? cell.substr(2) : cell;
  const double value = std::stod(number);
  return std::llround(whole ? value : value * 100.0);
}

// Every row of every community sheet equals the print file's figures, the
// pesetas of the total row its peseta line, and every column's rows plus
// the remainder make up the total.
void ExpectSheetsArePrinted(const std::vector<ReadSheet>& sheets,
                            const std::vector<PrintedCommunity>& printed,
                            const std::string& what) {
  SCOPED_TRACE(what);
  ASSERT_EQ(sheets.size(), printed.size() + 1) << "parameters + communities";
  for (size_t s = 0; s < printed.size(); ++s) {
    const ReadSheet& sheet = sheets[s + 1];
    const PrintedCommunity& paper = printed[s];
    SCOPED_TRACE(sheet.name);
    ASSERT_EQ(sheet.rows.size(), paper.units.size() + 3);
    EXPECT_EQ(sheet.rows[0][0], "COD");
    std::array<int64_t, 12> column_sums{};
    for (size_t r = 1; r < sheet.rows.size(); ++r) {
      const std::vector<std::string>& row = sheet.rows[r];
      ASSERT_GE(row.size(), 15u) << "row " << r;
      testing::LineFigures12 figures{};
      for (size_t i = 0; i < 12; ++i)
        figures[i] = Hundredths(row[3 + i], false);
      if (r <= paper.units.size()) {
        const auto& [number, line] = paper.units[r - 1];
        const std::string& code = row[0];
        EXPECT_EQ(std::stoi(code.substr(code.find('.') + 1)) % 1000, number);
        EXPECT_EQ(figures, line) << "unit row " << r;
        for (size_t i = 0; i < 12; ++i) column_sums[i] += figures[i];
      } else if (r == paper.units.size() + 1) {
        EXPECT_EQ(row[0], paper.remainder_label);
        EXPECT_EQ(figures, paper.remainder);
        for (size_t i = 0; i < 12; ++i) column_sums[i] += figures[i];
      } else {
        EXPECT_EQ(row[0], "TOTAL COMUNITAT");
        EXPECT_EQ(figures, paper.totals);
        EXPECT_EQ(column_sums, figures) << "rows + remainder = total";
        ASSERT_EQ(row.size(), 27u);
        testing::LineFigures12 pesetas{};
        for (size_t i = 0; i < 12; ++i) {
          pesetas[i] = Hundredths(row[15 + i], true);
        }
        EXPECT_EQ(pesetas, paper.pesetas);
      }
    }
  }
}

class SpreadsheetTest : public BatchTest {
 protected:
  // Runs the batch with both spreadsheets and checks them against its
  // print file.
  void RunAndCompare(BatchOptions options, const std::string& what) {
    options.xlsx = dir_.path() + "resum.xlsx";
    options.csv = dir_.path() + "csv";
    std::filesystem::remove_all(options.csv);
    ASSERT_EQ(Batch(options), kBatchDone) << err_;
    const auto printed = PrintedCommunities(dir_.Read("kelprint.tmp"));
    ASSERT_FALSE(printed.empty());
    const auto workbook = ReadWorkbook(options.xlsx);
    ExpectSheetsArePrinted(workbook, printed, what + " workbook");
    const auto csv = ReadCsvFolder(options.csv);
    ExpectSheetsArePrinted(csv, printed, what + " CSV");

    // The parameters come first in both.
    ASSERT_FALSE(workbook.empty());
    ASSERT_FALSE(csv.empty());
    for (const ReadSheet* sheet : {&workbook[0], &csv[0]}) {
      ASSERT_EQ(sheet->rows.size(), 7u);
      EXPECT_EQ(sheet->rows[1][1], options.from);
      EXPECT_EQ(sheet->rows[2][1], options.to);
    }
    EXPECT_EQ(workbook[0].rows[0][1],
              "D:" + FormatDate(Parameters().cutoff_date, -1, "dma"));
    EXPECT_EQ(csv[0].rows[0][1],
              FormatDate(Parameters().cutoff_date, -1, "dma"));
  }
};

TEST_F(SpreadsheetTest, DemoRowsAreThePrintFilesFigures) {
  InstallDemo();
  BatchOptions options;
  options.cutoff = "2026-11-30";
  options.from = "1.0";
  options.to = "999.999";
  RunAndCompare(options, "every unit");
  // Units left out: the remainder is the rest of the community.
  options.from = "4.3";
  options.to = "5.40";
  RunAndCompare(options, "part");

  // Sheet names and labels as the demo has them.
  const auto workbook = ReadWorkbook(dir_.path() + "resum.xlsx");
  ASSERT_EQ(workbook.size(), 3u);
  EXPECT_EQ(workbook[0].name, Utf8FromCp850(Cp850("PARÀMETRES")));
  EXPECT_EQ(workbook[1].name, "0004 COMUNITAT D'ARC");
  EXPECT_EQ(workbook[1].rows.back()[0], "TOTAL COMUNITAT");
  EXPECT_EQ(workbook[1].rows[workbook[1].rows.size() - 2][0],
            "RESTA COMUNITAT");
  EXPECT_EQ(workbook[0].rows[5][1], "FINQUES MONTSENY, SL");
}

TEST_F(SpreadsheetTest, GeneratedRowsAreThePrintFilesFigures) {
  InstallGenerated();
  BatchOptions options;
  options.cutoff = "2026-12-31";
  options.from = "0.0";
  options.to = "9999.9999";
  RunAndCompare(options, "generated");
  options.from = "3.2";
  options.to = "9.5";
  RunAndCompare(options, "generated part");
}

}  // namespace
}  // namespace tarnevos
