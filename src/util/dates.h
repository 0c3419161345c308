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
// ".", "/" or "-"). Unreadable -> packed "00000000". Two-digit years are
// placed within 50 years of the computer's clock year.
std::string ParseDateEntry(std::string_view typed);
// True when the typed text is not a valid calendar date.
bool IsInvalidDateEntry(std::string_view typed);
// Packed date -> "DDMMYY" (year near the clock's) or "DDMMYYYY"; "" when
// day and month are 0 (empty or zero date).
std::string DateToEntryText(std::string_view packed_date);

// Adds days ("D"), months ("M") or years ("A"), either case.
std::string AddToDate(std::string_view packed_date, int32_t amount,
                      std::string_view unit);
// Days, months or completed years between two dates; never negative.
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
