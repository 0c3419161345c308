#include "report/layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/form_table.h"
#include "data/data_files.h"
#include "print/print_file.h"
#include "report/report_form.h"
#include "report/settlement.h"
#include "report/settlement_test_data.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

using testing::PackedCommunity;
using testing::PackedDate;

// Lays pages out from a settlement set up directly and reads back the print
// file's lines.
class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    SessionSettings& session = TEST_MutableSession();
    session.root_dir = dir_.path();
    session.tmp_dir = dir_.path();
    session.language = "CAT";
    SelectCurrency("a,E");
    RunValues& run = MutableRun();
    run.program_id = "TARNEVOS";
    run.administrator_lines = {"",
                               "ADMINISTRACIONS PUIG",
                               "C. MAJOR 1",
                               "08001 BARCELONA",
                               "TEL. 93 000 00 00",
                               "puig@example.cat",
                               "",
                               "ES12345678Z"};
    settlement_.code = PackedCommunity(12);
    settlement_.name = FitText(Cp850("ARC*COMUNITAT D'"), 30);
    settlement_.last_settlement = PackedDate(2026, 8, 31);
    settlement_.cutoff_date = PackedDate(2026, 11, 30);
    settlement_.column_title[1] = "SEGONS COEFICIENT GENERAL";
    for (int k = 2; k <= 7; ++k) {
      settlement_.column_title[k] = std::string(30, ' ');
    }
    OpenPrintFile("PANTALLA");
  }
  void TearDown() override { testing::ResetRunState(); }

  // The print file's lines (CP850) after closing it.
  std::vector<std::string> Lines() {
    ClosePrintFile();
    const std::string contents = dir_.Read("kelprint.tmp");
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < contents.size()) {
      size_t end = contents.find("\r\n", start);
      if (end == std::string::npos) end = contents.size();
      lines.push_back(contents.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }
  // The lines from the first that equals `first`, `count` of them.
  static std::vector<std::string> From(const std::vector<std::string>& lines,
                                       const std::string& first, size_t count) {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] == first) {
        return std::vector<std::string>(
            lines.begin() + static_cast<long>(i),
            lines.begin() +
                static_cast<long>(std::min(lines.size(), i + count)));
      }
    }
    return {};
  }
  static std::vector<std::string> C(std::vector<std::string> utf8) {
    for (std::string& line : utf8) line = Cp850(line);
    return utf8;
  }

  void Header() { PrintPageHeader(settlement_, copy_); }

  testing::ScratchDir dir_;
  CommunitySettlement settlement_;
  ListingCopy copy_;
};

TEST_F(LayoutTest, FirstPageWithLetterhead) {
  Header();
  const std::vector<std::string> expected = C({
      "DEVICEPANTALLA",
      "PAGE 66 ",
      "*@e",
      " 1 ,ADMINISTRACIONS PUIG, 0 ",
      " 85 ,PÀGINA    1, 1 ",
      " 1 ,C. MAJOR 1, 1 ",  // the empty sixth line is left out
      " 1 ,08001 BARCELONA, 1 ",
      " 1 ,TEL. 93 000 00 00, 1 ",
      " 1 ,puig@example.cat, 1 ",
      " 1 ,N.I.F. ES12345678Z, 2 ",
      " 7 ,RESUM DE LIQUIDACIÓ DES DEL 1 DE SETEMBRE DEL 2026 FINS AL 30 DE "
      "NOVEMBRE "
      "DEL 2026, 1 ",
      // 63 characters: centred at (96 - 63) / 2 = 16.
      " 16 ,CORRESPONENT A LA COMUNITAT DE PROPIETARIS (12) COMUNITAT D'ARC, "
      "1 ",
      " 16 ," + std::string(63, '=') + ", 2 ",
      " 1 ,COLUMNA < A > : SEGONS COEFICIENT GENERAL, 0 ",
      " 0 ,, 2 ",
      "*q",
      " 16 ,    RÒSSEC, 0 ",
      " 106 ,     TOTAL, 0 ",
      " 117 ,     TOTAL, 0 ",
      " 127 ,    RÒSSEC, 1 ",
      " 1 ,COD, 0 ",
      " 5 ,DEPART., 0 ",
      " 16 ,  ANTERIOR, 0 ",
      " 31 ,< A >, 0 ",
      " 41 ,< B >, 0 ",
      " 51 ,< C >, 0 ",
      " 61 ,< D >, 0 ",
      " 71 ,< E >, 0 ",
      " 81 ,< F >, 0 ",
      " 91 ,< G >, 0 ",
      " 96 ,   D.PART., 0 ",
      " 106 ,  DESPESES, 0 ",
      " 116 ,      FONS, 0 ",
      " 126 ,    ACTUAL, 1 ",
      " 1 ," + std::string(135, '-') + ", 1 ",
  });
  EXPECT_EQ(Lines(), expected);
  EXPECT_EQ(copy_.page_number, 1);
}

TEST_F(LayoutTest, SixthAdministratorLineOnlyWhenNotBlank) {
  MutableRun().administrator_lines[6] = "   ";
  Header();
  MutableRun().administrator_lines[6] = "DELEGACIO GIRONA";
  copy_.page_number = 0;
  Header();
  const auto lines = Lines();
  const auto blank = From(lines, Cp850(" 85 ,PÀGINA    1, 1 "), 2);
  ASSERT_EQ(blank.size(), 2u);
  EXPECT_EQ(blank[1], " 1 ,C. MAJOR 1, 1 ");
  int found = 0;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i] == " 1 ,DELEGACIO GIRONA, 1 ") {
      ++found;
      EXPECT_EQ(lines[i - 1], Cp850(" 85 ,PÀGINA    1, 1 "));
      EXPECT_EQ(lines[i + 1], " 1 ,C. MAJOR 1, 1 ");
    }
  }
  EXPECT_EQ(found, 1);
}

TEST_F(LayoutTest, PrePrintedPaperLeavesTheTopFree) {
  for (const char* mode : {"N", "n", ""}) {
    TEST_ResetPrintFile();
    OpenPrintFile("PANTALLA");
    MutableRun().letterhead_mode = mode;
    copy_.page_number = 0;
    Header();
    Header();
    const auto lines = Lines();
    const bool letterhead = std::string(mode) != "N";
    ASSERT_GE(lines.size(), 4u);
    if (letterhead) {
      EXPECT_EQ(lines[3], " 1 ,ADMINISTRACIONS PUIG, 0 ") << mode;
      // Later pages: the community's name, then the page number.
      EXPECT_EQ(From(lines, " 1 ,COMUNITAT D'ARC, 0 ", 2),
                C({" 1 ,COMUNITAT D'ARC, 0 ", " 85 ,PÀGINA    2, 2 "}));
    } else {
      EXPECT_EQ(lines[3], Cp850(" 85 ,PÀGINA    1, 9 "));
      EXPECT_EQ(From(lines, Cp850(" 85 ,PÀGINA    2, 9 "), 3),
                C({" 85 ,PÀGINA    2, 9 ", " 1 ,COMUNITAT D'ARC, 2 ", "*q"}));
      for (const std::string& line : lines) {
        EXPECT_EQ(line.find("ADMINISTRACIONS"), std::string::npos);
      }
    }
  }
}

TEST_F(LayoutTest, ColumnLegendTwoToALine) {
  settlement_.column_title[2] = "ASCENSOR" + std::string(22, ' ');
  settlement_.column_title[4] = "GARATGES" + std::string(22, ' ');
  Header();
  const auto legend =
      From(Lines(), " 1 ,COLUMNA < A > : SEGONS COEFICIENT GENERAL, 0 ", 4);
  const std::vector<std::string> expected = {
      " 1 ,COLUMNA < A > : SEGONS COEFICIENT GENERAL, 0 ",
      " 48 ,COLUMNA < B > : ASCENSOR                      , 1 ",
      " 1 ,COLUMNA < D > : GARATGES                      , 0 ",
      " 0 ,, 2 ",
  };
  EXPECT_EQ(legend, expected);

  TEST_ResetPrintFile();
  OpenPrintFile("PANTALLA");
  settlement_.column_title[4] = std::string(30, ' ');
  copy_.page_number = 0;
  Header();
  const auto even = From(
      Lines(), " 48 ,COLUMNA < B > : ASCENSOR                      , 1 ", 2);
  ASSERT_EQ(even.size(), 2u);
  EXPECT_EQ(even[1], " 0 ,, 1 ");
}

TEST_F(LayoutTest, TitleWithoutStartAndInOtherLanguages) {
  EXPECT_EQ(ReportTitle(testing::kNoDate, PackedDate(2026, 11, 30)),
            Cp850("RESUM DE LIQUIDACIÓ FINS AL 30 DE NOVEMBRE DEL 2026"));
  // The day after the end of February.
  EXPECT_EQ(
      ReportTitle(PackedDate(2024, 2, 29), PackedDate(2024, 4, 30)),
      Cp850("RESUM DE LIQUIDACIÓ DES DEL 1 DE MARÇ DEL 2024 FINS AL 30 D'ABRIL "
            "DEL 2024"));

  dir_.Write(
      "LOCALE/TARNEVOS.LNG",
      Cp850("\"RESUM DE LIQUIDACIÓ\",\"RESUMO DE LIQUIDACIÓN\",\"RESUMIT\","
            "\"RESUMEN DE LIQUIDACIÓN\"\r\n"
            "\" DES DEL \",\" DENDE O \",\" DES DETH \",\" DESDE EL \"\r\n"
            "\" FINS AL \",\" ATA O \",\" ENQUIA ETH \",\" HASTA EL \"\r\n"));
  TEST_MutableSession().language = "SPA";
  TEST_ResetDateSettings();
  EXPECT_EQ(
      ReportTitle(PackedDate(2026, 8, 31), PackedDate(2026, 11, 30)),
      Cp850(
          "RESUMEN DE LIQUIDACIÓN DESDE EL 1 DE SEPTIEMBRE DE 2026 HASTA EL 30 "
          "DE NOVIEMBRE DE 2026"));
}

// Fills the current page up to `used` lines.
void UseLines(int used) {
  while (PrintLine() < used) PrintText(1, "X", 1);
}

TEST_F(LayoutTest, UnitLinesBreakAfterSixtyLines) {
  UnitSettlement unit;
  unit.number = 7;
  unit.designation = "1r 2a";
  unit.amount = {0, 100, 0, 0, 0, 0, 0, 0, 5};
  unit.expenses = 105;
  unit.collected = 0;
  unit.balance = -105;

  // The first unit line of a copy starts a page.
  PrintUnitLine(settlement_, unit, copy_);
  EXPECT_EQ(copy_.page_number, 1);
  // With exactly 60 lines used, one more line still fits.
  UseLines(60);
  PrintUnitLine(settlement_, unit, copy_);
  EXPECT_EQ(copy_.page_number, 1);
  EXPECT_EQ(PrintLine(), 61);
  PrintUnitLine(settlement_, unit, copy_);
  EXPECT_EQ(copy_.page_number, 2);

  const auto lines = Lines();
  const auto unit_line = From(lines, " 1 ,007 1r 2a      , 0 ", 13);
  const std::vector<std::string> expected = {
      " 1 ,007 1r 2a      , 0 ", " 0 ,      0'00, 0 ", " 0 ,      1'00, 0 ",
      " 0 ,      0'00, 0 ",      " 0 ,      0'00, 0 ", " 0 ,      0'00, 0 ",
      " 0 ,      0'00, 0 ",      " 0 ,      0'00, 0 ", " 0 ,      0'00, 0 ",
      " 0 ,      0'05, 0 ",      " 0 ,      1'05, 0 ", " 0 ,      0'00, 0 ",
      " 0 ,     -1'05, 1 ",
  };
  EXPECT_EQ(unit_line, expected);
}

TEST_F(LayoutTest, CommunityTotalsInBothCurrencies) {
  copy_.page_number = 1;
  settlement_.unit_count = 3;
  settlement_.units.resize(3);
  settlement_.totals = {0, 100000, 0, 0, 0, 0, 0, 0, 0, 100000, 0, -100000};
  settlement_.remainder = {0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, -1};
  SelectCurrency("p");
  PrintCommunityTotals(settlement_, copy_);
  EXPECT_EQ(CurrentCurrency(), 'E');
  EXPECT_EQ(CurrencyFor("p"), 'E');

  const auto lines = Lines();
  std::vector<std::string> expected = {" 1 ,AJUST, 0 ", "JUSD", " 16 ,, 0 ",
                                       " 16 ,          , 0 ",
                                       " 26 ,       '01, 0 "};
  for (int column = 36; column <= 106; column += 10) {
    expected.push_back(" " + std::to_string(column) + " ," +
                       (column == 106 ? "       '01" : std::string(10, ' ')) +
                       ", 0 ");
  }
  expected.push_back(" 116 ,          , 0 ");
  expected.push_back(" 126 ,      -'01, 1 ");
  expected.push_back(" 16 ," + std::string(120, '-') + ", 1 ");
  expected.push_back(" 1 ,TOTAL COMUNITAT, 0 ");
  EXPECT_EQ(From(lines, " 1 ,AJUST, 0 ", expected.size()), expected);

  const auto euros = From(lines, " 1 ,TOTAL COMUNITAT, 0 ", 15);
  ASSERT_EQ(euros.size(), 15u);
  EXPECT_EQ(euros[1], "JUSD");
  EXPECT_EQ(euros[2], " 16 ,, 0 ");
  EXPECT_EQ(euros[3], " 16 ,      0'00, 0 ");
  EXPECT_EQ(euros[4], " 26 ,  1.000'00, 0 ");
  EXPECT_EQ(euros[14], " 126 , -1.000'00, 1 ");

  const auto pesetas = From(lines, "*i", 17);
  ASSERT_EQ(pesetas.size(), 17u);
  EXPECT_EQ(pesetas[1], " 1 ,ESP, 0 ");
  EXPECT_EQ(pesetas[2], "JUSD");
  EXPECT_EQ(pesetas[5], " 26 ,   166.386, 0 ");
  EXPECT_EQ(pesetas[15], " 126 ,  -166.386, 1 ");
  EXPECT_EQ(pesetas[16], "*i");
  EXPECT_EQ(lines.back(), " 1 ," + std::string(135, '=') + ", 1 ");
}

TEST_F(LayoutTest, PrinterInPesetasShowsEurosSecond) {
  copy_.page_number = 1;
  settlement_.unit_count = 2;
  settlement_.units.resize(1);
  SelectCurrency("p,P");
  SelectCurrency("p");
  PrintCommunityTotals(settlement_, copy_);
  EXPECT_EQ(CurrentCurrency(), 'P');
  EXPECT_EQ(CurrencyFor("p"), 'P');
  const auto lines = Lines();
  EXPECT_FALSE(From(lines, " 1 ,RESTA COMUNITAT, 0 ", 1).empty());
  const auto second = From(lines, "*i", 2);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[1], " 1 ,EUR, 0 ");
}

TEST_F(LayoutTest, TotalsBreakPagesBeforeTheBlockAndBeforeTheTotalLine) {
  copy_.page_number = 1;
  UseLines(61);
  PrintCommunityTotals(settlement_, copy_);
  EXPECT_EQ(copy_.page_number, 2);

  // With 58 lines used, the remainder line and its rule take two more: the
  // total line goes to a new page.
  TEST_ResetPrintFile();
  OpenPrintFile("PANTALLA");
  copy_.page_number = 1;
  PrintPage(66);
  UseLines(58);
  PrintCommunityTotals(settlement_, copy_);
  EXPECT_EQ(copy_.page_number, 2);
  const auto lines = Lines();
  const auto rule = From(lines, " 16 ," + std::string(120, '-') + ", 1 ", 2);
  ASSERT_EQ(rule.size(), 2u);
  EXPECT_EQ(rule[1], "PAGE 66 ");

  // With 57 used, everything stays on the page.
  TEST_ResetPrintFile();
  OpenPrintFile("PANTALLA");
  copy_.page_number = 1;
  PrintPage(66);
  UseLines(57);
  PrintCommunityTotals(settlement_, copy_);
  EXPECT_EQ(copy_.page_number, 1);
}

TEST_F(LayoutTest, OverfullFiguresAreThoseThatFillTheirSlot) {
  settlement_.unit_count = 2;
  settlement_.units.resize(2);
  settlement_.units[0].code = testing::PackedUnit(12, 1);
  settlement_.units[1].code = testing::PackedUnit(12, 2);
  // 99,999.99 fits and 100,000.00 fills; -9,999.99 fits and -10,000.00
  // fills (its minus takes the slot's first place).
  settlement_.units[0].amount[1] = 9999999;
  settlement_.units[0].balance = -999999;
  settlement_.units[1].amount[1] = 10000000;
  settlement_.units[1].balance = -1000000;
  // The remainder's mask leaves zero cents blank but is as wide.
  settlement_.remainder[kExpensesFigure] = 10000000;
  // 60,101.21 is 10,000,000 pesetas (rounded); 60,101.20 is 9,999,998.
  settlement_.totals[kCollectedFigure] = 6010120;
  settlement_.totals[kBalanceFigure] = 6010121;
  const std::vector<OverfullFigure> found = OverfullFigures(settlement_);
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].unit, &settlement_.units[1]);
  EXPECT_EQ(found[0].figure, 1);
  EXPECT_EQ(found[0].text, "100.000'00");
  EXPECT_EQ(found[1].unit, &settlement_.units[1]);
  EXPECT_EQ(found[1].figure, kBalanceFigure);
  EXPECT_EQ(found[1].text, "-10.000'00");
  EXPECT_EQ(found[2].line, OverfullFigure::Line::kRemainder);
  EXPECT_EQ(found[2].text, "100.000   ");
  EXPECT_EQ(found[3].line, OverfullFigure::Line::kTotal);
  EXPECT_EQ(found[3].figure, kBalanceFigure);
  EXPECT_EQ(found[3].currency, 'P');
  EXPECT_EQ(found[3].amount, 6010121);
  EXPECT_EQ(found[3].text, "10.000.000");
}

}  // namespace
}  // namespace tarnevos
