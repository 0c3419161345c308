#include "util/dates.h"

#include <gtest/gtest.h>

#include "platform/system/system.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"

namespace tarnevos {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

std::string Date(const char* digits) { return PackDigits(digits); }

class DatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::TEST_SetToday(platform::CalendarDay{2026, 6, 15});
    testing::ResetRunState();
  }
  void TearDown() override { testing::ResetRunState(); }
  // Orvo.ini in a scratch root, reached through KELROOT.
  void UseSettings(const std::string& usuari) {
    root_.Write("Orvo.ini", "[Usuari]\r\n" + usuari);
  }
  ScratchDir root_;
  ScopedEnv env_{{"KELROOT", root_.path()}};
};

TEST_F(DatesTest, PacksAndUnpacksDigits) {
  EXPECT_EQ(Date("20061231"), std::string("\x94\x86\x8C\x9F"));
  EXPECT_EQ(UnpackDigits(Date("20061231")), "20061231");
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},        {"7", "70"},  {"123", "1230"}, {" 12 ", "0012"},
      {"1 2", "1020"}, {"ab", "00"}, {"   ", "0000"}, {"0", "00"},
  };
  for (const auto& [digits, unpacked] : cases) {
    EXPECT_EQ(UnpackDigits(PackDigits(digits)), unpacked)
        << '"' << digits << '"';
  }
  // Only the low seven bits count, and of values above 99 the last two
  // digits.
  EXPECT_EQ(UnpackDigits(std::string("\x05\xFF", 2)), "0527");
  // Byte order is date order.
  EXPECT_LT(Date("20061231"), Date("20070101"));
  EXPECT_LT(Date("19991231"), Date("20000101"));
}

TEST_F(DatesTest, ReadsTypedDates) {
  const std::pair<const char*, const char*> cases[] = {
      {"5/1/76", "19760105"},
      {"5/1/75", "20750105"},
      {"050106", "20060105"},
      {"05-01-1906", "19060105"},
      {"31/02/2006", "20060231"},
      {"31.12.06", "20061231"},
      {" 5 / 1 / 2006 ", "20060105"},
      {"05012006", "20060105"},
      {"5/1/", "20000105"},
      {"1/1/0006", "00060101"},
      // Unreadable: one or three separators, letters, parts too large.
      {"12.05", "00000000"},
      {"1/2/3/4", "00000000"},
      {"5/1/2oo6", "00000000"},
      {"5/1/12345", "00000000"},
      {"123/1/2006", "00000000"},
      {"1/100/2006", "00000000"},
      {"99999999999999999999/1/1", "00000000"},
      {"1/1/99999999999999999999999999", "00000000"},
      {"", "00000000"},
  };
  for (const auto& [typed, digits] : cases) {
    EXPECT_EQ(UnpackDigits(ParseDateEntry(typed)), digits) << typed;
  }
}

TEST_F(DatesTest, ChecksTypedDates) {
  const char* valid[] = {"29/02/2000", "31/12/06", "1/1/1",   "15/10/1582",
                         "4/10/1582",  "050106",   "29/2/76", "28/02/1900"};
  for (const char* typed : valid)
    EXPECT_FALSE(IsInvalidDateEntry(typed)) << typed;
  const char* invalid[] = {
      "29/02/1900", "31/02/2006", "10/10/1582", "5/10/1582",
      "14/10/1582", "0/1/2006",   "1/0/2006",   "1/13/2006",
      "32/1/2006",  "31/4/2006",  "",           "12.05",
      "1/2/3/4",    "a",          "5/1/12345",  "1/1/99999999999999999999",
      "x5/1/2006"};
  for (const char* typed : invalid)
    EXPECT_TRUE(IsInvalidDateEntry(typed)) << typed;
}

TEST_F(DatesTest, TwoDigitYearsFollowTheClock) {
  platform::TEST_SetToday(platform::CalendarDay{1990, 1, 1});
  EXPECT_EQ(UnpackDigits(ParseDateEntry("1/1/39")), "20390101");
  EXPECT_EQ(UnpackDigits(ParseDateEntry("1/1/40")), "19400101");
  EXPECT_EQ(UnpackDigits(ParseDateEntry("1/1/00")), "20000101");
  EXPECT_EQ(DateToEntryText(Date("20390101")), "010139");
  EXPECT_EQ(DateToEntryText(Date("20400101")), "01012040");
}

TEST_F(DatesTest, TurnsDatesBackIntoEntryText) {
  const std::pair<const char*, const char*> cases[] = {
      {"20060105", "050106"},   {"19760105", "050176"},
      {"19750105", "05011975"}, {"20760105", "05012076"},
      {"00000000", ""},         {"20060000", ""},
      {"00000001", "01000000"},
  };
  for (const auto& [digits, text] : cases) {
    EXPECT_EQ(DateToEntryText(Date(digits)), text) << digits;
  }
  EXPECT_EQ(DateToEntryText(""), "");
  for (const char* typed : {"050106", "29/2/2000", "31/12/1900"}) {
    EXPECT_EQ(ParseDateEntry(DateToEntryText(ParseDateEntry(typed))),
              ParseDateEntry(typed))
        << typed;
  }
}

TEST_F(DatesTest, AddsDaysMonthsAndYears) {
  struct Case {
    const char* date;
    int32_t amount;
    const char* unit;
    const char* expected;
  };
  const Case cases[] = {
      {"20040131", 1, "M", "20040229"},
      {"20060331", -1, "M", "20060228"},
      {"20040229", 1, "A", "20050228"},
      {"20061225", 10, "D", "20070104"},
      {"20070103", -5, "D", "20061229"},
      {"99991231", 1, "D", "99991231"},
      {"20061225", 0, "D", "20061225"},
      {"20061225", 5, "X", "20061225"},
      {"20061225", 1, "d", "20061226"},
      {"20061115", 14, "m", "20080115"},
      {"20060115", -13, "M", "20041215"},
      {"20060115", -1, "A", "20050115"},
      {"20000101", 366, "D", "20010101"},
      {"19000301", -1, "D", "19000228"},
      // Before the reform February follows the Julian rule.
      {"15000301", -1, "D", "15000229"},
      {"20000101", 146097 * 3 + 1, "D", "32000102"},
      {"20000101", 2147483647, "D", "99991231"},
      {"20000101", -2147483647 - 1, "D", "00000101"},
      {"20000101", -2147483647 - 1, "M", "00000101"},
      {"20000101", 2147483647, "A", "99991231"},
      {"00010101", -800, "D", "00000101"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnpackDigits(AddToDate(Date(c.date), c.amount, c.unit)),
              c.expected)
        << c.date << " + " << c.amount << c.unit;
  }
}

TEST_F(DatesTest, AddingDaysAgreesWithCountingThem) {
  const std::string start = Date("19991220");
  for (int32_t days : {1, 11, 12, 71, 366, 1000, 3653, 146097, 300000}) {
    std::string later = AddToDate(start, days, "D");
    EXPECT_EQ(DateDifference(start, later, "D"), days) << days;
    EXPECT_EQ(AddToDate(later, -days, "D"), start) << days;
  }
}

TEST_F(DatesTest, CountsDaysMonthsAndYears) {
  struct Case {
    const char* a;
    const char* b;
    const char* unit;
    int32_t expected;
  };
  const Case cases[] = {
      {"20060131", "20060201", "M", 1},
      {"20000615", "20060614", "A", 5},
      {"20000615", "20060615", "A", 6},
      {"20040301", "20040228", "D", 2},
      {"20040228", "20040301", "D", 2},
      {"20060101", "20060101", "D", 0},
      {"20051231", "20060101", "D", 1},
      {"19000101", "20000101", "D", 36524},
      {"20000101", "21000101", "D", 36525},
      {"15000101", "15010101", "D", 366},
      {"15000101", "15000301", "D", 60},
      {"20060101", "20071231", "X", 0},
      {"20061231", "20050101", "m", 23},
      {"20060601", "20070531", "a", 0},
      {"00000000", "20060101", "D", 732721},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DateDifference(Date(c.a), Date(c.b), c.unit), c.expected)
        << c.a << " " << c.b << " " << c.unit;
    EXPECT_EQ(DateDifference(Date(c.b), Date(c.a), c.unit), c.expected);
  }
}

TEST_F(DatesTest, TextsLongerThanADateCountQuicklyAndSaturate) {
  // Thirty bytes of 99: a "year" far beyond any calendar.
  const std::string huge(30, static_cast<char>(128 + 99));
  const std::string date = Date("20060101");
  EXPECT_EQ(DateDifference(huge, date, "D"), INT32_MAX);
  EXPECT_EQ(DateDifference(date, huge, "M"), INT32_MAX);
  EXPECT_EQ(DateDifference(huge, date, "A"), INT32_MAX);
  EXPECT_EQ(UnpackDigits(AddToDate(huge, -5, "D")), "99991231");
  int weekday = DayOfWeek(huge);
  EXPECT_TRUE(weekday >= 1 && weekday <= 7);
}

TEST_F(DatesTest, FindsTheDayOfTheWeek) {
  const std::pair<const char*, int> cases[] = {
      {"20060101", 7}, {"20060102", 1}, {"15821004", 4}, {"15821015", 5},
      {"20000229", 2}, {"19700101", 4}, {"20261130", 1}, {"00000101", 4},
  };
  for (const auto& [date, weekday] : cases) {
    EXPECT_EQ(DayOfWeek(Date(date)), weekday) << date;
  }
  // Consecutive days step through the week, across month and year ends.
  std::string day = Date("19991225");
  int weekday = DayOfWeek(day);
  for (int i = 0; i < 400; ++i) {
    day = AddToDate(day, 1, "D");
    weekday = weekday % 7 + 1;
    ASSERT_EQ(DayOfWeek(day), weekday) << UnpackDigits(day);
  }
}

TEST_F(DatesTest, FormatsWithTheDefaultSettings) {
  UseSettings("");
  const std::string date = Date("20060105");
  struct Case {
    const char* language;
    int style;
    const char* parts;
    const char* expected;
  };
  const Case cases[] = {
      {"CAT", 0, "dma", "5/1/2006  "},
      {"CAT", 1, "DMA", "5/gen/2006 "},
      {"CAT", 2, "DMA", "5 de gener del 2006"},
      {"SPA", 2, "DMA", "5 de enero de 2006"},
      {"GLG", 2, "DMA", "5 de janeiro do 2006"},
      {"OCI", 2, "DMA", "5 de g\xc3\xa8r deth 2006"},
      {"   ", 3, "MA", "gener del 2006"},
      {"CAT", -1, "", "2006-01-05"},
      {"CAT", 0, "D", "5 "},
      {"CAT", 0, "", ""},
      {"SPA", 1, "M", "ene"},
  };
  for (const Case& c : cases) {
    TEST_MutableSession().language = c.language;
    EXPECT_EQ(Utf8FromCp850(FormatDate(date, c.style, c.parts)), c.expected)
        << c.language << " style " << c.style << " " << c.parts;
  }
}

TEST_F(DatesTest, ChoosesConnectorsByTheMonthsInitial) {
  UseSettings("");
  const std::pair<const char*, const char*> cases[] = {
      {"CAT", "5 d'abril del 2006"},
      {"OCI", "5 d'abriu deth 2006"},
      {"SPA", "5 de abril de 2006"},
      {"GLG", "5 de abril do 2006"},
  };
  for (const auto& [language, expected] : cases) {
    TEST_MutableSession().language = language;
    EXPECT_EQ(FormatDate(Date("20060405"), 2, "DMA"), expected) << language;
  }
  TEST_MutableSession().language = "CAT";
  EXPECT_EQ(Utf8FromCp850(FormatDate(Date("20061005"), 2, "DMA")),
            "5 d'octubre del 2006");
  EXPECT_EQ(Utf8FromCp850(FormatDate(Date("20060305"), 2, "DMA")),
            "5 de març del 2006");
}

TEST_F(DatesTest, FormatsEmptyAndOddDates) {
  UseSettings("");
  EXPECT_EQ(FormatDate(Date("00000000"), 0, "DMA"), std::string(10, ' '));
  EXPECT_EQ(FormatDate(Date("00000000"), 2, "DMA"), "");
  EXPECT_EQ(FormatDate("", 1, "DMA"), std::string(11, ' '));
  EXPECT_EQ(FormatDate("", -1, "DMA"), "0000-00-00");
  // A month no calendar has is shown as its number, never read past a table.
  EXPECT_EQ(FormatDate(Date("20061305"), 2, "DMA"), "5 de 13 del 2006");
  EXPECT_EQ(FormatDate("\xFF", 2, "DMA"), "");
}

TEST_F(DatesTest, FollowsTheConfiguredSeparatorAndOrderReadOnce) {
  UseSettings("DatCaracter=-\r\nDatOrdre=AMD\r\n");
  const std::string date = Date("20061231");
  EXPECT_EQ(FormatDate(date, 0, "DMA"), "2006-12-31");
  EXPECT_EQ(FormatDate(date, 2, "DMA"), "2006 de desembre del 31");
  // Read once a run: a later change of the file is not seen.
  UseSettings("DatCaracter=.\r\nDatOrdre=DMA\r\n");
  EXPECT_EQ(FormatDate(date, 0, "DMA"), "2006-12-31");
  TEST_ResetDateSettings();
  EXPECT_EQ(FormatDate(date, 0, "DMA"), "31.12.2006");
}

TEST_F(DatesTest, OrderLettersCountOnlyInCapitals) {
  UseSettings("DatOrdre=dma\r\n");
  const std::string date = Date("20061231");
  EXPECT_EQ(FormatDate(date, 0, "DMA"), std::string(10, ' '));
  EXPECT_EQ(FormatDate(date, 1, "DMA"), std::string(11, ' '));
  EXPECT_EQ(FormatDate(date, 2, "DMA"), "");
}

TEST_F(DatesTest, BlankSettingsFallBackToTheDefaults) {
  UseSettings("DatCaracter=\r\nDatOrdre=   \r\n");
  EXPECT_EQ(FormatDate(Date("20061231"), 0, "DMA"), "31/12/2006");
}

TEST_F(DatesTest, MonthLengths) {
  EXPECT_EQ(MonthLength(2006, 1), 31);
  EXPECT_EQ(MonthLength(2006, 4), 30);
  EXPECT_EQ(MonthLength(2006, 2), 28);
  EXPECT_EQ(MonthLength(2004, 2), 29);
  EXPECT_EQ(MonthLength(1900, 2), 28);
  EXPECT_EQ(MonthLength(1900, 2, true), 29);
  EXPECT_EQ(MonthLength(2000, 2), 29);
  int total = 0;
  for (int m = 1; m <= 12; ++m) total += MonthLength(2006, m);
  EXPECT_EQ(total, 365);
  EXPECT_EQ(MonthLength(2006, 0), 31);
  EXPECT_EQ(MonthLength(2006, 13), 31);
}

}  // namespace
}  // namespace tarnevos
