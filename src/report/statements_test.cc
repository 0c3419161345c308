// Owners' statements over the demo installation, a generated one and small
// installations built here: what the PDF files say (read back with
// pdftotext and qpdf) against the settlement structure and the summary's
// print file.

#include "report/statements.h"

#include <gtest/gtest.h>

#include <cctype>
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
#include "report/form_file.h"
#include "report/report_form.h"
#include "report/settlement.h"
#include "report/settlement_test_data.h"
#include "report/statement_texts.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "settings/translate.h"
#include "support/failing_files.h"
#include "support/pdf_tools.h"
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

namespace fs = std::filesystem;
using T = StatementText;

std::string Utf8(std::string_view cp850) { return Utf8FromCp850(cp850); }

// An amount as the statements write it (two decimals always shown) back in
// hundredths, whatever the separators.
int64_t ParseAmount(std::string_view text) {
  int64_t value = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') value = value * 10 + (c - '0');
  }
  return text.find('-') != std::string_view::npos ? -value : value;
}

// The amounts of a text line, left to right: numbers with two decimals
// after a "," or a "'" (the demo's and the default decimal characters).
std::vector<int64_t> AmountsIn(const std::string& line) {
  std::vector<int64_t> amounts;
  size_t i = 0;
  while (i < line.size()) {
    const bool sign = line[i] == '-' && i + 1 < line.size() &&
                      std::isdigit(static_cast<unsigned char>(line[i + 1]));
    if (!sign && !std::isdigit(static_cast<unsigned char>(line[i]))) {
      ++i;
      continue;
    }
    size_t end = i + (sign ? 1 : 0);
    while (end < line.size() &&
           (std::isdigit(static_cast<unsigned char>(line[end])) ||
            line[end] == '.'))
      ++end;
    if (end + 2 < line.size() + 0 && (line[end] == ',' || line[end] == '\'') &&
        std::isdigit(static_cast<unsigned char>(line[end + 1])) &&
        std::isdigit(static_cast<unsigned char>(line[end + 2])) &&
        (end + 3 >= line.size() ||
         !std::isdigit(static_cast<unsigned char>(line[end + 3])))) {
      amounts.push_back(ParseAmount(line.substr(i, end + 3 - i)));
      end += 3;
    }
    i = end;
  }
  return amounts;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string Collapse(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool blank = c == ' ' || c == '\n' || c == '\f';
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out += blank ? ' ' : c;
  }
  return out;
}

// One page of a statements file as pdftotext lays it out.
struct PageText {
  std::vector<std::string> lines;

  // The first line holding `label` (UTF-8) after trimming, or "".
  std::string LineWith(const std::string& label, int occurrence = 1) const {
    for (const std::string& line : lines) {
      if (line.find(label) != std::string::npos && --occurrence == 0)
        return line;
    }
    return "";
  }
  // The whole page, every run of blanks and line ends made one blank.
  std::string Collapsed() const {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return Collapse(text);
  }
  int64_t LastAmount(const std::string& label, int occurrence = 1) const {
    const std::vector<int64_t> amounts = AmountsIn(LineWith(label, occurrence));
    return amounts.empty() ? INT64_MIN : amounts.back();
  }
};

std::vector<PageText> Pages(const std::string& text) {
  std::vector<PageText> pages;
  std::string page;
  for (char c : text) {
    if (c == '\f') {
      pages.push_back({SplitLines(page)});
      page.clear();
    } else {
      page += c;
    }
  }
  return pages;
}

// The labels in the session's language, UTF-8.
struct Labels {
  explicit Labels() {
    StatementTexts texts;
    texts.Load();
    for (int i = 0; i < static_cast<int>(T::kCount); ++i)
      text[i] = Utf8(texts[static_cast<T>(i)]);
  }
  const std::string& operator[](T id) const {
    return text[static_cast<int>(id)];
  }
  std::string Before(T id) const {  // the part before a placeholder
    const std::string& whole = (*this)[id];
    return whole.substr(0, whole.find('{'));
  }
  std::string text[static_cast<int>(T::kCount)];
};

// The figures of each unit line of the summary's print file, by community
// and unit number (the first copy of each).
using PrintedLines =
    std::map<std::pair<std::string, int>, std::vector<int64_t>>;

int64_t ParseSlot(const std::string& slot) {
  int64_t value = 0;
  for (size_t i = 0; i < slot.size(); ++i) {
    const bool cents = i + 2 >= slot.size();
    if (slot[i] >= '0' && slot[i] <= '9') {
      value = value * 10 + (slot[i] - '0');
    } else if (cents) {
      value = value * 10;
    }
  }
  return slot.find('-') != std::string::npos ? -value : value;
}

class StatementsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    if (!fs::exists(kStatementFont) || !fs::exists(kStatementBoldFont))
      GTEST_SKIP() << "fonts-dejavu-core is not installed";
    tools_ = testing::HaveTool("pdftotext") && testing::HaveTool("qpdf");
  }

  // The print program is not started.
  static void NoPrintProgram() {
    platform::TEST_SetProgramRunner(
        [](std::string_view, const std::vector<std::string>&) {
          return platform::ProgramResult{true, 0, ""};
        });
  }
  void TearDown() override {
    int16_t status = 0;
    CloseAllDataFiles(status);
    testing::ResetRunState();
  }

  // An installation laid out by the data tool (its arguments after the
  // root), with the demo's settings and language files.
  bool LayOut(const std::vector<std::vector<std::string>>& tool_runs,
              const std::string& language) {
    const char* binary_dir = std::getenv("TARNEVOS_BINARY_DIR");
    const std::string tool =
        std::string(binary_dir == nullptr ? "." : binary_dir) +
        "/tools/keldades/keldades";
    if (!fs::exists(tool)) return false;
    const std::string source = testing::SourceDir() + "/demo/root/";
    platform::TEST_SetProgramRunner(nullptr);
    for (std::vector<std::string> arguments : tool_runs) {
      arguments.insert(arguments.begin() + 1, root());
      const platform::ProgramResult result =
          platform::RunProgram(tool, arguments);
      EXPECT_TRUE(result.started && result.exit_code == 0)
          << tool << " " << arguments[0] << ": " << result.error;
    }
    NoPrintProgram();
    dir_.Write("ROOT/Orvo.ini", AsInstalled(ReadWhole(source + "Orvo.ini")));
    dir_.Write("ROOT/LOCALE/TARNEVOS.LNG",
               AsInstalled(ReadWhole(source + "LOCALE/TARNEVOS.LNG")));
    SessionSettings& session = TEST_MutableSession();
    session.root_dir = root();
    session.tmp_dir = dir_.path();
    session.exe_dir = dir_.path();
    session.language = language;
    session.output_target = "PANTALLA";
    SelectCurrency("a,E");
    MutableRun().program_id = "TARNEVOS";
    LoadAdministratorLines();
    LoadFeeSettings();
    OpenAllDataFiles();
    return true;
  }

  std::string root() const { return dir_.path() + "ROOT/"; }

  void SetRange(const char* from, const char* to) {
    ReportParameters& parameters = Parameters();
    parameters.cutoff_date = PackDigits("20261130");
    parameters.range_from = PackDottedCode(from);
    parameters.range_to = PackDottedCode(to);
    parameters.copies = 1;
  }

  // One report with statements into `folder`; the settlements handed out.
  StatementsOutcome Produce(const std::string& folder) {
    settlements_.clear();
    StatementsWriter writer(folder);
    StatementsOutcome outcome;
    ProduceReport(
        [&](const CommunitySettlement& settlement) {
          settlements_.push_back(settlement);
          writer.Add(settlement);
        },
        [&] { outcome = writer.Finish(); });
    return outcome;
  }

  PrintedLines PrintedUnitLines() const {
    PrintedLines printed;
    const std::string heading =
        Translate(Cp850("CORRESPONENT A LA COMUNITAT DE PROPIETARIS ("));
    std::string community;  // as the heading shows its code
    for (const std::string& line :
         testing::RenderPrintFile(dir_.Read("kelprint.tmp"))) {
      const size_t at = line.find(heading);
      if (at != std::string::npos) {
        const size_t start = at + heading.size();
        community = line.substr(start, line.find(')', start) - start);
        continue;
      }
      const bool unit_line = line.size() > 4 && std::isdigit(line[0]) &&
                             std::isdigit(line[1]) && std::isdigit(line[2]) &&
                             line[3] == ' ';
      if (!unit_line) continue;
      std::string code;
      for (const CommunitySettlement& settlement : settlements_) {
        if (FormatPackedCode(settlement.code) == community)
          code = settlement.code;
      }
      std::vector<int64_t> figures;
      for (const std::string& slot : testing::FigureSlots(line))
        figures.push_back(ParseSlot(slot));
      printed.emplace(std::make_pair(code, std::stoi(line.substr(0, 3))),
                      figures);
    }
    return printed;
  }

  // Every check of a run's files against the structure and the summary.
  void CheckRun(const StatementsOutcome& outcome, const std::string& folder) {
    ASSERT_TRUE(outcome.ok) << Utf8(outcome.error);
    // TARNEVOS_STATEMENTS_OUT=DIR keeps a copy of the files to look at.
    if (const char* keep = std::getenv("TARNEVOS_STATEMENTS_OUT")) {
      const std::string into =
          std::string(keep) + "/" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name() +
          "-" + Session().language;
      fs::create_directories(into);
      fs::copy(
          folder, into,
          fs::copy_options::overwrite_existing | fs::copy_options::recursive);
    }
    const Labels labels;
    const PrintedLines printed = PrintedUnitLines();
    int statements = 0;
    std::vector<testing::OutlineItem> combined_outline;
    for (const CommunitySettlement& settlement : settlements_) {
      if (settlement.units.empty()) {
        EXPECT_FALSE(
            fs::exists(folder + CommunityStatementsName(
                                    settlement.code, settlement.cutoff_date)));
        continue;
      }
      SCOPED_TRACE("community " + UnpackDigits(settlement.code));
      const std::string path =
          folder +
          CommunityStatementsName(settlement.code, settlement.cutoff_date);
      ASSERT_TRUE(fs::exists(path)) << path;
      std::string report;
      EXPECT_TRUE(testing::QpdfCheck(path, report)) << report;
      ASSERT_EQ(testing::PdfPageCount(path),
                static_cast<int>(settlement.units.size()));

      // The outline: one entry per unit, on its page.
      std::vector<testing::OutlineItem> outline;
      combined_outline.push_back(
          {0,
           Utf8("(" + FormatPackedCode(settlement.code) + ") " +
                TrimBlanks(ReorderName(settlement.name))),
           statements + 1});
      for (size_t u = 0; u < settlement.units.size(); ++u) {
        const UnitSettlement& unit = settlement.units[u];
        const std::string title =
            Utf8(ZeroPad(unit.number, 3) + " " + TrimBlanks(unit.designation) +
                 " - " + TrimBlanks(ReorderName(unit.owner)));
        outline.push_back({0, title, static_cast<int>(u) + 1});
        combined_outline.push_back(
            {1, title, statements + static_cast<int>(u) + 1});
      }
      EXPECT_EQ(testing::PdfOutline(path), outline);

      const std::vector<PageText> pages = Pages(testing::PdfText(path));
      ASSERT_EQ(pages.size(), settlement.units.size());
      std::array<int64_t, 8> shares_read{};
      for (size_t u = 0; u < settlement.units.size(); ++u) {
        const UnitSettlement& unit = settlement.units[u];
        const PageText& page = pages[u];
        SCOPED_TRACE("unit " + std::to_string(unit.number));
        // pdftotext gives one blank where the page has two.
        const std::string heading = Collapse(Utf8(
            Fill(Cp850(labels[T::kUnit]),
                 {ZeroPad(unit.number, 3), TrimBlanks(unit.designation)})));
        EXPECT_NE(page.Collapsed().find(heading), std::string::npos) << heading;
        // Every column the community uses: the community's expenses in
        // it, the coefficients, the share.
        for (int k = 1; k <= 7; ++k) {
          const std::string title =
              Utf8(TrimRightBlanks(settlement.column_title[k]));
          std::string row;
          for (const std::string& line : page.lines) {
            const std::string trimmed = TrimLeftBlanks(line);
            if (trimmed.rfind(std::string(1, "ABCDEFG"[k - 1]) + " ", 0) == 0 &&
                line.find(" / ") != std::string::npos &&
                (title.empty() || line.find(title) != std::string::npos)) {
              row = line;
            }
          }
          if (row.empty()) {
            EXPECT_EQ(unit.amount[k], 0) << "column " << k << " not shown";
            continue;
          }
          const std::vector<int64_t> amounts = AmountsIn(row);
          ASSERT_EQ(amounts.size(), 2u) << row;
          EXPECT_EQ(amounts[0], settlement.column_expense[k]) << row;
          EXPECT_EQ(amounts[1], unit.amount[k]) << row;
          shares_read[k] += amounts[1];
        }
        const std::array<std::pair<T, int64_t>, 3> singles = {{
            {T::kPrivateExpenses, unit.amount[8]},
            {T::kPreviousBalance, unit.amount[0]},
            {T::kPaid, unit.collected},
        }};
        for (const auto& [label, value] : singles) {
          EXPECT_EQ(page.LastAmount(labels.Before(label)), value)
              << labels[label];
        }
        EXPECT_EQ(page.LastAmount(labels[T::kTotalCharged], 1), unit.expenses);
        EXPECT_EQ(page.LastAmount(labels[T::kTotalCharged], 2), unit.expenses);
        EXPECT_EQ(page.LastAmount(labels[T::kCurrentBalance]), unit.balance);
        // Who owes whom.
        const T words = unit.balance < 0   ? T::kInFavourOfCommunity
                        : unit.balance > 0 ? T::kInFavourOfOwner
                                           : T::kSettled;
        const std::string expected_words =
            unit.balance == 0
                ? labels[words]
                : Utf8(
                      Fill(Cp850(labels[words]),
                           {StatementAmount(unit.balance < 0 ? -unit.balance
                                                             : unit.balance)}));
        EXPECT_NE(Collapse(page.LineWith(expected_words)), "")
            << expected_words;

        // The summary printed the same figures on the unit's line, where
        // its 10-character slots can hold them.
        const auto line = printed.find({settlement.code, unit.number});
        ASSERT_NE(line, printed.end());
        const LineFigures figures = unit.Figures();
        for (size_t i = 0; i < figures.size(); ++i) {
          const double value = static_cast<double>(figures[i]);
          if (ParseSlot(FormatAmount("ZZ,ZZZ,ZZ9", value)) != figures[i])
            continue;
          EXPECT_EQ(line->second[i], figures[i]) << "figure " << i;
        }
      }

      // The remainder the explanation states is the AJUST / RESTA line,
      // and with the shares it makes each column's expenses.
      std::string remainder;
      for (int k = 1; k <= 7; ++k) {
        EXPECT_EQ(shares_read[k] + settlement.remainder[k],
                  settlement.column_expense[k])
            << "column " << k;
        if (settlement.remainder[k] == 0 ||
            (k > 1 && settlement.column_coefficient_total[k] == 0 &&
             settlement.column_expense[k] == 0 &&
             IsAllChar(settlement.column_title[k], ' ')))
          continue;
        if (!remainder.empty()) remainder += "; ";
        remainder += std::string(1, "ABCDEFG"[k - 1]) + " " +
                     Utf8(StatementAmount(settlement.remainder[k]));
      }
      if (remainder.empty()) remainder = labels[T::kNoDifference];
      const std::string explained = Utf8(Fill(
          Cp850(
              labels[settlement.AllListed() ? T::kHowAdjustment : T::kHowRest]),
          {Cp850(remainder),
           Translate(
               Cp850(settlement.AllListed() ? "AJUST" : "RESTA COMUNITAT"))}));
      const std::string first_page = pages[0].Collapsed();
      EXPECT_NE(first_page.find(Collapse(explained)), std::string::npos)
          << explained << "\n"
          << first_page;
      statements += static_cast<int>(settlement.units.size());
    }
    EXPECT_EQ(outcome.statements, statements);

    // The run's file: every page, a section per community.
    ASSERT_FALSE(outcome.combined_file.empty());
    const std::string combined = outcome.combined_file;
    std::string report;
    EXPECT_TRUE(testing::QpdfCheck(combined, report)) << report;
    EXPECT_EQ(testing::PdfPageCount(combined), statements);
    EXPECT_EQ(testing::PdfOutline(combined), combined_outline);
  }

  std::map<std::string, std::string> FilesIn(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
      files[entry.path().filename().string()] = ReadWhole(entry.path());
    return files;
  }

  testing::ScratchDir dir_;
  testing::ScopedEnv env_{{"KELROOT", dir_.path() + "ROOT/"},
                          {"SOURCE_DATE_EPOCH", std::nullopt}};
  bool tools_ = false;
  std::vector<CommunitySettlement> settlements_;
};

// Every unit of the demo installation in Catalan: the figures of each
// statement are those of the structure and of the summary's line; two runs
// give the same bytes.
TEST_F(StatementsTest, DemoStatementsAreTheSummarysFiguresAndReproducible) {
  if (!LayOut(
          {{"init"}, {"load", testing::SourceDir() + "/demo/root/data.json"}},
          "CAT"))
    GTEST_SKIP() << "the data tool is not built";
  if (!tools_) GTEST_SKIP() << "pdftotext and qpdf are needed";
  SetRange("1.0", "999.999");
  const std::string folder = dir_.path() + "EXTRACTES/";
  const StatementsOutcome outcome = Produce(folder);
  CheckRun(outcome, folder);
  EXPECT_EQ(outcome.combined_file, folder + "EXTRACTES-0001-0999-20261130.pdf");
  EXPECT_EQ(outcome.community_files, 7);

  const std::string again = dir_.path() + "AGAIN/";
  ASSERT_TRUE(Produce(again).ok);
  const auto first = FilesIn(folder);
  EXPECT_EQ(first.size(), 8u);
  EXPECT_EQ(FilesIn(again), first);
  // No clock in the files: the date of issue is the cut-off.
  const std::string text = testing::PdfText(folder + "0001-20261130.pdf");
  EXPECT_NE(text.find("Data d'emissió: 30 de novembre del 2026"),
            std::string::npos);
  EXPECT_NE(text.find("FINQUES MONTSENY, SL"), std::string::npos);
}

// Part of communities 4 and 5, in Spanish: the rest of each community
// is explained as its RESTO line.
TEST_F(StatementsTest, PartOfARangeInSpanishExplainsTheRest) {
  if (!LayOut(
          {{"init"}, {"load", testing::SourceDir() + "/demo/root/data.json"}},
          "SPA"))
    GTEST_SKIP() << "the data tool is not built";
  if (!tools_) GTEST_SKIP() << "pdftotext and qpdf are needed";
  SetRange("4.3", "5.40");
  const std::string folder = dir_.path() + "EXTRACTES/";
  const StatementsOutcome outcome = Produce(folder);
  CheckRun(outcome, folder);
  EXPECT_EQ(outcome.combined_file, folder + "EXTRACTES-0004-0005-20261130.pdf");
  const std::string text = testing::PdfText(folder + "0004-20261130.pdf");
  EXPECT_NE(text.find("RESTO COMUNIDAD"), std::string::npos);
  EXPECT_NE(text.find("EXTRACTO DEL PROPIETARIO"), std::string::npos);
}

// A generated installation, in Galician and in Aranese.
TEST_F(StatementsTest, GeneratedInstallationInGalicianAndAranese) {
  for (const char* language : {"GLG", "OCI"}) {
    SCOPED_TRACE(language);
    int16_t status = 0;
    CloseAllDataFiles(status);
    if (!LayOut({{"generate", "--communities", "3", "--units", "12", "--years",
                  "1"}},
                language))
      GTEST_SKIP() << "the data tool is not built";
    if (!tools_) GTEST_SKIP() << "pdftotext and qpdf are needed";
    SetRange("1.0", "999.999");
    const std::string folder = dir_.path() + language + "/";
    CheckRun(Produce(folder), folder);
  }
}

// ---------------------------------------------------------------------------
// Small installations built field by field.

class StatementDetailsTest : public StatementsTest {
 protected:
  void SetUp() override {
    StatementsTest::SetUp();
    if (IsSkipped()) return;
    SessionSettings& session = TEST_MutableSession();
    session.root_dir = root();
    session.tmp_dir = dir_.path();
    session.exe_dir = dir_.path();
    session.language = "CAT";
    session.output_target = "TXT:informe.txt";
    SelectCurrency("a,E");
    RunValues& run = MutableRun();
    run.program_id = "TARNEVOS";
    run.letterhead_mode = "S";
    run.administrator_lines = {
        "",           "ADMINISTRACIONS PROVA", "C. Major, 1", "", "", "", "",
        "ES12345678Z"};
    run.fee_vat_rate = {0, 21};
    run.fee_withholding_rate = {0, 15};
    data_.receipt_types = {{FixedReceiptKey(1), 1}};
    dir_.Write("ROOT/Orvo.ini",
               "[Usuari]\r\nDecCaracter=,\r\nMilCaracter=.\r\n");
    NoPrintProgram();
  }

  // One community of ten units with the fee of the rules' example and one
  // unit that owes far more than the summary's slots can show.
  void InstallCommunity() {
    testing::TestCommunity community;
    community.code = 1;
    community.monthly_fee = 3000;
    community.fee_tax_type = 1;
    community.last_settlement = testing::PackedDate(2026, 8, 31);
    community.special[0] = {"ESCALA", 300};
    for (int u = 1; u <= 10; ++u) {
      testing::TestUnit unit;
      unit.unit = u;
      unit.designation = "PIS " + std::to_string(u);
      unit.owner = u == 1 ? "PUIG*MARIA" : "ROCA*PERE";
      unit.coefficients[0] = 100000;
      unit.coefficients[1] = u <= 3 ? 100 : 0;
      data_.units.push_back(unit);
    }
    data_.communities.push_back(community);
    const std::string date = testing::PackedDate(2026, 10, 1);
    data_.payments.push_back({1, date, 1000, false, 2});
    data_.payments.push_back({1, date, 2000000000, true, 2});
    data_.payments.push_back({1, date, 2000000000, true, 2});
    data_.collections.push_back({1, 1, date, 20000, 0, 'C'});
    data_.collections.push_back({1, 3, date, 9873, 0, 'C'});
    ASSERT_EQ(data_.WriteFiles(root()), 0);
    OpenAllDataFiles();
    SetRange("1.0", "1.999");
  }

  testing::TestData data_;
};

// The fee's parts, a column whose shares do not add up, a unit's amount far
// wider than the summary's slot, and each way a balance can fall.
TEST_F(StatementDetailsTest, FeeRoundingWideAmountsAndBalances) {
  if (!tools_) GTEST_SKIP() << "pdftotext and qpdf are needed";
  InstallCommunity();
  const std::string folder = dir_.path() + "OUT/";
  const StatementsOutcome outcome = Produce(folder);
  CheckRun(outcome, folder);
  const std::string text =
      Collapse(testing::PdfText(folder + "0001-20261130.pdf"));
  // 10 units x 30,00 x 3 months, 21 % VAT, 15 % withholding: 954,00 in A.
  EXPECT_NE(text.find("Honoraris de l'administrador: 10 departaments x 30,00 "
                      "al mes x 3 mesos = 900,00; més l'IVA del 21 %: 189,00; "
                      "menys la retenció de l'IRPF del 15 %: -135,00. Total "
                      "954,00, que forma part de les despeses de la comunitat "
                      "a la columna A."),
            std::string::npos)
      << text;
  // Column B: 10,00 over three units of 100 / 300 each is 3,33 three
  // times; the cent left is the community's.
  EXPECT_NE(text.find("En aquest resum ha estat: B 0,01."), std::string::npos);
  // Unit 2 owes 40.000.000,00 of private expenses: the summary cannot
  // show it in its slot, the statement can.
  EXPECT_NE(text.find("40.000.000,00"), std::string::npos);
  EXPECT_EQ(FormatAmount("ZZ,ZZZ,ZZ9", 4000000000.0).find("40.000.000,00"),
            std::string::npos);
  // Unit 3 paid exactly its share: settled; unit 1 paid more than its
  // share; the others owe.
  EXPECT_NE(text.find("Saldo actual: Saldat: no hi ha res pendent"),
            std::string::npos);
  EXPECT_NE(text.find("a favor del propietari"), std::string::npos);
  EXPECT_NE(text.find("a favor de la comunitat"), std::string::npos);
  EXPECT_NE(text.find("Període: 1/9/2026 - 30/11/2026"), std::string::npos);
  EXPECT_NE(text.find("ADMINISTRACIONS PROVA"), std::string::npos);
}

// Paper with a printed letterhead: the administrator's lines are left out.
// SOURCE_DATE_EPOCH gives the date of issue.
TEST_F(StatementDetailsTest, LetterheadSettingAndDateOfIssue) {
  if (!tools_) GTEST_SKIP() << "pdftotext and qpdf are needed";
  MutableRun().letterhead_mode = "N";
  testing::ScopedEnv epoch{{"SOURCE_DATE_EPOCH", "1767225599"}};
  InstallCommunity();
  const std::string folder = dir_.path() + "OUT/";
  ASSERT_TRUE(Produce(folder).ok);
  const std::string text = testing::PdfText(folder + "0001-20261130.pdf");
  EXPECT_EQ(text.find("ADMINISTRACIONS PROVA"), std::string::npos);
  EXPECT_NE(text.find("Data d'emissió: 31 de desembre del 2025"),
            std::string::npos);
  EXPECT_NE(ReadWhole(folder + "0001-20261130.pdf")
                .find("/CreationDate (D:20251231000000Z)"),
            std::string::npos);
}

TEST(StatementPieces, DateOfIssueAndNames) {
  const std::string cutoff = PackDigits("20261130");
  {
    testing::ScopedEnv env{{"SOURCE_DATE_EPOCH", std::nullopt}};
    EXPECT_EQ(StatementIssueDate(cutoff), cutoff);
  }
  const struct {
    const char* value;
    const char* date;
  } cases[] = {
      {"0", "19700101"},
      {"86399", "19700101"},
      {"951782400", "20000229"},
      {"1767225600", "20260101"},
      {"253402300799", "99991231"},
      {"253402300800", "20261130"},
      {"", "20261130"},
      {"12x", "20261130"},
      {"-5", "20261130"},
      {"99999999999999999", "20261130"},
  };
  for (const auto& c : cases) {
    testing::ScopedEnv env{{"SOURCE_DATE_EPOCH", c.value}};
    EXPECT_EQ(UnpackDigits(StatementIssueDate(cutoff)), c.date) << c.value;
  }
  EXPECT_EQ(CommunityStatementsName(PackDigits("0012"), cutoff),
            "0012-20261130.pdf");
  EXPECT_EQ(
      CombinedStatementsName(PackDigits("0001"), PackDigits("0999"), cutoff),
      "EXTRACTES-0001-0999-20261130.pdf");
}

// A folder that cannot be made, a run's file that fills the disk, a
// community's file that cannot be written: the operator is told which, no
// unfinished file is left, and the summary is printed all the same.
TEST_F(StatementDetailsTest, FailuresAreReportedAndLeaveNoHalfFiles) {
  InstallCommunity();
  {
    testing::FailingFileSystem files;
    files.FailOpen("NOFOLDER/");
    const StatementsOutcome outcome = Produce(dir_.path() + "NOFOLDER/");
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find("NOFOLDER"), std::string::npos);
    EXPECT_EQ(StatementsMessage(outcome), outcome.error);
    EXPECT_FALSE(fs::exists(dir_.path() + "NOFOLDER"));
    EXPECT_FALSE(dir_.Read("kelprint.tmp").empty());
  }
  {
    testing::FailingFileSystem files;
    files.FillDiskAfter("EXTRACTES-0001-0001-20261130.pdf", 30000);
    const StatementsOutcome outcome = Produce(dir_.path() + "FULL/");
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find("EXTRACTES-0001-0001-20261130.pdf"),
              std::string::npos)
        << outcome.error;
    EXPECT_TRUE(outcome.combined_file.empty());
    EXPECT_FALSE(
        fs::exists(dir_.path() + "FULL/EXTRACTES-0001-0001-20261130.pdf"));
  }
  {
    testing::FailingFileSystem files;
    files.FailOpen("ONE/0001-20261130.pdf");
    const StatementsOutcome outcome = Produce(dir_.path() + "ONE/");
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find("ONE/0001-20261130.pdf"), std::string::npos)
        << outcome.error;
    EXPECT_TRUE(FilesIn(dir_.path() + "ONE/").empty());
  }
  // A range without units: nothing written, and the operator is told so.
  SetRange("7.0", "9.0");
  const StatementsOutcome none = Produce(dir_.path() + "NONE/");
  EXPECT_TRUE(none.ok);
  EXPECT_EQ(none.statements, 0);
  EXPECT_FALSE(fs::exists(dir_.path() + "NONE/"));
  EXPECT_EQ(Utf8(StatementsMessage(none)),
            "CAP EXTRACTE: NO HI HA CAP DEPARTAMENT AL RANG");
}

// The statements' texts of the demo language file are those built in, so
// an installation without the entries reads the same; an entry changed in
// the file wins.
TEST_F(StatementDetailsTest, LanguageFileEntriesMatchTheBuiltInTexts) {
  const std::string lng = AsInstalled(
      ReadWhole(testing::SourceDir() + "/demo/root/LOCALE/TARNEVOS.LNG"));
  for (const char* language : {"SPA", "GLG", "OCI"}) {
    SCOPED_TRACE(language);
    TEST_MutableSession().language = language;
    dir_.Write("ROOT/LOCALE/TARNEVOS.LNG", lng);
    StatementTexts from_file;
    from_file.Load();
    dir_.Write("ROOT/LOCALE/TARNEVOS.LNG", "");
    StatementTexts built_in;
    built_in.Load();
    for (int i = 0; i < static_cast<int>(T::kCount); ++i) {
      EXPECT_EQ(Utf8(from_file[static_cast<T>(i)]),
                Utf8(built_in[static_cast<T>(i)]))
          << i;
    }
  }
  TEST_MutableSession().language = "SPA";
  dir_.Write("ROOT/LOCALE/TARNEVOS.LNG",
             AsInstalled("\"Saldo actual\",\"Saldo actual\",\"Sòlde\","
                         "\"Saldo a día de hoy\"\n"));
  StatementTexts adjusted;
  adjusted.Load();
  EXPECT_EQ(Utf8(adjusted[T::kCurrentBalance]), "Saldo a día de hoy");
  EXPECT_EQ(Fill("{1} i {2}, {3}", {"a", "b"}), "a i b, {3}");
}

// Chosen on the form, the statements go to the folder of the settings, and
// the operator is told where.
TEST_F(StatementDetailsTest, FormChoiceWritesIntoTheSettingsFolder) {
  InstallCommunity();
  dir_.Write("ROOT/Orvo.ini", "[Extractes]\r\nCarpeta=SORTIDA\\EXTRACTES\r\n");
  EXPECT_EQ(StatementsFolder(), root() + "SORTIDA\\EXTRACTES\\");
  dir_.Write("ROOT/Orvo.ini",
             "[Extractes]\r\nCarpeta=" + dir_.path() + "ALTRES\r\n");
  EXPECT_EQ(StatementsFolder(), dir_.path() + "ALTRES\\");
  dir_.Write("ROOT/Orvo.ini", "");
  EXPECT_EQ(StatementsFolder(), dir_.path() + "EXTRACTES\\");

  const std::string form = AsInstalled(
      ReadWhole(testing::SourceDir() + "/demo/root/FORMS/TARNEVOS.KPN"));
  ASSERT_TRUE(ReadFormText(form, "TARNEVOS.KPN"));
  InstallReportHooks();
  TEST_MutableSession().work_date = PackDigits("20261130");
  SetParameterDefaults();
  EXPECT_EQ(
      FindField(report_form::kParameterForm, report_form::kStatementsField)
          ->value,
      "N");
  platform::MemoryConsole& console = platform::BuiltInMemoryConsole();
  // The last field is the choice: S, accept, confirm; a key for the
  // message; Esc to leave.
  console.PushKeys(
      {key::kPgDn, 'S', key::kCtrlB, 'S', key::kEnter, key::kEnter, key::kEsc});
  RunReport();
  EXPECT_EQ(console.PendingEvents(), 0u);
  EXPECT_EQ(console.ExhaustedWaits(), 0);
  EXPECT_TRUE(Parameters().statements);
  EXPECT_TRUE(fs::exists(dir_.path() + "EXTRACTES/0001-20261130.pdf"));
  EXPECT_TRUE(
      fs::exists(dir_.path() + "EXTRACTES/EXTRACTES-0001-0999-20261130.pdf"));
  EXPECT_EQ(Utf8(StatementsMessage(StatementsOutcome{
                true, 10, 1, dir_.path() + "EXTRACTES\\", "", ""})),
            "10 EXTRACTES DESATS A " + dir_.path() + "EXTRACTES/");

  // A form file of before the choice never asks for statements.
  std::string old_form = form;
  const size_t at = old_form.find("13,8,\"Extractes");
  ASSERT_NE(at, std::string::npos);
  old_form.erase(at, old_form.find('\n', at) + 1 - at);
  old_form.replace(old_form.find("\",11,0,4,10"), 11, "\",10,0,4,10");
  ASSERT_TRUE(ReadFormText(old_form, "TARNEVOS.KPN"));
  SetParameterDefaults();
  console.PushKeys({key::kCtrlB, 'S', key::kEnter, key::kEsc});
  RunReport();
  EXPECT_EQ(console.PendingEvents(), 0u);
  EXPECT_FALSE(Parameters().statements);
}

}  // namespace
}  // namespace tarnevos
