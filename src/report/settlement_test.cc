#include "report/settlement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "console/form_table.h"
#include "data/access_layer.h"
#include "data/data_files.h"
#include "platform/console/memory_console.h"
#include "platform/system/system.h"
#include "print/print_file.h"
#include "report/form_file.h"
#include "report/layout.h"
#include "report/report_form.h"
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

using testing::FigureSlots;
using testing::PackedCommunity;
using testing::PackedDate;
using testing::PackedUnit;
using testing::ParseEuros;
using testing::TestCollection;
using testing::TestCommunity;
using testing::TestPayment;
using testing::TestReceiptType;
using testing::TestUnit;

// Slots of a body line.
enum Slot {
  kPrevious = 0,
  kColA = 1,
  kColB = 2,
  kColC = 3,
  kPrivate = 8,
  kExpenses = 9,
  kCollected = 10,
  kBalance = 11
};

// ---------------------------------------------------------------------------
// The rules of the computation, one by one.

TEST(SettlementRules, UnitNumbersAreTheLastThreeDigitsOfTheCode) {
  EXPECT_EQ(UnitNumber(PackedUnit(3, 1)), 1);
  EXPECT_EQ(UnitNumber(PackedUnit(3, 999)), 999);
  EXPECT_EQ(UnitNumber(PackedUnit(3, 1005)), 5);
  EXPECT_EQ(UnitNumber(PackedUnit(12, 4321)), 321);
  // Bytes that are no packed pairs still give a number inside the tables.
  const int garbage = UnitNumber(std::string("\x00\xff\x7f\xff", 4));
  EXPECT_GE(garbage, 0);
  EXPECT_LT(garbage, kUnitNumbers);
  EXPECT_EQ(UnitNumber(""), 0);
}

TEST(SettlementRules, MonthsOfFeeNeedAPeriodWithAStart) {
  const std::string cutoff = PackedDate(2026, 11, 30);
  struct Case {
    std::string last;
    int32_t months;
  } cases[] = {
      {PackedDate(2026, 8, 31), 3},
      {PackedDate(2026, 11, 1), 0},
      {PackedDate(2025, 11, 30), 12},
      {PackedDate(2026, 11, 30), 0},
      // Never settled: four bytes 128, zero bytes, blanks, an empty text.
      {testing::kNoDate, 0},
      {std::string(4, '\0'), 0},
      {std::string(4, ' '), 0},
      {"", 0},
      // No calendar date: month 13, day 0.
      {PackedDate(2026, 13, 1), 0},
      {PackedDate(2026, 5, 0), 0},
      // A cut-off before the last settlement is no period to charge.
      {PackedDate(2027, 2, 28), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MonthsToCharge(c.last, cutoff), c.months)
        << "last settlement " << UnpackDigits(c.last);
  }
}

TEST(SettlementRules, FeeRatesAndTheWithholdingRule) {
  MutableRun().fee_vat_rate = {10, 21};
  MutableRun().fee_withholding_rate = {7, 15};
  struct Case {
    int16_t type;
    const char* administrator;
    const char* community;
    float vat;
    float withholding;
  } cases[] = {
      {1, "ES12345678Z", "ESH12345678", 21, 15},  // person bills an entity
      {0, "ES12345678Z", "ESH12345678", 10, 7},
      {1, "ESB1234567", "ESH12345678", 21, 0},   // company administrator
      {1, "ES", "ESH12345678", 21, 15},          // no third character
      {1, "ESX1234567", "ESH12345678", 21, 15},  // X is outside A..W
      {1, "ES12345678Z", "ESW1234567", 21, 15},  // W is inside
      {1, "ES12345678Z", "ESX1234567", 21, 0},
      {1, "ES12345678Z", "ES12345678Z", 21, 0},  // community is a person
      {1, "FR12345678", "ESH12345678", 21, 0},
      {1, "ES12345678Z", "FRH1234567", 21, 0},
      {1, "ES12345678Z", "ES", 21, 0},
      // Fee-tax types outside the table have no rates at all.
      {2, "ES12345678Z", "ESH12345678", 0, 0},
      {-1, "ES12345678Z", "ESH12345678", 0, 0},
  };
  for (const Case& c : cases) {
    float vat = -1;
    float withholding = -1;
    FeeRates(c.type, c.administrator, c.community, vat, withholding);
    EXPECT_EQ(vat, c.vat) << c.type << " " << c.administrator << " "
                          << c.community;
    EXPECT_EQ(withholding, c.withholding)
        << c.type << " " << c.administrator << " " << c.community;
  }
  MutableRun() = RunValues{};
}

TEST(SettlementRules, AdministratorFee) {
  // 10 units x 30 x 3 months = 900, + 189 VAT - 135 withholding.
  EXPECT_EQ(AdministratorFee(10, 30, 3, 21, 15), 954);
  // Both taxes are taken from the fee before taxes and rounded half to
  // even: 10.5 -> 10, 31.5 -> 32, 7.5 -> 8.
  EXPECT_EQ(AdministratorFee(1, 50, 1, 21, 0), 60);
  EXPECT_EQ(AdministratorFee(1, 150, 1, 21, 0), 182);
  EXPECT_EQ(AdministratorFee(1, 50, 1, 0, 15), 42);
  EXPECT_EQ(AdministratorFee(0, 30, 3, 21, 15), 0);
  EXPECT_EQ(AdministratorFee(10, 30, 0, 21, 15), 0);
  // A large community: the product no longer fits 32 bits and stays exact.
  EXPECT_EQ(AdministratorFee(9999, 2000000, 120, 0, 0), int64_t{2399760000000});
  EXPECT_EQ(
      AdministratorFee(9999, 2000000, 120, 21, 15),
      int64_t{2399760000000} + int64_t{503949600000} - int64_t{359964000000});
  // Beyond any amount: saturates, never wraps to a small or negative fee.
  EXPECT_EQ(AdministratorFee(INT64_C(1) << 40, INT64_C(1) << 40, 1, 0, 0),
            kAmountLimit);
  EXPECT_EQ(AdministratorFee(INT64_C(1) << 40, -(INT64_C(1) << 40), 1, 0, 0),
            -kAmountLimit);
}

TEST(SettlementRules, FeeColumnFromTheFirstHO) {
  struct Case {
    std::string headings;
    int column;
  } cases[] = {
      {"HOB", 2},
      {"NETEJA        HOG", 7},
      {"HOA", 1},
      {"HOE HOB", 5},
      {"HONORARIS     HOC", 1},  // the first HO decides
      {"", 1},
      {"ASCENSOR", 1},
      {"XXHO", 1},  // nothing after the HO
      {"hob", 1},
      {"HOH", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FeeColumn(c.headings), c.column) << c.headings;
  }
  std::string full(600, ' ');
  full.replace(598, 2, "HO");
  EXPECT_EQ(FeeColumn(full), 1);
  full.replace(500, 3, "HOD");
  EXPECT_EQ(FeeColumn(full), 4);
}

TEST(SettlementRules, SharesRoundHalfToEven) {
  struct Case {
    int64_t expense;
    int32_t total;
    int32_t coefficient;
    int64_t share;
  } cases[] = {
      {1000, 1000000, 333334, 333},  // 333.334
      {1000, 1000000, 333333, 333},  // 333.333
      {5, 10, 5, 2},                 // 2.5
      {7, 10, 5, 4},                 // 3.5
      {-5, 10, 5, -2},
      {-7, 10, 5, -4},
      {999, 1000, 500, 500},  // 499.5
      {1000, 0, 500, 0},      // unused column
      {1000, 1000000, 0, 0},
      // Exact beyond 32 bits.
      {int64_t{4000000000}, 1000000, 500000, int64_t{2000000000}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShareOfColumn(c.expense, c.total, c.coefficient), c.share)
        << c.expense << "/" << c.total << "*" << c.coefficient;
  }
  // Division by a tiny total cannot leave the amounts' range.
  EXPECT_EQ(ShareOfColumn(kAmountLimit, 1, 2000000000), kAmountLimit);
  EXPECT_EQ(ShareOfColumn(kAmountLimit, -1, 2000000000), -kAmountLimit);
}

TEST(SettlementRules, ReceiptTypeKeys) {
  EXPECT_EQ(FixedReceiptKey(1), std::string(1, '\x01'));
  EXPECT_EQ(FixedReceiptKey(8), std::string(1, '\x08'));
  EXPECT_EQ(FreeReceiptKey(12), std::string(1, static_cast<char>(140)));
  EXPECT_EQ(FreeReceiptKey(2012), std::string(1, static_cast<char>(140)));
  EXPECT_EQ(FreeReceiptKey(0), std::string(1, static_cast<char>(128)));
  EXPECT_EQ(FreeReceiptKey(99), std::string(1, static_cast<char>(227)));
  EXPECT_EQ(FreeReceiptKey(-7), std::string(1, static_cast<char>(135)));
}

TEST(SettlementRules, SumsSaturateInsteadOfWrapping) {
  EXPECT_EQ(SumAmounts(5, -7), -2);
  EXPECT_EQ(SumAmounts(kAmountLimit, kAmountLimit), kAmountLimit);
  EXPECT_EQ(SumAmounts(-kAmountLimit, -kAmountLimit), -kAmountLimit);
  EXPECT_EQ(SumAmounts(kAmountLimit, -kAmountLimit), 0);
}

// ---------------------------------------------------------------------------
// Whole reports over small installations.

class SettlementReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    SessionSettings& session = TEST_MutableSession();
    session = SessionSettings{};
    session.root_dir = dir_.path();
    session.tmp_dir = dir_.path();
    session.exe_dir = dir_.path() + "BIN/";
    session.language = "CAT";
    session.output_target = "TXT:informe.txt";
    SelectCurrency("a,E");
    MutableRun().program_id = "TARNEVOS";
    MutableRun().letterhead_mode = "N";
    platform::TEST_SetProgramRunner(
        [this](std::string_view program, const std::vector<std::string>&) {
          programs_run_.emplace_back(program);
          return platform::ProgramResult{true, 0, ""};
        });
    data_.receipt_types = {{FixedReceiptKey(1), 1}};
  }

  void TearDown() override {
    int16_t status = 0;
    CloseAllDataFiles(status);
    testing::ResetRunState();
  }

  // Writes the installation and opens its files as the driver does.
  void Install() {
    ASSERT_EQ(data_.WriteFiles(dir_.path()), 0);
    OpenAllDataFiles();
  }

  // Runs one report and returns the print file laid out as lines.
  std::vector<std::string> Report(int from_community, int from_unit,
                                  int to_community, int to_unit,
                                  int16_t copies = 1) {
    ReportParameters& parameters = Parameters();
    parameters.cutoff_date = cutoff_;
    parameters.range_from = PackedUnit(from_community, from_unit);
    parameters.range_to = PackedUnit(to_community, to_unit);
    parameters.copies = copies;
    ProduceReport();
    return testing::RenderPrintFile(PrintFile());
  }

  std::string PrintFile() const { return dir_.Read("kelprint.tmp"); }

  // The first line that starts with `start` (CP850), or "" when none.
  static std::string LineStarting(const std::vector<std::string>& lines,
                                  const std::string& start,
                                  int occurrence = 1) {
    for (const std::string& line : lines) {
      if (line.compare(0, start.size(), start) == 0 && --occurrence == 0)
        return line;
    }
    return "";
  }
  static int64_t Figure(const std::string& line, Slot slot) {
    return ParseEuros(FigureSlots(line)[slot]);
  }
  static int Count(const std::vector<std::string>& lines,
                   const std::string& text) {
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
          return l.find(text) != std::string::npos;
        }));
  }

  // A community of `count` units with general coefficients shared evenly
  // (the first unit takes the odd millionths).
  void AddCommunity(int code, int count, TestCommunity community = {}) {
    community.code = code;
    data_.communities.push_back(community);
    for (int u = 1; u <= count; ++u) {
      TestUnit unit;
      unit.community = code;
      unit.unit = u;
      unit.designation = "PIS " + std::to_string(u);
      unit.coefficients[0] = 1000000 / count + (u == 1 ? 1000000 % count : 0);
      data_.units.push_back(unit);
    }
  }

  testing::ScratchDir dir_;
  testing::ScopedEnv env_{{"KELROOT", dir_.path()}};
  testing::TestData data_;
  std::string cutoff_ = PackedDate(2026, 11, 30);
  std::vector<std::string> programs_run_;
};

TEST_F(SettlementReportTest, ThreeWayRoundingLeavesOneCentInTheAdjustment) {
  AddCommunity(1, 3);
  data_.payments.push_back({1, PackedDate(2026, 10, 1), 1000, false, 1});
  Install();
  const auto lines = Report(1, 0, 1, 999);

  for (const char* unit : {"001 ", "002 ", "003 "}) {
    const std::string line = LineStarting(lines, unit);
    ASSERT_FALSE(line.empty()) << unit;
    EXPECT_EQ(Figure(line, kColA), 333) << unit;
    EXPECT_EQ(Figure(line, kExpenses), 333) << unit;
    EXPECT_EQ(Figure(line, kBalance), -333) << unit;
  }
  const std::string adjustment = LineStarting(lines, "AJUST");
  ASSERT_FALSE(adjustment.empty());
  const auto slots = FigureSlots(adjustment);
  EXPECT_EQ(ParseEuros(slots[kColA]), 1);
  EXPECT_EQ(ParseEuros(slots[kExpenses]), 1);
  EXPECT_EQ(ParseEuros(slots[kBalance]), -1);
  // Zero differences print as blanks in the adjustment line.
  EXPECT_EQ(slots[kPrevious], std::string(10, ' '));
  EXPECT_EQ(slots[kColB], std::string(10, ' '));
  EXPECT_EQ(slots[kCollected], std::string(10, ' '));

  const std::string total = LineStarting(lines, "TOTAL COMUNITAT");
  EXPECT_EQ(Figure(total, kColA), 1000);
  EXPECT_EQ(Figure(total, kExpenses), 1000);
  EXPECT_EQ(Figure(total, kBalance), -1000);
  EXPECT_EQ(FigureSlots(total)[kPrevious], "      0'00");
  EXPECT_EQ(programs_run_,
            std::vector<std::string>{dir_.path() + "BIN/KELPRINT"});
}

TEST_F(SettlementReportTest, PaymentsAndCollectionsUpToTheCutoffInclusive) {
  AddCommunity(1, 2);
  data_.payments = {
      {1, PackedDate(1990, 1, 1), 100, false, 1},    // no lower limit
      {1, PackedDate(2026, 11, 30), 200, false, 1},  // on the cut-off
      {1, PackedDate(2026, 12, 1), 400, false, 1},   // after it
  };
  data_.collections = {
      {1, 1, PackedDate(2001, 5, 5), 100, 20, 'C'},   // 80
      {1, 1, PackedDate(2026, 11, 30), 50, 0, 'I'},   // on the cut-off
      {1, 1, PackedDate(2026, 12, 1), 1000, 0, 'C'},  // after it
      {1, 1, PackedDate(2026, 6, 1), 3000, 0, 'D'},   // not money received
      {1, 1, PackedDate(2026, 6, 1), 3000, 0, 'c'},
      {1, 2, PackedDate(2026, 11, 29), 7, 0, 'C'},
  };
  Install();
  const auto lines = Report(1, 0, 1, 999);

  const std::string total = LineStarting(lines, "TOTAL COMUNITAT");
  EXPECT_EQ(Figure(total, kColA), 300);
  EXPECT_EQ(Figure(total, kCollected), 137);
  EXPECT_EQ(Figure(total, kBalance), 137 - 300);
  EXPECT_EQ(Figure(LineStarting(lines, "001 "), kCollected), 130);
  EXPECT_EQ(Figure(LineStarting(lines, "002 "), kCollected), 7);

  // A day later the payment and the collection of 1 December count too.
  ResetWorkTables();
  cutoff_ = PackedDate(2026, 12, 1);
  const auto later = Report(1, 0, 1, 999);
  const std::string later_total = LineStarting(later, "TOTAL COMUNITAT");
  EXPECT_EQ(Figure(later_total, kColA), 700);
  EXPECT_EQ(Figure(later_total, kCollected), 1137);
}

TEST_F(SettlementReportTest, PreviousBalanceFromReceiptTypesOfClassOne) {
  AddCommunity(1, 2);
  data_.receipt_types = {
      {FixedReceiptKey(1), 1}, {FixedReceiptKey(2), 0}, {FixedReceiptKey(3), 1},
      {FreeReceiptKey(12), 1}, {FreeReceiptKey(40), 2},
  };
  TestUnit& first = data_.units[0];
  first.receipts = {500, 300, 25, 0, 0, 0, 0, 0};
  first.free = {{{12, 200}, {99, 700}}};  // 99: a type THRebut does not know
  TestUnit& second = data_.units[1];
  second.receipts = {-100, 0, 0, 0, 0, 0, 0, 0};
  second.free = {{{2012, 1}, {40, 9}}};  // 2012 is looked up as type 12
  Install();
  const auto lines = Report(1, 0, 1, 999);

  EXPECT_EQ(Figure(LineStarting(lines, "001 "), kPrevious), -725);
  EXPECT_EQ(Figure(LineStarting(lines, "001 "), kBalance), -725);
  EXPECT_EQ(Figure(LineStarting(lines, "002 "), kPrevious), 99);
  const std::string total = LineStarting(lines, "TOTAL COMUNITAT");
  EXPECT_EQ(Figure(total, kPrevious), -626);
  EXPECT_EQ(Figure(total, kBalance), -626);
}

TEST_F(SettlementReportTest, AdministratorFeeInTheColumnOfItsHeading) {
  MutableRun().fee_vat_rate = {0, 21};
  MutableRun().fee_withholding_rate = {0, 15};
  MutableRun().administrator_lines[7] = "ES12345678Z";
  TestCommunity community;
  community.monthly_fee = 30;
  community.fee_tax_type = 1;
  community.last_settlement = PackedDate(2026, 8, 31);
  community.tax_id = "ESH66778899";
  community.special[0] = {"ADMINISTRACIO", 1000000};
  community.has_headings = true;
  community.headings = "NET NETEJA                    HOB ADMINISTRACIO";
  AddCommunity(1, 10, community);
  for (TestUnit& unit : data_.units) unit.coefficients[1] = 100000;
  Install();
  const auto lines = Report(1, 0, 1, 999);

  const std::string total = LineStarting(lines, "TOTAL COMUNITAT");
  EXPECT_EQ(Figure(total, kColA), 0);
  EXPECT_EQ(Figure(total, kColB), 954);
  EXPECT_EQ(Figure(total, kExpenses), 954);
  EXPECT_EQ(Figure(LineStarting(lines, "001 "), kColB), 95);  // 95.4
  EXPECT_EQ(Figure(LineStarting(lines, "AJUST"), kColB), 4);
  EXPECT_NE(
      Count(lines,
            Cp850("RESUM DE LIQUIDACIÓ DES DEL 1 DE SETEMBRE DEL 2026 FINS AL "
                  "30 DE NOVEMBRE DEL 2026")),
      0);
}

TEST_F(SettlementReportTest, FeeWithoutHeadingsGoesToColumnA) {
  TestCommunity community;
  community.monthly_fee = 1000;
  community.last_settlement = PackedDate(2026, 10, 31);
  AddCommunity(1, 4, community);
  Install();
  const auto lines = Report(1, 0, 1, 999);
  EXPECT_EQ(Figure(LineStarting(lines, "TOTAL COMUNITAT"), kColA), 4000);
  EXPECT_EQ(Figure(LineStarting(lines, "001 "), kColA), 1000);
}

TEST_F(SettlementReportTest, NeverSettledCommunityIsChargedNoFee) {
  TestCommunity community;
  community.monthly_fee = 3000;  // would be ~24,300 months from year 0
  community.last_settlement = testing::kNoDate;
  AddCommunity(1, 2, community);
  Install();
  const auto lines = Report(1, 0, 1, 999);
  const std::string total = LineStarting(lines, "TOTAL COMUNITAT");
  EXPECT_EQ(Figure(total, kColA), 0);
  EXPECT_EQ(Figure(total, kExpenses), 0);
  // Its title has no start.
  EXPECT_EQ(Count(lines, " DES DEL "), 0);
  EXPECT_EQ(Count(lines, "RESUM DE LIQUIDACI"), 1);
  EXPECT_EQ(Count(lines, " FINS AL 30 DE NOVEMBRE DEL 2026"), 1);
}

TEST_F(SettlementReportTest, LargeFeeIsKeptExactBeyond32Bits) {
  TestCommunity community;
  community.monthly_fee = 2000000000;  // 20 million euros a month per unit
  community.last_settlement = PackedDate(2026, 8, 31);
  AddCommunity(1, 2, community);
  Install();
  Report(1, 0, 1, 999);
  // 2 x 2,000,000,000 x 3 = 12,000,000,000 hundredths.
  EXPECT_EQ(WorkTables().fee.total, int64_t{12000000000});
  EXPECT_EQ(WorkTables().column_expense[1], int64_t{12000000000});
  EXPECT_EQ(WorkTables().community_balance, -int64_t{12000000000});
}

TEST_F(SettlementReportTest,
       PrivateExpensesAndOutOfTableCodesShowInTheRemainder) {
  AddCommunity(1, 3);
  data_.payments = {
      {1, PackedDate(2026, 1, 1), 250, true, 2},  // unit 2's private expense
      {1, PackedDate(2026, 1, 2), 70, true,
       1500},                                     // no unit 1500: column 8 only
      {1, PackedDate(2026, 1, 3), 90, false, 9},  // no column 9
      {1, PackedDate(2026, 1, 4), 1200, false, 8},  // column 8 without a unit
      {1, PackedDate(2026, 1, 5), 60, false, 0},    // previous-balance column
  };
  Install();
  const auto lines = Report(1, 0, 1, 999);

  const std::string second = LineStarting(lines, "002 ");
  EXPECT_EQ(Figure(second, kPrivate), 250);
  EXPECT_EQ(Figure(second, kExpenses), 250);
  EXPECT_EQ(Figure(LineStarting(lines, "001 "), kPrivate), 0);

  const std::string total = LineStarting(lines, "TOTAL COMUNITAT");
  EXPECT_EQ(Figure(total, kPrevious), 60);
  EXPECT_EQ(Figure(total, kPrivate), 250 + 70 + 1200);
  EXPECT_EQ(Figure(total, kExpenses), 250 + 70 + 90 + 1200 + 60);
  EXPECT_EQ(Figure(total, kBalance), 60 - (250 + 70 + 90 + 1200 + 60));

  // Nothing is lost: what no unit line carries is in the adjustment line.
  const std::string adjustment = LineStarting(lines, "AJUST");
  EXPECT_EQ(Figure(adjustment, kPrevious), 60);
  EXPECT_EQ(Figure(adjustment, kPrivate), 70 + 1200);
  EXPECT_EQ(Figure(adjustment, kExpenses), 70 + 90 + 1200 + 60);
}

TEST_F(SettlementReportTest, UnitNumbersRepeatingModuloAThousand) {
  AddCommunity(1, 0);
  for (int u : {5, 1005}) {
    TestUnit unit;
    unit.unit = u;
    unit.designation = "U" + std::to_string(u);
    unit.coefficients[0] = 500000;
    data_.units.push_back(unit);
  }
  data_.collections = {
      {1, 5, PackedDate(2026, 3, 1), 300, 0, 'C'},
      {1, 1005, PackedDate(2026, 3, 1), 4000, 0, 'C'},
  };
  data_.payments = {{1, PackedDate(2026, 3, 1), 11, true, 5}};
  Install();
  const auto lines = Report(1, 0, 1, 9999);

  const std::string first = LineStarting(lines, "005 U5 ");
  const std::string second = LineStarting(lines, "005 U1005");
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(Figure(first, kCollected), 300);
  EXPECT_EQ(Figure(first, kPrivate), 11);
  EXPECT_EQ(Figure(second, kCollected), 0);
  EXPECT_EQ(Figure(second, kPrivate), 0);
  const std::string total = LineStarting(lines, "TOTAL COMUNITAT");
  EXPECT_EQ(Figure(total, kCollected), 4300);
  EXPECT_EQ(Figure(LineStarting(lines, "AJUST"), kCollected), 4000);
}

TEST_F(SettlementReportTest,
       RangeThatLeavesUnitsOutPrintsTheRestOfTheCommunity) {
  AddCommunity(1, 3);
  AddCommunity(2, 2);
  data_.payments.push_back({1, PackedDate(2026, 10, 1), 1000, false, 1});
  data_.collections.push_back({1, 3, PackedDate(2026, 10, 1), 500, 0, 'C'});
  Install();
  const auto lines = Report(1, 1, 1, 2);

  EXPECT_FALSE(LineStarting(lines, "001 ").empty());
  EXPECT_FALSE(LineStarting(lines, "002 ").empty());
  EXPECT_TRUE(LineStarting(lines, "003 ").empty());
  EXPECT_TRUE(LineStarting(lines, "AJUST").empty());
  const std::string rest = LineStarting(lines, "RESTA COMUNITAT");
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(Figure(rest, kColA), 334);
  EXPECT_EQ(Figure(rest, kCollected), 500);
  EXPECT_EQ(Figure(rest, kBalance), 500 - 334);
  // Community 2 lies outside the range.
  EXPECT_EQ(Count(lines, "TOTAL COMUNITAT"), 1);
}

TEST_F(SettlementReportTest, CopiesZeroMeansOneCopyPerUnit) {
  AddCommunity(1, 12);
  AddCommunity(2, 3);
  Install();
  const auto lines = Report(1, 0, 2, 999, 0);
  EXPECT_EQ(Count(lines, "<PAGE>"), 15);
  EXPECT_EQ(Count(lines, Cp850("PÀGINA    1")), 15);
  EXPECT_EQ(Count(lines, Cp850("PÀGINA    2")), 0);
  EXPECT_EQ(Count(lines, "TOTAL COMUNITAT"), 15);
  EXPECT_EQ(Count(lines, "AJUST"), 15);
}

TEST_F(SettlementReportTest,
       NegativeCopiesAndEmptyRangesPrintNothingButStillPrint) {
  AddCommunity(3, 4);
  Install();
  const std::string device_only = "DEVICETXT:informe.txt\r\n";

  Report(3, 0, 3, 999, -1);
  EXPECT_EQ(PrintFile(), device_only);
  Report(1, 0, 2, 999);  // no community
  EXPECT_EQ(PrintFile(), device_only);
  Report(3, 5, 3, 999);  // the community, but none of its units
  EXPECT_EQ(PrintFile(), device_only);
  EXPECT_EQ(programs_run_.size(), 3u);
}

TEST_F(SettlementReportTest, LongCommunitiesBreakPagesAndRepeatTheHeadings) {
  AddCommunity(1, 130);
  Install();
  const auto lines = Report(1, 0, 1, 999);
  EXPECT_EQ(Count(lines, "<PAGE>"), 3);
  EXPECT_EQ(Count(lines, Cp850("PÀGINA    3")), 1);
  EXPECT_EQ(Count(lines, "COD DEPART."), 3);
  // Every unit is listed once and the adjustment closes the listing.
  EXPECT_EQ(Count(lines, "PIS "), 130);
  EXPECT_FALSE(LineStarting(lines, "AJUST").empty());
  // No page holds more than 66 lines.
  int page_lines = 0;
  for (const std::string& line : lines) {
    page_lines = line == "<PAGE>" ? 0 : page_lines + 1;
    EXPECT_LE(page_lines, 67);
  }
}

// The SQLite engine, except that reads of records of one length fail with
// an I/O error after so many of them got through.
class FailingReads : public platform::RecordManager {
 public:
  FailingReads(uint32_t record_length, int16_t operation, int good_reads)
      : engine_(platform::CurrentRecordManager()),
        record_length_(record_length),
        operation_(operation),
        good_reads_(good_reads) {
    platform::SetRecordManager(this);
  }
  ~FailingReads() override { platform::SetRecordManager(nullptr); }
  int16_t Call(int16_t operation, uint8_t* block, uint8_t* data,
               uint32_t* data_length, uint8_t* key, uint8_t key_length,
               int8_t key_number) override {
    if (operation == operation_ && *data_length == record_length_ &&
        good_reads_-- <= 0) {
      ++failures;
      return platform::kStatusIoError;
    }
    return engine_.Call(operation, block, data, data_length, key, key_length,
                        key_number);
  }
  int failures = 0;

 private:
  platform::RecordManager& engine_;
  uint32_t record_length_;
  int16_t operation_;
  int good_reads_;
};

// Remembers the screen when the program beeps: a stop message is on it.
class SnapshotConsole : public platform::MemoryConsole {
 public:
  void Beep() override {
    MemoryConsole::Beep();
    snapshot.clear();
    for (int row = 1; row <= Rows(); ++row) snapshot += RowText(row) + "\n";
  }
  std::string snapshot;
};

int g_stops = 0;
void RecordStop() { ++g_stops; }

// The screen's words in one line: frames dropped, wrapped lines joined.
std::string Words(const std::string& screen) {
  std::string words;
  for (char c : screen) {
    const bool blank =
        c == ' ' || c == '\n' || static_cast<unsigned char>(c) >= 128;
    if (blank) {
      if (!words.empty() && words.back() != ' ') words += ' ';
    } else {
      words += c;
    }
  }
  return words;
}

// A read that fails in the middle of a report (neither success nor "nothing
// more") stops with the data file's stop message: nothing further is
// printed, the print file is removed and the print program is not started.
TEST_F(SettlementReportTest, AReadErrorStopsTheReportWithTheStopMessage) {
  AddCommunity(1, 30);
  AddCommunity(5, 64);
  data_.payments.push_back({5, PackedDate(2026, 10, 1), 1000, false, 1});
  Install();
  SnapshotConsole console;
  platform::SetConsole(&console);
  TEST_SetFatalStopHandler(RecordStop);
  g_stops = 0;

  const struct {
    uint32_t record_length;
    int16_t operation;
    int good_reads;
    const char* file;
  } cases[] = {
      {kPropietLength, platform::kOpGetNext, 57 + 30 * 2, "PropietH"},
      {kPropietLength, platform::kOpGetGreaterOrEqual, 3, "PropietH"},
      {kCobramLength, platform::kOpGetGreaterOrEqual, 40, "CobramH"},
      {kPagamLength, platform::kOpGetGreaterOrEqual, 1, "PagamH"},
      {kThRebutLength, platform::kOpGetEqual, 15, "THRebut"},
      {kFinDespLength, platform::kOpGetEqual, 1, "FinDespH"},
      {kFinquesLength, platform::kOpGetNext, 0, "FinquesH"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    dir_.Write("kelprint.tmp", "an older report");
    FailingReads failing(c.record_length, c.operation, c.good_reads);
    g_stops = 0;
    programs_run_.clear();
    Report(1, 0, 999, 999);
    EXPECT_EQ(failing.failures, 1);
    EXPECT_EQ(g_stops, 1);
    EXPECT_NE(Words(console.snapshot)
                  .find("NO ES POT ACCEDIR AL FITXER " + dir_.path() +
                        "DADES\\" + c.file + " (2)"),
              std::string::npos)
        << console.snapshot;
    EXPECT_TRUE(programs_run_.empty());
    EXPECT_FALSE(dir_.Exists("kelprint.tmp"));
    // The stop closed every file; the next case opens them again.
    OpenAllDataFiles();
  }
  platform::SetConsole(nullptr);

  // The same installation read without failures gives its report.
  const auto lines = Report(1, 0, 999, 999);
  EXPECT_EQ(programs_run_.size(), 1u);
  EXPECT_EQ(Count(lines, "AJUST"), 2);
}

// The interactive loop, driven by scripted keys on the memory console.
class ReportLoopTest : public SettlementReportTest {
 protected:
  void LoadDemoForms() {
    const std::string source =
        testing::SourceDir() + "/demo/root/FORMS/TARNEVOS.KPN";
    std::ifstream in(source, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    ASSERT_FALSE(text.str().empty()) << source;
    TEST_MutableSession().work_date = PackDigits("20261130");
    ASSERT_TRUE(ReadFormText(Cp850(text.str()), "TARNEVOS.KPN"));
    InstallReportHooks();
  }
  platform::MemoryConsole& console_ = platform::BuiltInMemoryConsole();
};

TEST_F(ReportLoopTest, AcceptConfirmPrintThenLeave) {
  AddCommunity(1, 3);
  data_.payments.push_back({1, PackedDate(2026, 10, 1), 1000, false, 1});
  Install();
  LoadDemoForms();
  console_.PushKey(2);  // Ctrl+B: accept form 1 as it stands
  console_.PushKey('S');
  console_.PushKey(13);  // confirm on form 2
  console_.PushKey(27);  // leave form 1
  RunReport();

  EXPECT_EQ(console_.PendingEvents(), 0u);
  EXPECT_EQ(console_.ExhaustedWaits(), 0);
  EXPECT_EQ(programs_run_.size(), 1u);
  EXPECT_EQ(Parameters().cutoff_date, PackedDate(2026, 11, 30));
  EXPECT_EQ(Parameters().range_from, PackedUnit(1, 0));
  EXPECT_EQ(Parameters().range_to, PackedUnit(999, 999));
  const auto lines = testing::RenderPrintFile(PrintFile());
  EXPECT_EQ(Figure(LineStarting(lines, "AJUST"), kColA), 1);
  EXPECT_EQ(Count(lines, " FINS AL 30 DE NOVEMBRE DEL 2026"), 1);
  // The primary currency is current again after the report.
  EXPECT_EQ(CurrentCurrency(), 'E');
}

TEST_F(ReportLoopTest, RefusedConfirmationAndEscPrintNothing) {
  AddCommunity(1, 3);
  Install();
  LoadDemoForms();
  console_.PushKey(2);
  console_.PushKey(13);  // form 2 answered "N": back to form 1
  console_.PushKey(27);
  RunReport();
  EXPECT_EQ(console_.PendingEvents(), 0u);
  EXPECT_TRUE(programs_run_.empty());
  EXPECT_FALSE(dir_.Exists("kelprint.tmp"));
}

// A form 1 without a field to edit closes at once: the loop then starts a
// report only when the operator confirmed one on form 2, and ends when he
// did not, instead of showing the form again and again.
TEST_F(ReportLoopTest, NoReportIsStartedThatWasNotConfirmed) {
  AddCommunity(1, 3);
  Install();
  ASSERT_TRUE(
      ReadFormText("2,6\r\n"
                   "\"d,1b\",1,0,0,0,0,0\r\n"
                   "2,2,\"Nothing to edit\",0,0,0,4,0,0,\"\"\r\n"
                   "\"d,1b\",1,0,10,20,14,60\r\n"
                   "2,3,\"Print? \",1,0,0,0,0,0,\"|N,No|S,Si\"\r\n",
                   "TARNEVOS.KPN"));
  InstallReportHooks();
  int runs = 0;
  platform::TEST_SetProgramRunner(
      [&runs](std::string_view, const std::vector<std::string>&) {
        // The loop would start the print program for ever: stop it here.
        if (++runs > 3) throw std::runtime_error("print program loop");
        return platform::ProgramResult{true, 0, ""};
      });
  console_.PushKey(13);  // form 2 answered "N"
  EXPECT_NO_THROW(RunReport());
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(console_.PendingEvents(), 0u);

  console_.PushKey('S');
  console_.PushKey(13);  // confirmed: one report
  console_.PushKey(27);  // then Esc on form 2: the loop ends
  EXPECT_NO_THROW(RunReport());
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(console_.PendingEvents(), 0u);
}

}  // namespace
}  // namespace tarnevos
