#ifndef TARNEVOS_REPORT_LAYOUT_H_
#define TARNEVOS_REPORT_LAYOUT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/settlement.h"

// The settlement summary's pages: 66 lines, 135 columns. Every piece of
// output is one PrintText call of the print file; everything printed comes
// from a community's computed settlement (report/settlement.h).
namespace tarnevos {

constexpr int16_t kPageLength = 66;
constexpr int kReportWidth = 135;
// A new page starts before a unit line or the totals block when more lines
// than this are used, and before the community total line when more than
// kLinesBeforeTotalLine are.
constexpr int16_t kLinesBeforeBreak = 60;
constexpr int16_t kLinesBeforeTotalLine = 59;

// One copy of a community's listing as it is printed.
struct ListingCopy {
  int16_t page_number = 0;  // pages started in this copy
};

// Starts a new page of the copy and prints its header: the letterhead (or
// the space for pre-printed paper) and the titles on the first page of a
// copy, the community's name on later pages, then the column headings.
// Raises the copy's page number.
void PrintPageHeader(const CommunitySettlement& settlement, ListingCopy& copy);

// A unit's line; starts a page first when none is started in the copy or
// the page is full.
void PrintUnitLine(const CommunitySettlement& settlement,
                   const UnitSettlement& unit, ListingCopy& copy);

// The remainder line ("AJUST" when every unit was listed, else
// "RESTA COMUNITAT"), a rule, and the community total line in the printer's
// currency and again in the other one.
void PrintCommunityTotals(const CommunitySettlement& settlement,
                          ListingCopy& copy);

// One copy of the listing: a line per listed unit, then the totals block.
// A community without units in the range prints nothing.
void PrintCommunityListing(const CommunitySettlement& settlement);

// A figure that fills its whole 10-character slot as the report prints it,
// so that nothing separates it from the figure before it (from 100,000.00
// euros, -10,000.00 euros, or 10,000,000 pesetas on).
struct OverfullFigure {
  enum class Line { kUnit, kRemainder, kTotal };
  Line line = Line::kUnit;
  const UnitSettlement* unit = nullptr;  // the unit of a unit line
  int figure = 0;                        // 0..11, in LineFigures order
  char currency = 'E';                   // 'E' or 'P': the slot's currency
  int64_t amount = 0;                    // hundredths of a euro
  std::string text;                      // the slot as printed (CP850)
};
// The overfull figures of a settlement's listing: the unit, remainder and
// total lines in the printer's currency, the total line again in the other
// one. Pointers into `settlement`, which must outlive the result.
std::vector<OverfullFigure> OverfullFigures(
    const CommunitySettlement& settlement);

// --- Pieces of the page, exposed for tests. --------------------------------

// "RESUM DE LIQUIDACIÓ" with " DES DEL " + the day after the last
// settlement (when the community has one) and " FINS AL " + the cut-off.
std::string ReportTitle(std::string_view last_settlement,
                        std::string_view cutoff_date);
// A date as the titles write it: day, month name and year in words, folded
// to capitals.
std::string TitleDate(std::string_view packed_date);

}  // namespace tarnevos

#endif  // TARNEVOS_REPORT_LAYOUT_H_
