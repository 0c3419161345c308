#ifndef TARNEVOS_TOOLS_KELDADES_CSV_VALUES_H_
#define TARNEVOS_TOOLS_KELDADES_CSV_VALUES_H_

#include <cstdint>
#include <string>
#include <string_view>

// The values of the data tool's CSV files as spreadsheets write them, and
// as the export writes them. Every reader takes the cell's text (blanks
// around it ignored) and returns false with a short message on anything
// it cannot read whole.
namespace tarnevos::keldades {

// Amounts in euros, to hundredths: "1234.56", "1.234,56", "1,234.56",
// "-0,5", "12" or "1.234" (one separator followed by exactly three digits
// groups thousands). At most two decimals; a "€" before or after is
// allowed. Within +-2^53 hundredths.
bool ParseEuros(std::string_view text, int64_t& hundredths, std::string& error);
// Whole numbers: "333334", "333.334", "-12"; decimals only when all zero
// ("12,00").
bool ParseWhole(std::string_view text, int64_t& value, std::string& error);
// Dates: "DD/MM/YYYY" (also with "-" or ".", and one-digit days and
// months) or "YYYY-MM-DD", to "YYYY-MM-DD". Whether the date exists is the
// dataset's check.
bool ParseDate(std::string_view text, std::string& iso, std::string& error);
// Yes or no: S, Y, SÍ, SI, YES, TRUE, 1, X / N, NO, FALSE, 0 or empty
// (any case).
bool ParseFlag(std::string_view text, bool& value, std::string& error);

// How the export writes amounts and dates.
struct CsvStyle {
  char separator = ',';
  char decimal = '.';
  bool day_first = false;  // DD/MM/YYYY instead of YYYY-MM-DD
  bool byte_order_mark = false;
};
std::string EurosText(int64_t hundredths, const CsvStyle& style);
// "YYYY-MM-DD" in the style ("" stays "").
std::string DateText(const std::string& iso, const CsvStyle& style);

}  // namespace tarnevos::keldades

#endif  // TARNEVOS_TOOLS_KELDADES_CSV_VALUES_H_
