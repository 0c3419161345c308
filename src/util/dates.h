#ifndef TARNEVOS_UTIL_DATES_H_
#define TARNEVOS_UTIL_DATES_H_

#include <cstdint>
#include <string>
#include <string_view>

// Packed digits and calendar dates. A packed date is four bytes (century,
// year, month, day), each 128 + a two-digit value, so that byte order is
// date order; four bytes 128 mean "no date" and an empty string "not set".
// None of these fails: unreadable input gives the documented neutral value.
namespace tarnevos {

// "20061231" -> bytes 148,134,140,159. Odd lengths: the last digit becomes
// the tens of the last byte. "" -> "".
std::string PackDigits(std::string_view digits);
// Each byte's low seven bits as two decimal digits.
std::string UnpackDigits(std::string_view packed);

// Reads a typed date (DDMMYY, DDMMYYYY, or three pieces separated by
// ".", "/" or "-"; blanks inside a piece do not count). Unreadable ->
// packed "00000000": a letter, one or three separators, or a piece too
// large for its place in a packed date (day or month above 99, year above
// 9999), however long the text. One- and two-digit years are placed within
// 50 years of the computer's clock year; longer ones are taken as written.
// Ranges are not checked (31/02 reads as it is).
std::string ParseDateEntry(std::string_view typed);
// True when the typed text is not a valid calendar date (Gregorian leap
// years; the days 5 to 14 October 1582 never existed), read as above.
bool IsInvalidDateEntry(std::string_view typed);
// Packed date -> "DDMMYY" (year near the clock's) or "DDMMYYYY"; "" when
// day and month are 0 (empty or zero date).
std::string DateToEntryText(std::string_view packed_date);

// Adds days ("D"), months ("M") or years ("A"), either case; another unit
// or an amount of 0 gives the date unchanged. Month and year steps keep the
// day within the month. Results past 9999 give 31 December 9999, before
// year 0 1 January 0000.
std::string AddToDate(std::string_view packed_date, int32_t amount,
                      std::string_view unit);
// Days, months or completed years between two dates, in either order;
// never negative, at most INT32_MAX; 0 for another unit.
int32_t DateDifference(std::string_view first, std::string_view second,
                       std::string_view unit);
// 1 Monday ... 7 Sunday.
int DayOfWeek(std::string_view packed_date);
// Display text. Style -1: YYYY-MM-DD; 0 numeric; 1 month abbreviated;
// 2 and above in words, in the session's language. Parts: letters D, M, A.
std::string FormatDate(std::string_view packed_date, int style,
                       std::string_view parts);

// Length of a month by the Gregorian rule (julian = true: every fourth year
// is a leap year).
int MonthLength(int year, int month, bool julian = false);

// Forgets the date settings read from Orvo.ini so the next FormatDate
// reads them again.
void TEST_ResetDateSettings();

}  // namespace tarnevos

#endif  // TARNEVOS_UTIL_DATES_H_
