#include "console/calculator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "console/keyboard.h"
#include "console/windows.h"
#include "platform/console/memory_console.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

namespace rm = platform;

// Keeps a copy of the screen each time a scripted key is taken, so the
// last copy shows the calculator as it was when F or Esc was pressed.
class WatchingConsole : public rm::MemoryConsole {
 public:
  rm::InputEvent PollEvent() override {
    if (PendingEvents() > 0) screens.push_back(screen());
    return MemoryConsole::PollEvent();
  }
  std::vector<rm::ScreenBuffer> screens;
};

std::string Cells(const rm::ScreenBuffer& screen, int row, int from, int to) {
  std::string text;
  for (int c = from; c <= to; ++c) {
    text.push_back(static_cast<char>(screen.At(row, c).character));
  }
  return text;
}

// A value as shown, without the blanks between its sign position and its
// digits.
std::string Squeezed(std::string text) {
  std::erase(text, ' ');
  return text;
}
// A tape row as "value|operator" and the entry line's value, for a window
// at left column `left`.
std::string TapeRow(const rm::ScreenBuffer& screen, int row, int left = 1) {
  return Squeezed(Cells(screen, row, left + 1, left + 22)) + "|" +
         Cells(screen, row, left + 24, left + 24);
}
std::string Entry(const rm::ScreenBuffer& screen, int left = 1) {
  return Squeezed(Cells(screen, 24, left + 1, left + 22));
}
// The newest `count` tape rows, oldest first.
std::vector<std::string> NewestTape(const rm::ScreenBuffer& screen,
                                    size_t count, int left = 1) {
  std::vector<std::string> rows;
  for (int row = 23 - static_cast<int>(count); row <= 22; ++row) {
    rows.push_back(TapeRow(screen, row, left));
  }
  return rows;
}
// The column of the bottom-left corner on row 25; 0 when none.
int WindowColumn(const rm::ScreenBuffer& screen) {
  for (int c = 1; c <= 80; ++c) {
    if (screen.At(25, c).character == 0xC0) return c;
  }
  return 0;
}

std::string Canonical(const CalculatorState& state) {
  return WriteCalculatorFile(state);
}

class CalculatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    rm::SetConsole(&console_);
    SessionSettings& session = TEST_MutableSession();
    session.tmp_dir = scratch_.path();
    session.root_dir = scratch_.path();
    session.terminal_dir = scratch_.path();
    session.screen_colours = {{{15, 0}, {7, 0}, {0, 7}, {1, 7}, {14, 1}}};
  }
  void TearDown() override {
    rm::SetConsole(nullptr);
    testing::ResetRunState();
  }

  // A calculator opened afresh: no file left from before.
  void Fresh() {
    std::remove((scratch_.path() + "KELCALC.TMP").c_str());
    console_.Reset();
    console_.screens.clear();
  }
  std::string Run(std::string_view keys) {
    console_.screens.clear();
    console_.PushText(keys);
    return RunScript();
  }
  std::string RunScript() {
    std::string result = Calculator();
    EXPECT_EQ(console_.ExhaustedWaits(), 0) << "the script ran out";
    EXPECT_EQ(console_.PendingEvents(), 0u) << "keys left unread";
    return result;
  }
  const rm::ScreenBuffer& Last() { return console_.screens.back(); }
  std::string File() { return scratch_.Read("KELCALC.TMP"); }

  testing::ScratchDir scratch_;
  testing::ScopedEnv env_{{"KELROOT", scratch_.path()}};
  WatchingConsole console_;
};

TEST_F(CalculatorTest, AddsMultipliesAndTakesPercentages) {
  struct Case {
    const char* keys;  // F is added
    std::vector<std::string> tape;
    const char* entry;
    const char* result;
  } cases[] = {
      {"200+10%=", {"200|+", "10|%", "20|=", "220| "}, "220", "22000"},
      {"200*10%=", {"200|*", "10|%", "0'1|=", "20| "}, "20", "2000"},
      {"1.5+2.25=", {"1'5|+", "2'25|=", "3'75| "}, "3'75", "375"},
      {"10-12.5=", {"10|-", "12'5|=", "-2'5| "}, "-2'5", "-250"},
      {"7/2*3=", {"7|/", "2|*", "3|=", "10'5| "}, "10'5", "1050"},
      {"12.5\r", {"12'5|=", "12'5| "}, "12'5", "1250"},
      {"1/3=",
       {"1|/", "3|=", "0'333333333333333| "},
       "0'333333333333333",
       "33.3333333333333"},
      {"1234567.5+1=",
       {"1.234.567'5|+", "1|=", "1.234.568'5| "},
       "1.234.568'5",
       "123456850"},
      {"0.05", {}, "0'05", "5"},
      {"1.2345", {}, "1'2345", "123.45"},
      {"0", {}, "0", "0"},
      {"5T", {}, "-5", "-500"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    Fresh();
    EXPECT_EQ(Run(std::string(c.keys) + "F"), c.result);
    EXPECT_EQ(NewestTape(Last(), c.tape.size()), c.tape);
    EXPECT_EQ(Entry(Last()), c.entry);
  }
}

TEST_F(CalculatorTest, RoundsToTwoDecimalsHalvesToEven) {
  struct Case {
    const char* keys;
    const char* shown;
    const char* result;
  } cases[] = {
      {"0.125R", "0'12", "12"},   {"0.375R", "0'38", "38"},
      {"2.3451R", "2'35", "235"}, {"1.015R", "1'02", "102"},
      {"0.135R", "0'14", "14"},   {"1.005TR", "-1'00", "-100"},
      {"7R", "7'00", "700"},      {"2.5R", "2'50", "250"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    Fresh();
    EXPECT_EQ(Run(std::string(c.keys) + "F"), c.result);
    EXPECT_EQ(Entry(Last()), c.shown);
    EXPECT_EQ(TapeRow(Last(), 22), std::string(c.shown) + "|R");
  }
  // The rounded value is also the accumulator: an operation goes on from
  // it.
  Fresh();
  EXPECT_EQ(Run("2.346R+1=F"), "335");
}

TEST_F(CalculatorTest, ClearsTheEntryThenEverythingThenTheTape) {
  // C after typing 5 while 100 + is pending cancels the 5 and keeps
  // 100 +.
  Fresh();
  EXPECT_EQ(Run("100+5C7=F"), "10700");

  Fresh();
  EXPECT_EQ(Run("100+5CCC2+3=F"), "500");
  const auto& screens = console_.screens;
  // screens[k]: the screen when key k was pressed.
  EXPECT_EQ(Entry(screens[6]), "100") << "after the first C";
  EXPECT_EQ(TapeRow(screens[6], 22), "100|+");
  EXPECT_EQ(Entry(screens[7]), "0") << "after the second C";
  EXPECT_EQ(TapeRow(screens[7], 22), "100|+") << "the tape stays";
  EXPECT_EQ(Cells(screens[8], 22, 1, 26), std::string(26, ' '))
      << "the third C empties the tape";
  EXPECT_EQ(Cells(screens[8], 23, 1, 1), "\xDA");
  EXPECT_EQ(NewestTape(screens.back(), 3),
            (std::vector<std::string>{"2|+", "3|=", "5| "}));
}

TEST_F(CalculatorTest, BackspaceDropsTheLastDigitTyped) {
  const std::pair<const char*, const char*> cases[] = {
      {"123\b", "1200"},     {"1.25\b", "120"},     {"1.25\b\b", "100"},
      {"1.25\b\b\b", "100"}, {"1.25\b\b\b\b", "0"}, {"123T\b", "-1200"},
      {"12.5T\b", "-1200"},  {"1.25\b7", "127"},    {"3+45\b\b9=", "1200"},
  };
  for (const auto& [keys, result] : cases) {
    Fresh();
    EXPECT_EQ(Run(std::string(keys) + "F"), result) << keys;
  }
}

TEST_F(CalculatorTest, DivisionByZeroAndOverflowMarkTheTapeAndStartAgain) {
  Fresh();
  EXPECT_EQ(Run("5/0=2+3=F"), "500");
  const auto& screens = console_.screens;
  EXPECT_EQ(NewestTape(screens[4], 2),
            (std::vector<std::string>{"5|/", "0|E"}));
  EXPECT_EQ(Entry(screens[4]), "0");

  // Typing stops at fifteen digits; a result beyond the display is an
  // error too.
  Fresh();
  EXPECT_EQ(Run(std::string(20, '9') + "*10=*10=F"), "0");
  EXPECT_EQ(TapeRow(Last(), 18), "999.999.999.999.999|*");
  EXPECT_EQ(TapeRow(Last(), 19), "10|=");
  EXPECT_EQ(TapeRow(Last(), 20), "9.999.999.999.999.990| ");
  EXPECT_EQ(TapeRow(Last(), 21), "9.999.999.999.999.990|*");
  EXPECT_EQ(TapeRow(Last(), 22), "10|E");

  Fresh();
  EXPECT_EQ(Run("99999999999999+999999%F"), "0");
  EXPECT_EQ(TapeRow(Last(), 22), "999.999|E");
}

TEST_F(CalculatorTest, KeepsItsStateForTheNextOpening) {
  Fresh();
  console_.PushText("12+3.4");
  console_.PushExtended(key::kLeft);
  console_.PushKey(key::kEsc);
  EXPECT_EQ(RunScript(), "");
  EXPECT_EQ(WindowColumn(console_.screens.back()), 55);

  console_.Reset();
  console_.screens.clear();
  EXPECT_EQ(Run("\x1b"), "");
  EXPECT_EQ(WindowColumn(Last()), 55);
  EXPECT_EQ(Entry(Last(), 55), "3'4");
  EXPECT_EQ(TapeRow(Last(), 22, 55), "12|+");
  EXPECT_EQ(Cells(Last(), 21, 55, 55), "\xDA");

  // The half-typed entry goes on where it was left.
  EXPECT_EQ(Run("5=F"), "1545");
}

TEST_F(CalculatorTest, WritesItsFileInTheSuiteFormat) {
  Fresh();
  EXPECT_EQ(Run("12.5+\x1b"), "");
  std::string expected = "1,22,12.5,12.5\r\n0,0,-1,1\r\n\"+\",\"+\"\r\n";
  for (int i = 0; i < 21; ++i) expected += "0,0,0,\" \"\r\n";
  expected += "12.5,-1,1,\"+\"\r\n";
  EXPECT_EQ(File(), expected);
}

TEST_F(CalculatorTest, MovesSidewaysAndWrapsAround) {
  Fresh();
  const rm::Modifiers ctrl{.ctrl = true};
  console_.PushExtended(key::kLeft);
  console_.PushExtended(key::kRight);
  console_.PushExtended(key::kRight);
  console_.PushExtended(key::kLeft, ctrl);
  console_.PushExtended(key::kLeft);
  console_.PushExtended(key::kRight, ctrl);
  console_.PushKey(key::kEsc);
  RunScript();
  std::vector<int> columns;
  for (const auto& screen : console_.screens) {
    columns.push_back(WindowColumn(screen));
  }
  EXPECT_EQ(columns, (std::vector<int>{1, 55, 1, 2, 1, 55, 1}));
  // The old place is given back when the window moves.
  EXPECT_EQ(Cells(console_.screens[1], 25, 1, 54), std::string(54, ' '));
  EXPECT_EQ(Cells(console_.screens[1], 25, 80, 80), "\xD9");
  EXPECT_EQ(console_.screen(), rm::ScreenBuffer(25, 80));
}

TEST_F(CalculatorTest, AFullTapeUsesTheTopRowForItsOldestLine) {
  Fresh();
  std::string keys;
  for (int i = 1; i <= 11; ++i) keys += std::to_string(i % 10) + "=";
  keys += "7=";
  keys += "F";
  EXPECT_EQ(Run(keys), "700");
  const auto& screens = console_.screens;
  // After eleven "=" the 22 lines fill rows 1 to 22, without a top border.
  const rm::ScreenBuffer& full = screens[22];
  EXPECT_EQ(TapeRow(full, 1), "1|=");
  EXPECT_EQ(Cells(full, 1, 1, 1), "\xB3");
  EXPECT_EQ(TapeRow(full, 22), "1| ");
  EXPECT_EQ(Cells(full, 23, 1, 1), "\xC3");
  // Two more lines push the two oldest out.
  EXPECT_EQ(TapeRow(Last(), 1), "2|=");
  EXPECT_EQ(TapeRow(Last(), 22), "7| ");
  EXPECT_EQ(File().substr(0, 5), "1,1,7");
}

TEST_F(CalculatorTest, AGarbledFileGivesTheDefaultsForWhatCannotBeRead) {
  struct Case {
    const char* name;
    std::string contents;
    CalculatorState expected;
  };
  CalculatorState defaults;
  CalculatorState partial;
  partial.left_column = 30;
  partial.first_tape_line = 5;
  partial.entry = 1.5;
  partial.accumulator = -2;
  CalculatorState basic;
  basic.left_column = 55;
  basic.first_tape_line = 1;
  basic.entry = 0.05;
  basic.accumulator = -5;
  basic.cleared = false;
  basic.entry_started = true;
  basic.last_key = "=";
  basic.pending = "/";
  basic.tape[0] = {-0.25, true, 2, 'R'};
  basic.tape[1] = {150, false, 0, ' '};
  CalculatorState odd;
  odd.cleared = true;
  odd.entry_started = true;
  odd.decimal_mode = true;
  Case cases[] = {
      {"empty", "", defaults},
      {"only the first line", "30,5,1.5,-2\r\n", partial},
      {"values out of range", "0,24,1e400,nan\n-1,-1,-1,16\n\"x\",\"%\"\n",
       odd},
      {"written by a BASIC program",
       " 55 , 1 ,.05,-.5D+01\n0,-1,0,0\n\"=\",\"/\"\n-.25,-1,2,\"R\"\n"
       "+1.5E2,0,3,\"\"\n",
       basic},
      {"not numbers", "a,b,c,d\n\"1\",\"0\",x,y\n1,2\n", defaults},
      {"fractions where whole numbers go", "3.5,2.5,1,1\n0,0,0,1.5\n",
       [] {
         CalculatorState s;
         s.entry = 1;
         s.accumulator = 1;
         s.cleared = false;
         return s;
       }()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Canonical(ReadCalculatorFile(c.contents)), Canonical(c.expected))
        << c.name;
  }

  // Tape lines: bad values and operators give a blank line; lines after
  // the 22nd are not read; decimals without decimal mode are dropped.
  std::string file = "1,1,0,0\n0,0,0,0\n\"\",\"\"\n";
  file += "1,0,4,\"+\"\n";
  file += "2,-1,99,\"\x07\"\n";
  file += "3,-1,2,\"++\"\n";
  for (int i = 4; i <= 30; ++i) file += std::to_string(i) + ",0,0,\"=\"\n";
  const CalculatorState read = ReadCalculatorFile(file);
  EXPECT_EQ(read.tape[0].decimals, 0);
  EXPECT_EQ(read.tape[1].decimals, 0);
  EXPECT_TRUE(read.tape[1].decimal_mode);
  EXPECT_EQ(read.tape[1].op, ' ');
  EXPECT_EQ(read.tape[2].op, ' ');
  EXPECT_EQ(read.tape[2].decimals, 2);
  EXPECT_EQ(read.tape[21].value, 22);

  // Whatever was written reads back the same.
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    CalculatorState state;
    state.left_column = static_cast<int16_t>(1 + random() % 55);
    state.first_tape_line = static_cast<int16_t>(1 + random() % 23);
    state.entry = (static_cast<double>(random()) - 2e9) / 7e3;
    state.accumulator = static_cast<double>(random()) * 1e6;
    state.cleared = random() % 2;
    state.decimal_mode = random() % 2;
    state.decimals =
        state.decimal_mode ? static_cast<int16_t>(random() % 16) : 0;
    state.pending = std::string(1, "+-*/"[random() % 4]);
    state.tape[random() % 22] = {1.0 / (1 + random() % 1000), true, 15, '%'};
    const std::string written = WriteCalculatorFile(state);
    EXPECT_EQ(WriteCalculatorFile(ReadCalculatorFile(written)), written);
  }
}

TEST_F(CalculatorTest, OpensOverAGarbledFile) {
  for (const std::string& contents :
       {std::string("\xff\x00\"\"\",,,\n\n\n", 11), std::string(70000, ','),
        std::string("12,23,1e308,1e308\n-1,0,-1,15\n")}) {
    Fresh();
    scratch_.Write("KELCALC.TMP", contents);
    EXPECT_EQ(Run("2+2=F"), "400");
    EXPECT_EQ(ReadCalculatorFile(File()).accumulator, 4);
  }
}

TEST(CalculatorResultTextTest, ExpressesTheValueInHundredths) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double value;
    int decimals;
    const char* text;
  } cases[] = {
      {12.5, 1, "1250"},
      {0.05, 2, "5"},
      {1.2345, 4, "123.45"},
      {0, 0, "0"},
      {-2, 0, "-200"},
      {-0.0, 0, "0"},
      {0.0005, 4, "0.05"},
      {1.5, 0, "150"},
      {0.125, 3, "12.5"},
      {2.675, 3, "267.5"},
      {1e300, 0, "999999999999999999"},
      {-1e300, 0, "-999999999999999999"},
      {nan, 2, "0"},
      {inf, 2, "0"},
      {1.0 / 3, 40, "33.3333333333333"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CalculatorResultText(c.value, c.decimals), c.text)
        << c.value << " " << c.decimals;
  }
}

}  // namespace
}  // namespace tarnevos
