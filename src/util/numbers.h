#ifndef TARNEVOS_UTIL_NUMBERS_H_
#define TARNEVOS_UTIL_NUMBERS_H_

#include <cstdint>
#include <string>
#include <string_view>

// Numbers, edit masks and currencies. Amounts are hundredths of a euro;
// they are shown in the current currency: euros, or pesetas at 166.386.
namespace tarnevos {

// The numeric value of a text: optional blanks and sign, digits, optional
// "." and digits; anything else ends the number; no number reads as 0.
double NumericValue(std::string_view text);

// Rounds to the nearest integer, halves to the even neighbour, in extended
// precision. NaN and infinities come back unchanged.
long double RoundHalfEven(long double value);

// A number as a 16-bit integer: rounded half to even, kept within
// -32768..32767; NaN gives 0. Counters, flags and small numbers read from
// files go through it.
int16_t ToInt16(long double value);

// Formats `value` through an edit mask of 9 Z z * . , - + and literals; the
// result is as long as the mask. A number the mask cannot hold is written
// plainly, cut on the right, or as all "!" when its integer digits do not
// fit; NaN and infinities give all "!"; an empty mask gives "". A value
// that rounds to zero shows no sign. A floating minus (masks without a
// sign position) goes to the leading position nearest the number, never
// into the decimals.
std::string FormatByMask(std::string_view mask, double value);
// Formats an amount in hundredths of a euro in the current currency through
// a mask built from `pattern` ("ZZ,ZZZ,ZZ9", "ZZ,ZZZ,ZZZ").
std::string FormatAmount(std::string_view pattern, double amount);
// The same in the given currency ('E' or 'P') instead of the current one.
std::string FormatAmountIn(std::string_view pattern, double amount,
                           char currency);
// An amount in hundredths of a euro as the number `currency` ('E' euros,
// 'P' pesetas) shows before its mask rounds it: amount / 100, times the
// peseta's fixed rate for pesetas. FormatAmount formats exactly this value.
double AmountInCurrency(double amount, char currency);
// The whole pesetas that a peseta slot shows for an amount in hundredths of
// a euro (the conversion rounded half to even, as the masks round).
int64_t WholePesetas(int64_t amount);
// True when the typed text is not acceptable for the mask.
bool IsInvalidNumberEntry(std::string_view text, std::string_view mask);

// "a,E" sets the primary currency, "p,P" the printer's (secondary) one,
// "p" makes the secondary current, anything else the primary.
void SelectCurrency(std::string_view specification);
// Currency letter ('E' or 'P') for a target: the primary one for "A...",
// else the secondary one (the primary when none is set).
char CurrencyFor(std::string_view target);
// The currency formatting uses now ('E' or 'P').
char CurrentCurrency();

// Start-up state: no currencies selected, number settings not yet read.
void TEST_ResetNumberState();

}  // namespace tarnevos

#endif  // TARNEVOS_UTIL_NUMBERS_H_
