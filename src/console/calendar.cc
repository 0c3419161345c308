#include "console/calendar.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "console/keyboard.h"
#include "console/windows.h"
#include "platform/console/console.h"
#include "platform/system/system.h"
#include "settings/session.h"
#include "util/dates.h"
#include "util/text.h"

namespace tarnevos {
namespace {

// The window and its inner width.
constexpr int16_t kTop = 1, kLeft = 59, kBottom = 24, kRight = 80;
constexpr int kInnerWidth = kRight - kLeft - 1;
constexpr int kMonthsShown = 3;
constexpr int kRowsPerMonth = 7;  // the name and up to six weeks
constexpr int kWeeksPerMonth = 6;
constexpr int kFirstYear = 1, kLastYear = 9999;

constexpr char kCalendarKeys[] =
    "4d00,4b00,5000,4800,5100,4900,4700,4f00,2100,1b";

// Weekday initials, Monday first.
constexpr PerLanguage<std::string_view> kWeekdayInitials = {
    "DL DT DC DJ DV DS DG", " L  M  X  J  V  S  D", " L  M  X  J  V  S  D",
    "DL DT DC DJ DD DS DG"};

std::string_view WeekdayInitials() {
  return ForLanguage(kWeekdayInitials, SessionLanguage());
}

struct Day {
  int year = 0;
  int month = 0;
  int day = 0;
};

std::string Packed(const Day& date) {
  char digits[48];
  std::snprintf(digits, sizeof digits, "%04d%02d%02d", date.year, date.month,
                date.day);
  return PackDigits(digits);
}

int Length(int year, int month) { return MonthLength(year, month); }

int QuarterStart(int month) { return (month - 1) / 3 * 3 + 1; }

// The working date, or the computer's when the session has none (or one
// that is no calendar day).
Day StartingDay() {
  const std::string digits = UnpackDigits(Session().work_date);
  Day date;
  if (digits.size() >= 8) {
    date.year = std::stoi(digits.substr(0, 4));
    date.month = std::stoi(digits.substr(4, 2));
    date.day = std::stoi(digits.substr(6, 2));
  }
  if (date.year < kFirstYear || date.month < 1 || date.month > 12 ||
      date.day < 1) {
    const platform::CalendarDay today = platform::LocalToday();
    date = {std::clamp(today.year, kFirstYear, kLastYear),
            std::clamp(today.month, 1, 12), std::max(today.day, 1)};
  }
  date.day = std::min(date.day, Length(date.year, date.month));
  return date;
}

// Moves a date by whole months, the day cut to the new month's length.
// Returns false (date unchanged) when that leaves years 1..9999.
bool AddMonths(Day& date, int months) {
  const int index = date.year * 12 + (date.month - 1) + months;
  const int year = index / 12;
  if (index < 0 || year < kFirstYear || year > kLastYear) return false;
  date.year = year;
  date.month = index % 12 + 1;
  date.day = std::min(date.day, Length(date.year, date.month));
  return true;
}

// Moves a date by up to a month's worth of days, across month and year
// ends. Returns false (date unchanged) when that leaves years 1..9999.
bool AddDays(Day& date, int days) {
  Day moved = date;
  moved.day += days;
  if (moved.day < 1) {
    Day previous = {moved.year, moved.month, 1};
    if (!AddMonths(previous, -1)) return false;
    moved = {previous.year, previous.month,
             moved.day + Length(previous.year, previous.month)};
  } else if (moved.day > Length(moved.year, moved.month)) {
    const int overflow = moved.day - Length(moved.year, moved.month);
    Day next = {moved.year, moved.month, 1};
    if (!AddMonths(next, 1)) return false;
    moved = {next.year, next.month, overflow};
  }
  date = moved;
  return true;
}

class CalendarScreen {
 public:
  CalendarScreen() : selected_(StartingDay()) {}

  std::string Run() {
    DrawQuarter();
    for (;;) {
      SetColour("+u");
      WriteDay(selected_);
      const KeyCode key = WaitKey();
      SetColour("-");
      SetColour("h");
      WriteDay(selected_);
      switch (key) {
        case key::kRight:
          AddDays(selected_, 1);
          break;
        case key::kLeft:
          AddDays(selected_, -1);
          break;
        case key::kDown:
          AddDays(selected_, 7);
          break;
        case key::kUp:
          AddDays(selected_, -7);
          break;
        case key::kPgDn:
          AddMonths(selected_, 3);
          break;
        case key::kPgUp:
          AddMonths(selected_, -3);
          break;
        case key::kHome:
          selected_.month = 1;
          break;
        case key::kEnd:
          selected_.month = 12;
          break;
        case 'F':
        case 'f':
        case key::kAltF:
          return FormatDate(Packed(selected_), 0, "dma");
        case key::kEsc:
          return "";
        default:
          break;
      }
      if (selected_.year != shown_year_ ||
          QuarterStart(selected_.month) != shown_first_month_) {
        DrawQuarter();
      }
    }
  }

 private:
  static void WriteAt(int row, int column, std::string_view text) {
    LocateInWindow(static_cast<int16_t>(row), static_cast<int16_t>(column));
    WriteText(text);
  }

  // Where a day of a shown month sits: the month's block, the week of the
  // day counted from the month's first weekday, the day's weekday column.
  void DayCell(const Day& date, int& row, int& column) const {
    const int block = (date.month - shown_first_month_) * kRowsPerMonth + 2;
    const int first_weekday = DayOfWeek(Packed({date.year, date.month, 1}));
    row = block + 1 + (first_weekday + date.day - 2) / 7;
    column = 3 * DayOfWeek(Packed(date)) - 2;
  }

  void WriteDay(const Day& date) const {
    int row = 0;
    int column = 0;
    DayCell(date, row, column);
    char text[16];
    std::snprintf(text, sizeof text, "%2d", date.day);
    WriteAt(row, column, text);
  }

  void DrawMonth(int month) const {
    const int block = (month - shown_first_month_) * kRowsPerMonth + 2;
    SetColour("n");
    const std::string name =
        FoldText(FormatDate(Packed({shown_year_, month, 1}), 2, "m"));
    std::string line(kInnerWidth, ' ');
    WriteAt(block, 1, line);
    WriteAt(block,
            std::max(0, (kInnerWidth - static_cast<int>(name.size())) / 2) + 1,
            std::string_view(name).substr(0, kInnerWidth));
    for (int week = 1; week <= kWeeksPerMonth; ++week) {
      WriteAt(block + week, 1, line);
    }
    SetColour("h");
    for (int day = 1; day <= Length(shown_year_, month); ++day) {
      WriteDay({shown_year_, month, day});
    }
  }

  void DrawQuarter() {
    shown_year_ = selected_.year;
    shown_first_month_ = QuarterStart(selected_.month);
    SetColour("n");
    char year[24];
    std::snprintf(year, sizeof year, " %4d ", shown_year_);
    WriteAt(0, (kInnerWidth - 6) / 2 + 1, year);
    WriteAt(1, 1, WeekdayInitials());
    for (int k = 0; k < kMonthsShown; ++k) DrawMonth(shown_first_month_ + k);
  }

  Day selected_;
  int shown_year_ = 0;
  int shown_first_month_ = 0;
};

}  // namespace

std::string CalendarPicker() {
  SetAcceptedKeys("+ea", kCalendarKeys);
  SetColour("+n");
  platform::Console& console = platform::CurrentConsole();
  console.SetCursorVisible(false);
  PushWindow(kTop, kLeft, kBottom, kRight);
  DrawWindowFrame(1);

  std::string result = CalendarScreen().Run();

  PopWindow();
  console.SetCursorVisible(true);
  SetColour("-");
  SetAcceptedKeys("-", "");
  return result;
}

}  // namespace tarnevos
