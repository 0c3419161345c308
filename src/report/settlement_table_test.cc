// The rows the spreadsheets are made of: names, labels and where each
// figure goes.

#include "report/settlement_table.h"

#include <gtest/gtest.h>

#include <string>

#include "report/settlement_csv.h"
#include "report/settlement_test_data.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/text.h"

namespace tarnevos {
namespace {

class SettlementTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    SessionSettings& session = TEST_MutableSession();
    session.root_dir = dir_.path();
    session.language = "CAT";
    MutableRun().program_id = "TARNEVOS";
    settlement_.code = testing::PackedCommunity(7);
    settlement_.name = FitText(Cp850("RIERA [NORD]: BLOC A/B*LA"), 30);
    settlement_.column_title[1] = "SEGONS COEFICIENT GENERAL";
    settlement_.column_title[3] = FitText("ASCENSOR", 30);
    settlement_.unit_count = 3;
    settlement_.units.resize(2);
    settlement_.units[0].code = testing::PackedUnit(7, 1);
    settlement_.units[0].owner = FitText(Cp850("PUIG, \"EL VELL\"*JOAN"), 30);
    settlement_.units[0].designation = FitText("1r 1a", 10);
    settlement_.units[0].amount = {-500, 1000, 0, 250, 0, 0, 0, 0, 75};
    settlement_.units[0].expenses = 1325;
    settlement_.units[0].collected = 900;
    settlement_.units[0].balance = -925;
    settlement_.units[1].code = testing::PackedUnit(7, 1002);
    settlement_.remainder = {0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, -1};
    settlement_.totals = {-500, 1001, 0, 250, 0, 0, 0, 0, 75, 1326, 900, -926};
  }
  void TearDown() override { testing::ResetRunState(); }

  testing::ScratchDir dir_;
  CommunitySettlement settlement_;
};

TEST_F(SettlementTableTest, CommunitySheetHoldsTheSettlementsFiguresInPlace) {
  const SheetTable sheet = CommunitySheet(settlement_, MakeSheetLabels());
  // Refused characters become blanks, and blanks one.
  EXPECT_EQ(sheet.name, "0007 LA RIERA NORD BLOC A B");
  EXPECT_EQ(sheet.file_stem, "community-0007");
  ASSERT_EQ(sheet.rows.size(), 5u);

  const SheetRow& header = sheet.rows[0];
  ASSERT_EQ(header.size(), static_cast<size_t>(kSheetColumns));
  EXPECT_EQ(header[kFirstFigureColumn + 1].text,
            "A: SEGONS COEFICIENT GENERAL");
  EXPECT_EQ(header[kFirstFigureColumn + 2].text, "B");
  EXPECT_EQ(header[kFirstFigureColumn + 3].text, "C: ASCENSOR");
  EXPECT_EQ(header[kFirstFigureColumn + kBalanceFigure].text,
            Utf8FromCp850(Cp850("RÒSSEC ACTUAL")));
  EXPECT_EQ(header[kFirstPesetaColumn + kBalanceFigure].text,
            Utf8FromCp850(Cp850("RÒSSEC ACTUAL ESP")));

  const SheetRow& unit = sheet.rows[1];
  EXPECT_EQ(unit[kUnitCodeColumn].text, "7.1");
  EXPECT_EQ(unit[kOwnerColumn].text, "JOAN PUIG, \"EL VELL\"");
  EXPECT_EQ(unit[kDesignationColumn].text, "1r 1a");
  const LineFigures figures = settlement_.units[0].Figures();
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(unit[kFirstFigureColumn + i].kind, SheetCell::Kind::kEuros);
    EXPECT_EQ(unit[kFirstFigureColumn + i].value, figures[i]) << i;
  }
  EXPECT_EQ(sheet.rows[2][kUnitCodeColumn].text, "7.1002");
  // Not every unit listed: the rest of the community.
  EXPECT_EQ(sheet.rows[3][kUnitCodeColumn].text, "RESTA COMUNITAT");
  EXPECT_EQ(sheet.rows[3][kFirstFigureColumn + 1].value, 1);
  const SheetRow& total = sheet.rows[4];
  EXPECT_EQ(total[kUnitCodeColumn].text, "TOTAL COMUNITAT");
  EXPECT_EQ(total[kFirstFigureColumn + kExpensesFigure].value, 1326);
  EXPECT_EQ(total[kFirstPesetaColumn + kExpensesFigure].kind,
            SheetCell::Kind::kWhole);
  EXPECT_EQ(total[kFirstPesetaColumn + kExpensesFigure].value, 2206);

  // 31 characters at most, none of them a trailing blank or apostrophe.
  settlement_.name = FitText(Cp850("MONTSENY I PIRINEU*L'EDIFICI"), 30);
  EXPECT_EQ(CommunitySheet(settlement_, MakeSheetLabels()).name,
            "0007 L'EDIFICI MONTSENY I PIRIN");
  settlement_.name = FitText(Cp850("ABCDEFGHIJKLMNOPQRSTUVWXY'12"), 30);
  EXPECT_EQ(CommunitySheet(settlement_, MakeSheetLabels()).name,
            "0007 ABCDEFGHIJKLMNOPQRSTUVWXY");

  // As CSV: quoted where a field holds a comma or a quote.
  const std::string csv = CsvText(sheet);
  EXPECT_NE(csv.find("\r\n7.1,\"JOAN PUIG, \"\"EL VELL\"\"\",1r 1a,-5.00,10.00,"
                     "0.00,2.50,0.00,0.00,0.00,0.00,0.75,13.25,9.00,-9.25\r\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("TOTAL COMUNITAT,,,-5.00,10.01,"), std::string::npos);

  // Every unit listed: the adjustment; in Spanish through the language
  // file.
  settlement_.unit_count = 2;
  dir_.Write("LOCALE/TARNEVOS.LNG",
             Cp850("\"AJUST\",\"AXUSTE\",\"AJUSTAMENT\",\"AJUSTE\"\r\n"
                   "\"TOTAL COMUNITAT\",\"TOTAL COMUNID.\",\"TOTAL "
                   "COMUNAUT.\",\"TOTAL COMUNIDAD\"\r\n"));
  TEST_MutableSession().language = "SPA";
  const SheetTable spanish = CommunitySheet(settlement_, MakeSheetLabels());
  EXPECT_EQ(spanish.rows[3][kUnitCodeColumn].text, "AJUSTE");
  EXPECT_EQ(spanish.rows[4][kUnitCodeColumn].text, "TOTAL COMUNIDAD");
  EXPECT_EQ(spanish.rows[0][kOwnerColumn].text, "PROPIETARIO");
}

TEST_F(SettlementTableTest, ParametersSheetRecordsTheRun) {
  RunDescription run;
  run.parameters.cutoff_date = PackDigits("20261130");
  run.parameters.range_from = PackDottedCode("4.3");
  run.parameters.range_to = PackDottedCode("5.40");
  run.parameters.copies = 0;
  run.run_date = PackDigits("20261201");
  run.administrator = FitText(Cp850("FINQUES MONTSENY, SL"), 40);
  run.administrator_tax_id = "ESB65432109";
  const SheetTable sheet = ParametersSheet(run, MakeSheetLabels());
  EXPECT_EQ(sheet.name, Utf8FromCp850(Cp850("PARÀMETRES")));
  ASSERT_EQ(sheet.rows.size(), 7u);
  EXPECT_EQ(sheet.rows[0][1].kind, SheetCell::Kind::kDate);
  EXPECT_EQ(sheet.rows[1][1].text, "4.3");
  EXPECT_EQ(sheet.rows[2][1].text, "5.40");
  EXPECT_EQ(sheet.rows[3][1].value, 0);
  EXPECT_EQ(sheet.rows[5][1].text, "FINQUES MONTSENY, SL");
  EXPECT_EQ(CsvText(sheet),
            Utf8FromCp850(
                Cp850("DATA DE TALL,2026-11-30\r\nDES DE,4.3\r\nFINS A,5.40\r\n"
                      "CÒPIES,0\r\nDATA D'EXECUCIÓ,2026-12-01\r\nADMINISTRADOR,"
                      "\"FINQUES MONTSENY, SL\"\r\nN.I.F.,ESB65432109\r\n")));
}

}  // namespace
}  // namespace tarnevos
