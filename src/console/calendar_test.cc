#include "console/calendar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/keyboard.h"
#include "console/windows.h"
#include "platform/console/memory_console.h"
#include "platform/system/system.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/text.h"

namespace tarnevos {
namespace {

namespace rm = platform;

// Keeps a copy of the screen each time a scripted key is taken.
class WatchingConsole : public rm::MemoryConsole {
 public:
  rm::InputEvent PollEvent() override {
    if (PendingEvents() > 0) screens.push_back(screen());
    return MemoryConsole::PollEvent();
  }
  std::vector<rm::ScreenBuffer> screens;
};

constexpr unsigned char kDayColour = 0x0F;       // "h"
constexpr unsigned char kSelectedColour = 0x1E;  // "u"

// Text of screen row `row` from column `from` to `to` (CP850).
std::string Cells(const rm::ScreenBuffer& screen, int row, int from, int to) {
  std::string text;
  for (int c = from; c <= to; ++c) {
    text.push_back(static_cast<char>(screen.At(row, c).character));
  }
  return text;
}
// The calendar's inner columns 60..79 of a screen row, trailing blanks
// removed.
std::string Inner(const rm::ScreenBuffer& screen, int row) {
  return TrimRightBlanks(Cells(screen, row, 60, 79));
}

class CalendarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    rm::SetConsole(&console_);
    rm::TEST_SetToday(rm::CalendarDay{2026, 6, 1});
    SessionSettings& session = TEST_MutableSession();
    session.tmp_dir = scratch_.path();
    session.root_dir = scratch_.path();
    session.language = "CAT";
    session.screen_colours = {{{15, 0}, {7, 0}, {0, 7}, {1, 7}, {14, 1}}};
  }
  void TearDown() override {
    rm::SetConsole(nullptr);
    testing::ResetRunState();
  }

  void Start(const std::string& date_digits, const std::string& language) {
    console_.Reset();
    console_.screens.clear();
    TEST_MutableSession().work_date =
        date_digits.empty() ? "" : PackDigits(date_digits);
    TEST_MutableSession().language = language;
  }
  void Keys(const std::vector<int>& codes) {
    for (int code : codes) {
      if (code == key::kAltF) {
        console_.PushExtended(code, {.alt = true});
      } else if (code > 255) {
        console_.PushExtended(code);
      } else {
        console_.PushKey(code);
      }
    }
  }
  std::string Run() {
    std::string result = CalendarPicker();
    EXPECT_EQ(console_.ExhaustedWaits(), 0) << "the script ran out";
    EXPECT_EQ(console_.PendingEvents(), 0u) << "keys left unread";
    return result;
  }

  // The month names of the quarter shown and the year in the top border.
  static std::vector<std::string> Months(const rm::ScreenBuffer& screen) {
    return {TrimBlanks(Inner(screen, 3)), TrimBlanks(Inner(screen, 10)),
            TrimBlanks(Inner(screen, 17))};
  }
  static std::string Year(const rm::ScreenBuffer& screen) {
    return Cells(screen, 1, 67, 72);
  }

  testing::ScratchDir scratch_;
  testing::ScopedEnv env_{{"KELROOT", scratch_.path()}};
  WatchingConsole console_;
};

TEST_F(CalendarTest, DrawsTheQuarterOfTheWorkingDate) {
  Start("20060115", "CAT");
  Keys({key::kEsc});
  EXPECT_EQ(Run(), "");
  ASSERT_EQ(console_.screens.size(), 1u);
  const rm::ScreenBuffer& screen = console_.screens[0];
  const std::string line7(7, '\xC4');
  EXPECT_EQ(Cells(screen, 1, 59, 80),
            "\xDA" + line7 + " 2006 " + line7 + "\xBF");
  EXPECT_EQ(Inner(screen, 2), "DL DT DC DJ DV DS DG");
  // January 2006 begins on a Sunday.
  const std::vector<std::string> january = {"       GENER",
                                            "                   1",
                                            " 2  3  4  5  6  7  8",
                                            " 9 10 11 12 13 14 15",
                                            "16 17 18 19 20 21 22",
                                            "23 24 25 26 27 28 29",
                                            "30 31"};
  for (size_t i = 0; i < january.size(); ++i) {
    EXPECT_EQ(Inner(screen, 3 + static_cast<int>(i)), january[i]) << i;
  }
  EXPECT_EQ(Months(screen),
            (std::vector<std::string>{"GENER", "FEBRER", Cp850("MARÇ")}));
  // March 2006 begins on a Wednesday: the 31st is a Friday of week 5.
  EXPECT_EQ(Inner(screen, 18), "       1  2  3  4  5");
  EXPECT_EQ(Inner(screen, 22), "27 28 29 30 31");
  EXPECT_EQ(Cells(screen, 24, 59, 80),
            "\xC0" + std::string(20, '\xC4') + "\xD9");
  // The working date's day is the selected one.
  EXPECT_EQ(screen.At(6, 78).colour, kSelectedColour);
  EXPECT_EQ(screen.At(6, 75).colour, kDayColour);
  // Everything is given back afterwards.
  EXPECT_EQ(console_.screen(), rm::ScreenBuffer(25, 80));
  EXPECT_TRUE(console_.cursor_visible());
  EXPECT_EQ(WindowDepth(), 0);
}

TEST_F(CalendarTest, MovesAcrossMonthsQuartersAndYears) {
  struct Case {
    const char* start;
    const char* language;
    std::vector<int> keys;  // F is added
    std::string chosen;
    std::vector<std::string> months;  // shown when F was pressed
    std::string year;
  } cases[] = {
      {"20060331",
       "CAT",
       {key::kRight},
       "1/4/2006  ",
       {"ABRIL", "MAIG", "JUNY"},
       " 2006 "},
      {"20060101",
       "CAT",
       {key::kLeft},
       "31/12/2005",
       {"OCTUBRE", "NOVEMBRE", "DESEMBRE"},
       " 2005 "},
      {"20060131",
       "CAT",
       {key::kPgDn},
       "30/4/2006 ",
       {"ABRIL", "MAIG", "JUNY"},
       " 2006 "},
      {"20061231",
       "SPA",
       {key::kRight},
       "1/1/2007  ",
       {"ENERO", "FEBRERO", "MARZO"},
       " 2007 "},
      {"20040531",
       "GLG",
       {key::kPgUp},
       "29/2/2004 ",
       {"JANEIRO", "FEVEREIRO", Cp850("MARÇO")},
       " 2004 "},
      {"20060105",
       "CAT",
       {key::kUp},
       "29/12/2005",
       {"OCTUBRE", "NOVEMBRE", "DESEMBRE"},
       " 2005 "},
      {"20061228",
       "OCI",
       {key::kDown},
       "4/1/2007  ",
       {Cp850("GÈR"), Cp850("HEREUÈR"), Cp850("MARÇ")},
       " 2007 "},
      {"20060815",
       "CAT",
       {key::kHome},
       "15/1/2006 ",
       {"GENER", "FEBRER", Cp850("MARÇ")},
       " 2006 "},
      {"20060215",
       "CAT",
       {key::kEnd},
       "15/12/2006",
       {"OCTUBRE", "NOVEMBRE", "DESEMBRE"},
       " 2006 "},
      {"20060228",
       "CAT",
       {key::kRight, key::kLeft, key::kDown, key::kUp},
       "28/2/2006 ",
       {"GENER", "FEBRER", Cp850("MARÇ")},
       " 2006 "},
      // Enter and other keys do nothing.
      {"20060310",
       "CAT",
       {key::kEnter, 'x', key::kF1},
       "10/3/2006 ",
       {"GENER", "FEBRER", Cp850("MARÇ")},
       " 2006 "},
      // No working date: the computer's date.
      {"", "CAT", {}, "1/6/2026  ", {"ABRIL", "MAIG", "JUNY"}, " 2026 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.start) + " " + c.language);
    Start(c.start, c.language);
    Keys(c.keys);
    Keys({'F'});
    EXPECT_EQ(Run(), c.chosen);
    ASSERT_FALSE(console_.screens.empty());
    EXPECT_EQ(Months(console_.screens.back()), c.months);
    EXPECT_EQ(Year(console_.screens.back()), c.year);
  }
}

TEST_F(CalendarTest, ChoosesWithFInEitherCaseOrAltF) {
  for (int choose : {int{'F'}, int{'f'}, int{key::kAltF}}) {
    Start("20061015", "CAT");
    Keys({key::kRight, choose});
    EXPECT_EQ(Run(), "16/10/2006") << choose;
  }
  Start("20061015", "CAT");
  Keys({key::kRight, key::kEsc});
  EXPECT_EQ(Run(), "");
}

TEST_F(CalendarTest, WeekdayInitialsFollowTheLanguage) {
  const std::pair<const char*, const char*> cases[] = {
      {"CAT", "DL DT DC DJ DV DS DG"}, {"OCI", "DL DT DC DJ DD DS DG"},
      {"SPA", " L  M  X  J  V  S  D"}, {"GLG", " L  M  X  J  V  S  D"},
      {"ENG", "DL DT DC DJ DV DS DG"},
  };
  for (const auto& [language, initials] : cases) {
    Start("20060115", language);
    Keys({key::kEsc});
    Run();
    EXPECT_EQ(Cells(console_.screens[0], 2, 60, 79), initials) << language;
  }
}

TEST_F(CalendarTest, KeepsTheSelectedDayOnScreenWhileMoving) {
  // From 31 March 2006 (a Friday): Right redraws April to June with the
  // 1st of April, a Saturday, selected; Left goes back to March.
  Start("20060331", "CAT");
  Keys({key::kRight, key::kLeft, key::kEsc});
  Run();
  ASSERT_EQ(console_.screens.size(), 3u);
  const rm::ScreenBuffer& april = console_.screens[1];
  EXPECT_EQ(Inner(april, 4), "                1  2");
  EXPECT_EQ(april.At(4, 75).colour, kSelectedColour);
  EXPECT_EQ(april.At(4, 78).colour, kDayColour);
  const rm::ScreenBuffer& march = console_.screens[2];
  EXPECT_EQ(TrimBlanks(Inner(march, 17)), Cp850("MARÇ"));
  // 31 March is on the fifth week row of March's block, Friday column.
  EXPECT_EQ(Cells(march, 22, 72, 73), "31");
  EXPECT_EQ(march.At(22, 72).colour, kSelectedColour);
}

TEST_F(CalendarTest, LeavesKeysColourAndCursorAsTheyWere) {
  Start("20060115", "CAT");
  SetAcceptedKeys("ea", "41");
  SetColour("r");
  console_.SetCursorVisible(true);
  console_.Write(1, 1, std::string(80, '*'), 0x2A);
  const rm::ScreenBuffer before = console_.screen();
  Keys({key::kPgDn, key::kEsc});
  EXPECT_EQ(Run(), "");
  EXPECT_EQ(console_.screen(), before);
  KeyCode result = 0;
  EXPECT_TRUE(LookUpAcceptedKey(0x41, result));
  EXPECT_FALSE(LookUpAcceptedKey(key::kPgDn, result));
  EXPECT_EQ(CurrentAttribute(), 2);
  EXPECT_FALSE(console_.screens.empty());
  EXPECT_FALSE(console_.screens[0].At(1, 60) == before.At(1, 60));
}

}  // namespace
}  // namespace tarnevos
