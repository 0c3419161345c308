#ifndef TARNEVOS_REPORT_SETTLEMENT_H_
#define TARNEVOS_REPORT_SETTLEMENT_H_

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The settlement summary: for every community of the requested range, how
// its expenses of the period are shared among its units by coefficients,
// what each unit has paid and each unit's balance. Computed into a
// CommunitySettlement per community, which the layout of report/layout.h
// writes to the print file.
//
// Amounts are hundredths of a euro. The data files store them as signed
// 32-bit integers; the work tables keep them in 64 bits so that the sums
// over a community (and the administrator's fee, a product of three
// numbers) never wrap around. The print formats amounts from doubles, which
// hold every such sum exactly.
namespace tarnevos {

// Highest unit number + 1: a unit number is the last three digits of the
// unit's code.
constexpr int kUnitNumbers = 1000;

// Amounts in the work tables stay within +-kAmountLimit: results that go
// beyond it (far beyond what any print mask can show) saturate there
// instead of wrapping, and print as overflow marks.
constexpr int64_t kAmountLimit = int64_t{1} << 61;
// a + b, saturated at +-kAmountLimit (a and b within it).
int64_t SumAmounts(int64_t a, int64_t b);

// --- The computed settlement --------------------------------------------
//
// The settlement of one community is computed once into the plain figures
// below; the print file's layout, the spreadsheets and the owner statements
// are renderers of them and never compute a figure of their own.

// The twelve figures of a line in the order the summary prints them:
// previous balance, columns A..G, private expenses, expenses, collected,
// balance.
using LineFigures = std::array<int64_t, 12>;
constexpr int kPreviousBalanceFigure = 0;
constexpr int kPrivateExpensesFigure = 8;
constexpr int kExpensesFigure = 9;
constexpr int kCollectedFigure = 10;
constexpr int kBalanceFigure = 11;

// One listed unit.
struct UnitSettlement {
  std::string code;         // 4 packed bytes (community, unit)
  int number = 0;           // 0..999, printed as the unit's code
  std::string owner;        // 30 characters as stored
  std::string designation;  // 10 characters as stored
  // 1..7: the unit's coefficient in columns A..G (index 0 unused).
  std::array<int32_t, 8> coefficient{};
  // 0 previous balance, 1..7 its share of each column, 8 private expenses.
  std::array<int64_t, 9> amount{};
  int64_t expenses = 0;  // amount[1] + ... + amount[8]
  int64_t collected = 0;
  int64_t balance = 0;  // collected + amount[0] - expenses

  LineFigures Figures() const;
};

// How the administrator's fee was made up.
struct FeeFigures {
  int32_t units = 0;   // every unit of the community
  int32_t months = 0;  // from the last settlement to the cut-off
  int64_t monthly_fee = 0;
  float vat_rate = 0;          // percent
  float withholding_rate = 0;  // percent
  int64_t base = 0;            // units x monthly fee x months
  int64_t vat = 0;             // round(vat_rate x base / 100)
  int64_t withholding = 0;     // round(withholding_rate x base / 100)
  int64_t total = 0;           // base + vat - withholding
  int column = 1;              // 1..7: the column it is charged to
};

// One community: its data, its totals, and the units of the range.
struct CommunitySettlement {
  std::string code;             // 2 packed bytes
  std::string name;             // 30 characters as stored (SURNAME*PREFIX)
  std::string tax_id;           // 17 characters as stored
  std::string last_settlement;  // packed date; four bytes 128 when never
  std::string cutoff_date;      // packed date
  // 1..7: columns A..G (index 0 unused). A total of 0: column not used.
  std::array<std::string, 8> column_title;
  std::array<int32_t, 8> column_coefficient_total{};
  // 0 previous balance of all units, 1..7 expenses by column, 8 expenses
  // charged to single units.
  std::array<int64_t, 9> column_expense{};
  int64_t expense_total = 0;
  int64_t collected_total = 0;
  int64_t balance = 0;
  int32_t unit_count = 0;  // every unit of the community, listed or not
  FeeFigures fee;
  std::vector<UnitSettlement> units;  // the units of the range, in order
  // The community's figures less those of the listed units: the rounding
  // adjustment when every unit is listed, else the rest of the community.
  LineFigures remainder{};
  LineFigures totals{};  // the community total line

  bool AllListed() const {
    return static_cast<int64_t>(units.size()) == unit_count;
  }
};

// Receives each community's settlement after its listing was printed.
using SettlementSink = std::function<void(const CommunitySettlement&)>;

// --- The work tables of the computation -------------------------------------

// The report's work tables. Created once at start-up (ResetWorkTables),
// refilled for every community. Columns 1..7 are the distribution columns
// A..G (index 0 of the column tables is unused).
struct SettlementWork {
  std::array<std::string, 8> column_title;
  std::array<int32_t, 8> column_coefficient_total{};  // 0: column not used
  // 0 previous balance of all units, 1..7 expenses to share by column,
  // 8 expenses charged to single units.
  std::array<int64_t, 9> column_expense{};
  std::array<int64_t, kUnitNumbers> unit_private_expense{};
  std::array<int64_t, kUnitNumbers> unit_collected{};
  // The unit code (4 packed bytes) that a unit number belongs to in the
  // current community; see ClaimUnitNumber.
  std::array<std::string, kUnitNumbers> number_owner;
  std::bitset<kUnitNumbers> number_claimed;
  // THRebut classes of the receipt types met in the current community, by
  // their one-byte key.
  std::array<int16_t, 256> receipt_class{};
  std::bitset<256> receipt_class_known;

  // Per community.
  int32_t unit_count = 0;      // every unit of the community, listed or not
  int32_t month_count = 0;     // months of administrator's fee
  float vat_rate = 0;          // fee VAT, percent
  float withholding_rate = 0;  // fee withholding, percent
  FeeFigures fee;
  int64_t community_expense_total = 0;
  int64_t community_collected_total = 0;
  int64_t community_balance = 0;
};

// The work tables.
SettlementWork& WorkTables();
// All zero or empty (the driver's start-up step; tests start clean).
void ResetWorkTables();

// The interactive loop: form 1, then the report for the accepted
// parameters, until the operator leaves the form with Esc.
void RunReport();

// One report for the parameters in Parameters(): opens the print file on
// the session's output target, reports every community of the range in the
// printer's currency, closes the file and runs the print program. Each
// community's settlement is also handed to `sink` when one is given, and
// `before_printing` runs (still in the printer's currency) once the last
// community is done, before the print program starts.
//
// A read that fails on the way (any status but success, end of file or key
// not found) would leave wrong figures: the report is abandoned there, its
// print file removed and the print program not started, and the program
// stops with the data file's stop message (StopOnReadFailure).
void ProduceReport(const SettlementSink& sink = nullptr,
                   const std::function<void()>& before_printing = nullptr);

// Every community of the range settled and handed to `sink`, nothing
// printed (checks of an installation read the figures the report would
// print). A failed read abandons it as it does the report.
void SettleCommunities(const SettlementSink& sink);

// Every community from the first two bytes of RangeFrom to the first two
// bytes of RangeTo (the print file must be open).
void ReportCommunities(const SettlementSink& sink = nullptr);

// The community in the FinquesH record area: its settlement, then its
// listing as many times as the copies ask, then the sink.
void ProcessCommunity(const SettlementSink& sink = nullptr);

// The settlement of the community in the FinquesH record area for the
// parameters in Parameters().
CommunitySettlement SettleCommunity();

// Fills the community's tables from PropietH, THRebut, CobramH, FinDespH
// and PagamH for the community in the FinquesH record area.
void GatherCommunityTotals();

// The figures of the unit in the PropietH record area.
UnitSettlement ComputeUnitFigures();

// Unit numbers are the last three digits of four-digit unit codes, so two
// units of one community can share one (0005 and 1005). The first unit met
// with a number owns it: the per-unit tables hold its amounts only. A later
// unit with the same number keeps its collections out of the tables (they
// count in the community's totals, so they show in the remainder line) and
// is listed without private expenses or collections of its own.
// Claim returns false when another unit already owns the number.
bool ClaimUnitNumber(std::string_view unit_code);
bool OwnsUnitNumber(std::string_view unit_code);

// --- Pieces of the computation, exposed for tests. -------------------------

// The unit number of a 4-byte packed unit code: the last three of its
// eight digits (0..999 whatever the bytes hold).
int UnitNumber(std::string_view unit_code);

// True when the date can start a period: four bytes, not the empty date
// (four bytes 128), every byte a packed pair, month 1..12 and day 1..31.
bool IsSettlementDate(std::string_view packed_date);

// Months of fee between the last settlement and the cut-off. A community
// never settled (no start date) is charged nothing, and neither is a
// cut-off before the last settlement.
int32_t MonthsToCharge(std::string_view last_settlement,
                       std::string_view cutoff_date);

// The rates of a fee-tax type: the administrator's VAT rate of that type,
// and the withholding rate when a Spanish administrator without a company
// tax number (third character of "ES..." not A..W) bills a Spanish entity
// (third character A..W). A type other than 0 or 1 has no rates: 0 and 0.
void FeeRates(int16_t fee_tax_type, std::string_view administrator_tax_id,
              std::string_view community_tax_id, float& vat_rate,
              float& withholding_rate);

// units x monthly fee x months, plus round(VAT), minus round(withholding),
// both percentages of the fee before taxes, rounded half to even. Exact in
// 64 bits; saturates (never wraps) beyond that. The parts, and their total.
FeeFigures AdministratorFeeFigures(int64_t units, int64_t monthly_fee,
                                   int64_t months, float vat_rate,
                                   float withholding_rate);
int64_t AdministratorFee(int64_t units, int64_t monthly_fee, int64_t months,
                         float vat_rate, float withholding_rate);

// The column (1..7) that the first "HO" of the heading list names through
// the letter after it; 1 when there is no "HO" or the letter is not A..G.
int FeeColumn(std::string_view headings);

// round(expense / coefficient_total x coefficient) in extended precision,
// half to even; 0 for an unused column (total 0).
int64_t ShareOfColumn(int64_t expense, int32_t coefficient_total,
                      int32_t coefficient);

// The key of a receipt type in THRebut: the byte q for the fixed entries
// q = 1..8, the packed byte of the last two digits of n for a free entry.
std::string FixedReceiptKey(int q);
std::string FreeReceiptKey(int16_t type_number);

// Sum of the amounts of the unit's receipt-type entries (PropietH record
// area) whose type belongs to the previous balance (THRebut class 1).
int64_t PreviousBalanceEntries();

}  // namespace tarnevos

#endif  // TARNEVOS_REPORT_SETTLEMENT_H_
