#include "report/layout.h"

#include <array>

#include "print/print_file.h"
#include "report/settlement.h"
#include "settings/run_values.h"
#include "settings/translate.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

constexpr char kColumnLetters[] = "ABCDEFG";
constexpr char kLineMask[] = "ZZ,ZZZ,ZZ9";       // a zero prints as 0
constexpr char kRemainderMask[] = "ZZ,ZZZ,ZZZ";  // a zero prints as blanks
constexpr int16_t kPageColumn = 85;
constexpr int16_t kRightLegendColumn = 48;
constexpr int16_t kTitleWidth = 96;
constexpr int16_t kFiguresColumn = 16;
constexpr int kRemainderRuleWidth = 120;
constexpr int16_t kFreeTopLines = 9;  // pre-printed paper's letterhead

// A heading text and the column it starts at.
struct Heading {
  int16_t column;
  const char* text;  // UTF-8, translated before printing
};

constexpr std::array<Heading, 4> kUpperHeadings{{
    {16, "    RÒSSEC"},
    {106, "     TOTAL"},
    {117, "     TOTAL"},
    {127, "    RÒSSEC"},
}};
constexpr std::array<Heading, 3> kLowerLeftHeadings{{
    {1, "COD"},
    {5, "DEPART."},
    {16, "  ANTERIOR"},
}};
constexpr std::array<Heading, 4> kLowerRightHeadings{{
    {96, "   D.PART."},
    {106, "  DESPESES"},
    {116, "      FONS"},
    {126, "    ACTUAL"},
}};

std::string T(const char* utf8) { return Translate(Cp850(utf8)); }

std::string CommunityName(const CommunitySettlement& settlement) {
  return ReorderName(settlement.name);
}

bool LetterheadOff() { return Run().letterhead_mode == "N"; }

void PrintLetterhead(const std::string& page_text) {
  const auto& lines = Run().administrator_lines;
  PrintText(1, lines[1], 0);
  PrintText(kPageColumn, page_text, 1);
  if (!IsAllChar(lines[6], ' ')) PrintText(1, lines[6], 1);
  for (int i = 2; i <= 5; ++i) PrintText(1, lines[i], 1);
  PrintText(1, "N.I.F. " + lines[7], 2);
}

void PrintCentred(const std::string& text, int16_t line_feeds) {
  PrintText(static_cast<int16_t>(CentreOffset(text, kTitleWidth)), text,
            line_feeds);
}

// The legend of the distribution columns in use, two to a line.
void PrintColumnLegend(const CommunitySettlement& settlement) {
  bool right = false;
  for (int k = 1; k <= 7; ++k) {
    if (IsAllChar(settlement.column_title[k], ' ')) continue;
    const std::string text = T("COLUMNA < ") + kColumnLetters[k - 1] +
                             " > : " + settlement.column_title[k];
    if (right) {
      PrintText(kRightLegendColumn, text, 1);
    } else {
      PrintText(1, text, 0);
    }
    right = !right;
  }
  PrintText(0, "", right ? 2 : 1);
}

void PrintFirstPageHeader(const CommunitySettlement& settlement,
                          const std::string& page_text) {
  if (LetterheadOff()) {
    PrintText(kPageColumn, page_text, kFreeTopLines);
  } else {
    PrintLetterhead(page_text);
  }
  PrintCentred(ReportTitle(settlement.last_settlement, settlement.cutoff_date),
               1);

  const std::string subtitle =
      T("CORRESPONENT A LA COMUNITAT DE PROPIETARIS (") +
      FormatPackedCode(settlement.code) + ") " + CommunityName(settlement);
  const int16_t column =
      static_cast<int16_t>(CentreOffset(subtitle, kTitleWidth));
  PrintText(column, subtitle, 1);
  PrintText(column, std::string(subtitle.size(), '='), 2);
  PrintColumnLegend(settlement);
}

void PrintLaterPageHeader(const CommunitySettlement& settlement,
                          const std::string& page_text) {
  if (LetterheadOff()) {
    PrintText(kPageColumn, page_text, kFreeTopLines);
    PrintText(1, CommunityName(settlement), 2);
  } else {
    PrintText(1, CommunityName(settlement), 0);
    PrintText(kPageColumn, page_text, 2);
  }
}

void PrintColumnHeadings() {
  PrintControl("q");
  for (size_t i = 0; i < kUpperHeadings.size(); ++i) {
    PrintText(kUpperHeadings[i].column, T(kUpperHeadings[i].text),
              i + 1 == kUpperHeadings.size() ? 1 : 0);
  }
  for (const Heading& heading : kLowerLeftHeadings) {
    PrintText(heading.column, T(heading.text), 0);
  }
  for (int k = 1; k <= 7; ++k) {
    PrintText(static_cast<int16_t>(10 * k + 21),
              std::string("< ") + kColumnLetters[k - 1] + " >", 0);
  }
  for (size_t i = 0; i < kLowerRightHeadings.size(); ++i) {
    PrintText(kLowerRightHeadings[i].column, T(kLowerRightHeadings[i].text),
              i + 1 == kLowerRightHeadings.size() ? 1 : 0);
  }
  PrintText(1, std::string(kReportWidth, '-'), 1);
}

// Twelve figures in 10-character slots from column 16 on, the last ending
// the line.
void PrintFigures(const LineFigures& figures, const char* mask) {
  std::string justify = "D";
  PrintJustify(justify);
  PrintText(kFiguresColumn, "", 0);
  for (size_t i = 0; i < figures.size(); ++i) {
    PrintText(PrintColumn(),
              FormatAmount(mask, static_cast<double>(figures[i])),
              i + 1 == figures.size() ? 1 : 0);
  }
}

// Makes the printer's other currency (pesetas <-> euros) the current one.
void SwitchPrinterCurrency() {
  SelectCurrency(CurrencyFor("p") == 'E' ? "p,p" : "p,e");
  SelectCurrency("p");
  PrintControl("i");
}

}  // namespace

std::string TitleDate(std::string_view packed_date) {
  return FoldText(FormatDate(packed_date, 2, "dma"));
}

std::string ReportTitle(std::string_view last_settlement,
                        std::string_view cutoff_date) {
  std::string title = T("RESUM DE LIQUIDACIÓ");
  if (IsSettlementDate(last_settlement)) {
    title += T(" DES DEL ") + TitleDate(AddToDate(last_settlement, 1, "d"));
  }
  title += T(" FINS AL ") + TitleDate(cutoff_date);
  return title;
}

void PrintPageHeader(const CommunitySettlement& settlement, ListingCopy& copy) {
  ++copy.page_number;
  PrintPage(kPageLength);
  PrintControl("@e");
  const std::string page_text =
      T("PÀGINA ") + FormatByMask("ZZZ9", copy.page_number);
  if (copy.page_number == 1) {
    PrintFirstPageHeader(settlement, page_text);
  } else {
    PrintLaterPageHeader(settlement, page_text);
  }
  PrintColumnHeadings();
}

void PrintUnitLine(const CommunitySettlement& settlement,
                   const UnitSettlement& unit, ListingCopy& copy) {
  if (copy.page_number == 0 || PrintLine() > kLinesBeforeBreak)
    PrintPageHeader(settlement, copy);
  PrintText(1,
            ZeroPad(unit.number, 3) + " " + FitText(unit.designation, 10) + " ",
            0);
  const LineFigures figures = unit.Figures();
  for (size_t i = 0; i < figures.size(); ++i) {
    PrintText(0, FormatAmount(kLineMask, static_cast<double>(figures[i])),
              i + 1 == figures.size() ? 1 : 0);
  }
}

void PrintCommunityTotals(const CommunitySettlement& settlement,
                          ListingCopy& copy) {
  if (PrintLine() > kLinesBeforeBreak) PrintPageHeader(settlement, copy);

  PrintText(1, T(settlement.AllListed() ? "AJUST" : "RESTA COMUNITAT"), 0);
  PrintFigures(settlement.remainder, kRemainderMask);
  PrintText(kFiguresColumn, std::string(kRemainderRuleWidth, '-'), 1);

  if (PrintLine() > kLinesBeforeTotalLine) PrintPageHeader(settlement, copy);
  PrintText(1, T("TOTAL COMUNITAT"), 0);
  PrintFigures(settlement.totals, kLineMask);

  SwitchPrinterCurrency();
  PrintText(1, CurrencyFor("") == 'E' ? "EUR" : "ESP", 0);
  PrintFigures(settlement.totals, kLineMask);
  SwitchPrinterCurrency();

  PrintText(1, std::string(kReportWidth, '='), 1);
}

std::vector<OverfullFigure> OverfullFigures(
    const CommunitySettlement& settlement) {
  std::vector<OverfullFigure> found;
  const char printer = CurrencyFor("p");
  const char other = printer == 'E' ? 'P' : 'E';
  auto scan = [&found](OverfullFigure::Line line, const UnitSettlement* unit,
                       const LineFigures& figures, const char* mask,
                       char currency) {
    for (size_t i = 0; i < figures.size(); ++i) {
      std::string text =
          FormatAmountIn(mask, static_cast<double>(figures[i]), currency);
      if (text.empty() || text[0] == ' ') continue;
      found.push_back({line, unit, static_cast<int>(i), currency, figures[i],
                       std::move(text)});
    }
  };
  for (const UnitSettlement& unit : settlement.units) {
    scan(OverfullFigure::Line::kUnit, &unit, unit.Figures(), kLineMask,
         printer);
  }
  scan(OverfullFigure::Line::kRemainder, nullptr, settlement.remainder,
       kRemainderMask, printer);
  scan(OverfullFigure::Line::kTotal, nullptr, settlement.totals, kLineMask,
       printer);
  scan(OverfullFigure::Line::kTotal, nullptr, settlement.totals, kLineMask,
       other);
  return found;
}

void PrintCommunityListing(const CommunitySettlement& settlement) {
  if (settlement.units.empty()) return;
  ListingCopy copy;
  for (const UnitSettlement& unit : settlement.units) {
    PrintUnitLine(settlement, unit, copy);
  }
  PrintCommunityTotals(settlement, copy);
}

}  // namespace tarnevos
