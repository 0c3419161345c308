#include "report/settlement.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

#include "console/form_screen.h"
#include "console/form_table.h"
#include "console/keyboard.h"
#include "console/windows.h"
#include "data/access_layer.h"
#include "data/data_files.h"
#include "print/print_file.h"
#include "report/layout.h"
#include "report/report_form.h"
#include "report/statements.h"
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
constexpr int kFixedReceiptTypes = 8;
constexpr int kFreeReceiptEntries = 2;
constexpr int16_t kReceiptClassUnknown = 9;
constexpr int16_t kReceiptClassPreviousBalance = 1;

// A long double result as an amount; values no amount can reach saturate
// (they print as overflow marks) instead of wrapping.
int64_t ToAmount(long double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<long double>(kAmountLimit)) return kAmountLimit;
  if (value <= -static_cast<long double>(kAmountLimit)) return -kAmountLimit;
  return static_cast<int64_t>(value);
}

int64_t RoundedAmount(long double value) {
  return ToAmount(RoundHalfEven(value));
}

// Set when a read of the current report failed: the report is abandoned
// and nothing more is read or printed.
bool& ReportAbandoned() {
  static bool abandoned = false;
  return abandoned;
}

// True when `status` ends a read as the report expects: success, end of
// file or key not found. Any other answer is a failed read, and the figures
// would be wrong in silence: the print file is discarded (nothing that
// looks like a finished report is left) and the program stops with the
// data file's stop message.
bool ReadAsExpected(int16_t handle, int16_t status) {
  if (status == 0 || IsNothingMore(status)) return true;
  if (!ReportAbandoned()) {
    ReportAbandoned() = true;
    DiscardPrintFile();
    StopOnReadFailure(handle, status);
  }
  return false;
}

const uint8_t* Finques() { return Areas().finques.data(); }
const uint8_t* Propiet() { return Areas().propiet.data(); }

std::string CommunityCode() {
  return GetBytes(Finques(), field::kCommunityCode, 2);
}
std::string CurrentUnitCode() {
  return GetBytes(Propiet(), field::kUnitCode, 4);
}

std::string Prefix(std::string_view text, size_t length) {
  return std::string(text.substr(0, std::min(length, text.size())));
}

// The class of a receipt type: THRebut's class field after a read primed
// with "unknown", which a failed read leaves in place. A community's units
// share a handful of types, so each type is read once per community (every
// unit of every copy asks for ten).
int16_t ReceiptClass(const std::string& key) {
  SettlementWork& work = WorkTables();
  const int byte = key.size() == 1 ? static_cast<unsigned char>(key[0]) : -1;
  if (byte >= 0 && work.receipt_class_known[byte])
    return work.receipt_class[byte];
  PutInt16(Areas().threbut.data(), field::kReceiptClass, kReceiptClassUnknown);
  int16_t status = 0;
  ReadByKey(kThRebutHandle, 0, key, 0, status);
  if (!ReadAsExpected(kThRebutHandle, status)) return kReceiptClassUnknown;
  const int16_t receipt_class =
      GetInt16(Areas().threbut.data(), field::kReceiptClass);
  if (byte >= 0) {
    work.receipt_class[byte] = receipt_class;
    work.receipt_class_known[byte] = true;
  }
  return receipt_class;
}

// The whole screen in the current colour.
void ClearScreen() {
  ScrollRegion(0, 0, static_cast<int16_t>(ScreenRows() - 1),
               static_cast<int16_t>(ScreenColumns() - 1), ScreenRows());
}

void ResetCommunityTotals(SettlementWork& work) {
  work.column_expense.fill(0);
  work.fee = FeeFigures{};
  work.unit_private_expense.fill(0);
  work.unit_collected.fill(0);
  for (std::string& owner : work.number_owner) owner.clear();
  work.number_claimed.reset();
  work.receipt_class_known.reset();
  work.unit_count = 0;
  work.community_expense_total = 0;
  work.community_collected_total = 0;
  work.community_balance = 0;
}

void SetUpColumns(SettlementWork& work) {
  work.column_title[1] = Translate(Cp850("SEGONS COEFICIENT GENERAL"));
  work.column_coefficient_total[1] = 1000000;
  for (int k = 2; k <= 7; ++k) {
    work.column_title[k] = GetBytes(Finques(), field::SpecialTitle(k - 1), 30);
    work.column_coefficient_total[k] =
        GetInt32(Finques(), field::SpecialTotal(k - 1));
  }
}

// Collections of the current unit up to the cut-off (no lower limit); only
// types C and I are money received.
void GatherCollections(SettlementWork& work, bool owns_number) {
  const std::string unit_code = CurrentUnitCode();
  const std::string limit = unit_code + Parameters().cutoff_date;
  const int number = UnitNumber(unit_code);
  assert(number >= 0 && number < kUnitNumbers);
  const uint8_t* cobram = Areas().cobram.data();
  int16_t status = 0;
  ReadByKey(kCobramHandle, 0, unit_code, 1, status);
  while (status == 0 && GetBytes(cobram, field::kCollectionUnit, 4) +
                                GetBytes(cobram, field::kCollectionDate, 4) <=
                            limit) {
    const char type = static_cast<char>(cobram[field::kCollectionType]);
    if (type == 'C' || type == 'I') {
      const int64_t amount =
          int64_t{GetInt32(cobram, field::kCollectionFirst)} -
          GetInt32(cobram, field::kCollectionSecond);
      if (owns_number) {
        work.unit_collected[number] =
            SumAmounts(work.unit_collected[number], amount);
      }
      work.community_collected_total =
          SumAmounts(work.community_collected_total, amount);
    }
    StepRecords(kCobramHandle, 1, status);
  }
  ReadAsExpected(kCobramHandle, status);
}

// Payments of the community up to the cut-off (no lower limit).
void GatherPayments(SettlementWork& work) {
  const std::string community = CommunityCode();
  const std::string limit = community + Parameters().cutoff_date;
  const uint8_t* pagam = Areas().pagam.data();
  int16_t status = 0;
  ReadByKey(kPagamHandle, 0, community, 1, status);
  while (status == 0 && GetBytes(pagam, field::kPaymentCommunity, 2) +
                                GetBytes(pagam, field::kPaymentDate, 4) <=
                            limit) {
    const int64_t amount = GetInt32(pagam, field::kPaymentAmount);
    const int m = static_cast<int>(
        NumericValue(UnpackDigits(GetBytes(pagam, field::kPaymentCode, 2))));
    if (pagam[field::kPaymentSingle] == 'S') {
      // A unit number beyond the table belongs to no listed unit: the
      // amount stays in the private-expenses column and so shows in the
      // remainder line.
      if (m >= 0 && m < kUnitNumbers) {
        work.unit_private_expense[m] =
            SumAmounts(work.unit_private_expense[m], amount);
      }
      work.column_expense[8] = SumAmounts(work.column_expense[8], amount);
    } else if (m >= 0 && m <= 8) {
      work.column_expense[m] = SumAmounts(work.column_expense[m], amount);
    }
    // A column code beyond 0..8 names no column: the amount counts only in
    // the community's expenses, so the remainder line shows it in its
    // expenses slot.
    work.community_expense_total =
        SumAmounts(work.community_expense_total, amount);
    StepRecords(kPagamHandle, 1, status);
  }
  ReadAsExpected(kPagamHandle, status);
}

int ReadFeeColumn() {
  int16_t status = 0;
  ReadByKey(kFinDespHandle, 0, CommunityCode(), 0, status);
  if (status != 0) {
    ReadAsExpected(kFinDespHandle, status);
    return 1;
  }
  return FeeColumn(GetBytes(Areas().findesp.data(), field::kHeadings, 600));
}

bool InRange(const std::string& unit_code) {
  const ReportParameters& parameters = Parameters();
  return unit_code >= parameters.range_from && unit_code <= parameters.range_to;
}

// The community's own figures from the FinquesH area and the work tables.
CommunitySettlement CommunityFigures(const SettlementWork& work) {
  CommunitySettlement settlement;
  settlement.code = CommunityCode();
  settlement.name = GetBytes(Finques(), field::kCommunityName, 30);
  settlement.tax_id = GetBytes(Finques(), field::kCommunityTaxId, 17);
  settlement.last_settlement = GetBytes(Finques(), field::kLastSettlement, 4);
  settlement.cutoff_date = Parameters().cutoff_date;
  settlement.column_title = work.column_title;
  settlement.column_coefficient_total = work.column_coefficient_total;
  settlement.column_expense = work.column_expense;
  settlement.expense_total = work.community_expense_total;
  settlement.collected_total = work.community_collected_total;
  settlement.balance = work.community_balance;
  settlement.unit_count = work.unit_count;
  settlement.fee = work.fee;
  return settlement;
}

// The units of the community that lie in the range, in key order.
void ListUnits(CommunitySettlement& settlement) {
  int16_t status = 0;
  ReadByKey(kPropietHandle, 0, settlement.code, 1, status);
  while (status == 0 && !ReportAbandoned() &&
         GetBytes(Propiet(), field::kUnitCode, 2) == settlement.code) {
    if (InRange(CurrentUnitCode())) {
      settlement.units.push_back(ComputeUnitFigures());
    }
    StepRecords(kPropietHandle, 1, status);
  }
  ReadAsExpected(kPropietHandle, status);
}

// The remainder and total lines: the community's figures, and those less
// the sums over the listed units.
void FinishTotals(CommunitySettlement& settlement) {
  LineFigures& totals = settlement.totals;
  for (int i = 0; i <= 8; ++i) totals[i] = settlement.column_expense[i];
  totals[kExpensesFigure] = settlement.expense_total;
  totals[kCollectedFigure] = settlement.collected_total;
  totals[kBalanceFigure] = settlement.balance;
  settlement.remainder = totals;
  for (const UnitSettlement& unit : settlement.units) {
    const LineFigures figures = unit.Figures();
    for (size_t i = 0; i < figures.size(); ++i) {
      settlement.remainder[i] =
          SumAmounts(settlement.remainder[i], -figures[i]);
    }
  }
}

// Calls `each` with every community from the first two bytes of RangeFrom
// to the first two bytes of RangeTo in the FinquesH record area.
void ForEachCommunity(const std::function<void()>& each) {
  const ReportParameters& parameters = Parameters();
  const std::string first = Prefix(parameters.range_from, 2);
  const std::string last = Prefix(parameters.range_to, 2);
  int16_t status = 0;
  ReadByKey(kFinquesHandle, 0, first, 1, status);
  while (status == 0 && CommunityCode() <= last) {
    each();
    if (ReportAbandoned()) return;
    StepRecords(kFinquesHandle, 1, status);
  }
  ReadAsExpected(kFinquesHandle, status);
}

}  // namespace

int64_t SumAmounts(int64_t a, int64_t b) {
  return std::clamp(a + b, -kAmountLimit, kAmountLimit);
}

SettlementWork& WorkTables() {
  static SettlementWork work;
  return work;
}

void ResetWorkTables() {
  WorkTables() = SettlementWork{};
  ReportAbandoned() = false;
}

int UnitNumber(std::string_view unit_code) {
  const std::string digits = UnpackDigits(unit_code);
  const std::string last =
      digits.size() > 3 ? digits.substr(digits.size() - 3) : digits;
  int number = 0;
  for (char c : last) {
    if (c >= '0' && c <= '9') number = number * 10 + (c - '0');
  }
  return number % kUnitNumbers;
}

bool IsSettlementDate(std::string_view packed_date) {
  if (packed_date.size() != 4 || IsAllChar(packed_date, 128)) return false;
  for (char c : packed_date) {
    const int value = static_cast<unsigned char>(c);
    if (value < 128 || value > 128 + 99) return false;
  }
  const int month = static_cast<unsigned char>(packed_date[2]) - 128;
  const int day = static_cast<unsigned char>(packed_date[3]) - 128;
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

int32_t MonthsToCharge(std::string_view last_settlement,
                       std::string_view cutoff_date) {
  // Without a start date the period would run from year 0 and charge tens
  // of thousands of months; a cut-off before the last settlement is a
  // period already settled. Neither is charged.
  if (!IsSettlementDate(last_settlement) || cutoff_date < last_settlement)
    return 0;
  return DateDifference(last_settlement, cutoff_date, "m");
}

void FeeRates(int16_t fee_tax_type, std::string_view administrator_tax_id,
              std::string_view community_tax_id, float& vat_rate,
              float& withholding_rate) {
  vat_rate = 0;
  withholding_rate = 0;
  if (fee_tax_type != 0 && fee_tax_type != 1) return;
  const RunValues& run = Run();
  vat_rate = run.fee_vat_rate[fee_tax_type];
  auto entity_letter = [](std::string_view id) {
    return id.size() >= 3 && id[2] >= 'A' && id[2] <= 'W';
  };
  if (administrator_tax_id.substr(0, 2) == "ES" &&
      !entity_letter(administrator_tax_id) &&
      community_tax_id.substr(0, 2) == "ES" &&
      entity_letter(community_tax_id)) {
    withholding_rate = run.fee_withholding_rate[fee_tax_type];
  }
}

FeeFigures AdministratorFeeFigures(int64_t units, int64_t monthly_fee,
                                   int64_t months, float vat_rate,
                                   float withholding_rate) {
  FeeFigures figures;
  figures.units =
      static_cast<int32_t>(std::clamp<int64_t>(units, INT32_MIN, INT32_MAX));
  figures.months =
      static_cast<int32_t>(std::clamp<int64_t>(months, INT32_MIN, INT32_MAX));
  figures.monthly_fee = monthly_fee;
  figures.vat_rate = vat_rate;
  figures.withholding_rate = withholding_rate;
  int64_t fee = 0;
  if (__builtin_mul_overflow(units, monthly_fee, &fee) ||
      __builtin_mul_overflow(fee, months, &fee)) {
    const bool negative = ((units < 0) != (monthly_fee < 0)) != (months < 0);
    fee = negative ? -kAmountLimit : kAmountLimit;
  }
  figures.base = std::clamp(fee, -kAmountLimit, kAmountLimit);
  const long double base = static_cast<long double>(figures.base);
  figures.vat =
      RoundedAmount(static_cast<long double>(vat_rate) * base / 100.0L);
  figures.withholding =
      RoundedAmount(static_cast<long double>(withholding_rate) * base / 100.0L);
  figures.total =
      SumAmounts(SumAmounts(figures.base, figures.vat), -figures.withholding);
  return figures;
}

int64_t AdministratorFee(int64_t units, int64_t monthly_fee, int64_t months,
                         float vat_rate, float withholding_rate) {
  return AdministratorFeeFigures(units, monthly_fee, months, vat_rate,
                                 withholding_rate)
      .total;
}

LineFigures UnitSettlement::Figures() const {
  return {amount[0], amount[1], amount[2], amount[3], amount[4], amount[5],
          amount[6], amount[7], amount[8], expenses,  collected, balance};
}

int FeeColumn(std::string_view headings) {
  const size_t at = headings.find("HO");
  if (at == std::string_view::npos || at + 2 >= headings.size()) return 1;
  const char* letter =
      std::char_traits<char>::find(kColumnLetters, 7, headings[at + 2]);
  return letter == nullptr ? 1 : static_cast<int>(letter - kColumnLetters) + 1;
}

int64_t ShareOfColumn(int64_t expense, int32_t coefficient_total,
                      int32_t coefficient) {
  if (coefficient_total == 0) return 0;
  return RoundedAmount(static_cast<long double>(expense) /
                       static_cast<long double>(coefficient_total) *
                       static_cast<long double>(coefficient));
}

std::string FixedReceiptKey(int q) {
  return std::string(1, static_cast<char>(q));
}

std::string FreeReceiptKey(int16_t type_number) {
  return PackDigits(ZeroPad(type_number, 2));
}

int64_t PreviousBalanceEntries() {
  int64_t sum = 0;
  for (int q = 1; q <= kFixedReceiptTypes; ++q) {
    const int32_t amount = GetInt32(Propiet(), field::ReceiptAmount(q));
    if (ReceiptClass(FixedReceiptKey(q)) == kReceiptClassPreviousBalance) {
      sum += amount;
    }
  }
  for (int e = 1; e <= kFreeReceiptEntries; ++e) {
    const int16_t type_number = GetInt16(Propiet(), field::FreeType(e));
    const int32_t amount = GetInt32(Propiet(), field::FreeAmount(e));
    if (ReceiptClass(FreeReceiptKey(type_number)) ==
        kReceiptClassPreviousBalance) {
      sum += amount;
    }
  }
  return sum;
}

bool ClaimUnitNumber(std::string_view unit_code) {
  SettlementWork& work = WorkTables();
  const int number = UnitNumber(unit_code);
  if (!work.number_claimed[number]) {
    work.number_claimed[number] = true;
    work.number_owner[number] = std::string(unit_code);
    return true;
  }
  return work.number_owner[number] == unit_code;
}

bool OwnsUnitNumber(std::string_view unit_code) {
  const SettlementWork& work = WorkTables();
  const int number = UnitNumber(unit_code);
  return !work.number_claimed[number] || work.number_owner[number] == unit_code;
}

void GatherCommunityTotals() {
  SettlementWork& work = WorkTables();
  ResetCommunityTotals(work);
  const std::string community = CommunityCode();

  int16_t status = 0;
  ReadByKey(kPropietHandle, 0, community, 1, status);
  while (status == 0 && !ReportAbandoned() &&
         GetBytes(Propiet(), field::kUnitCode, 2) == community) {
    ++work.unit_count;
    work.column_expense[0] =
        SumAmounts(work.column_expense[0], -PreviousBalanceEntries());
    GatherCollections(work, ClaimUnitNumber(CurrentUnitCode()));
    StepRecords(kPropietHandle, 1, status);
  }
  if (!ReadAsExpected(kPropietHandle, status)) return;

  work.fee = AdministratorFeeFigures(
      work.unit_count, GetInt32(Finques(), field::kMonthlyFee),
      work.month_count, work.vat_rate, work.withholding_rate);
  work.fee.column = ReadFeeColumn();
  work.column_expense[work.fee.column] = work.fee.total;
  work.community_expense_total = work.fee.total;

  if (!ReportAbandoned()) GatherPayments(work);

  work.community_balance = SumAmounts(
      SumAmounts(work.community_collected_total, work.column_expense[0]),
      -work.community_expense_total);
}

UnitSettlement ComputeUnitFigures() {
  const SettlementWork& work = WorkTables();
  UnitSettlement unit;
  unit.code = CurrentUnitCode();
  unit.number = UnitNumber(unit.code);
  assert(unit.number >= 0 && unit.number < kUnitNumbers);
  unit.owner = GetBytes(Propiet(), field::kOwnerName, 30);
  unit.designation = GetBytes(Propiet(), field::kDesignation, 10);
  for (int k = 1; k <= 7; ++k) {
    unit.coefficient[k] = GetInt32(Propiet(), field::Coefficient(k));
  }
  unit.amount[0] = -PreviousBalanceEntries();
  for (int k = 1; k <= 7; ++k) {
    unit.amount[k] =
        ShareOfColumn(work.column_expense[k], work.column_coefficient_total[k],
                      unit.coefficient[k]);
  }
  const bool owns_number = OwnsUnitNumber(unit.code);
  unit.amount[8] = owns_number ? work.unit_private_expense[unit.number] : 0;
  for (int k = 1; k <= 8; ++k)
    unit.expenses = SumAmounts(unit.expenses, unit.amount[k]);
  unit.collected = owns_number ? work.unit_collected[unit.number] : 0;
  unit.balance =
      SumAmounts(SumAmounts(unit.collected, unit.amount[0]), -unit.expenses);
  return unit;
}

CommunitySettlement SettleCommunity() {
  SettlementWork& work = WorkTables();
  work.month_count = MonthsToCharge(
      GetBytes(Finques(), field::kLastSettlement, 4), Parameters().cutoff_date);
  SetUpColumns(work);
  FeeRates(GetInt16(Finques(), field::kFeeTaxType),
           Run().administrator_lines[7],
           GetBytes(Finques(), field::kCommunityTaxId, 17), work.vat_rate,
           work.withholding_rate);
  GatherCommunityTotals();
  CommunitySettlement settlement = CommunityFigures(work);
  if (!ReportAbandoned()) ListUnits(settlement);
  FinishTotals(settlement);
  return settlement;
}

void ProcessCommunity(const SettlementSink& sink) {
  const CommunitySettlement settlement = SettleCommunity();
  // A community whose figures could not all be read is not printed.
  if (ReportAbandoned()) return;
  const int32_t copies =
      Parameters().copies == 0 ? settlement.unit_count : Parameters().copies;
  for (int32_t copy = 0; copy < copies; ++copy) {
    PrintCommunityListing(settlement);
  }
  if (sink) sink(settlement);
}

void ReportCommunities(const SettlementSink& sink) {
  ForEachCommunity([&sink] { ProcessCommunity(sink); });
}

void SettleCommunities(const SettlementSink& sink) {
  ForEachCommunity([&sink] {
    const CommunitySettlement settlement = SettleCommunity();
    if (sink) sink(settlement);
  });
}

void ProduceReport(const SettlementSink& sink,
                   const std::function<void()>& before_printing) {
  ReportAbandoned() = false;
  OpenPrintFile(Session().output_target);
  SelectCurrency("p");
  ReportCommunities(sink);
  if (before_printing && !ReportAbandoned()) before_printing();
  SelectCurrency("");
  // An abandoned report's print file is gone and must not be printed.
  if (ReportAbandoned()) return;
  ClosePrintFile();
  RunPrintProgram();
}

void RunReport() {
  for (;;) {
    SetColour("n");
    ClearScreen();
    int16_t form = 1;
    KeyCode key = 0;
    FormScreen(form, key);
    // Form 1 comes back without a confirmed report only when Esc left it,
    // or when it has no field the operator could edit (it then closes at
    // once, and showing it again would only close it again).
    if (key == key::kEsc || !TakeReportRequest()) return;
    if (Parameters().statements) {
      TellStatementsOutcome(ProduceReportWithStatements(StatementsFolder()));
    } else {
      ProduceReport();
    }
  }
}

}  // namespace tarnevos
