#include "console/keyboard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/windows.h"
#include "platform/console/memory_console.h"
#include "settings/session.h"
#include "support/run_state.h"

namespace tarnevos {
namespace {

using platform::BuiltInMemoryConsole;
using platform::InputEvent;
using platform::MemoryConsole;
using platform::Modifiers;

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    SessionSettings& session = TEST_MutableSession();
    session = SessionSettings{};
    // Roles 0..4: distinct pairs, so each attribute shows in the colour.
    session.screen_colours = {{{15, 0}, {7, 0}, {0, 7}, {1, 3}, {14, 1}}};
  }
  void TearDown() override { testing::ResetRunState(); }

  MemoryConsole& con() { return BuiltInMemoryConsole(); }

  struct Read {
    KeyCode key = 0;
    int16_t button = 0, row = 0, column = 0;
  };
  Read Next() {
    Read r;
    ReadKey(r.key, r.button, r.row, r.column);
    return r;
  }
};

KeyCode Lookup(KeyCode key) {
  KeyCode result = 0;
  return LookUpAcceptedKey(key, result) ? result : KeyCode{-1};
}

TEST_F(KeyboardTest, AcceptedKeysAddMapDeleteAndNestTheirSaves) {
  EXPECT_TRUE(AcceptedKeysEmpty());
  SetAcceptedKeys("A", "1b,4800=5000");
  EXPECT_FALSE(AcceptedKeysEmpty());
  EXPECT_EQ(Lookup(27), 27);
  EXPECT_EQ(Lookup(key::kUp), key::kDown);
  EXPECT_EQ(Lookup(key::kDown), -1);

  // A second entry for Up; delete removes only the first one.
  SetAcceptedKeys("a", "4800,8500=3B00");
  EXPECT_EQ(Lookup(key::kUp), key::kDown);
  EXPECT_EQ(Lookup(key::kF11), key::kF1);
  SetAcceptedKeys("D", "4800");
  EXPECT_EQ(Lookup(key::kUp), key::kUp);
  SetAcceptedKeys("D", "4800,4800");
  EXPECT_EQ(Lookup(key::kUp), -1);
  EXPECT_EQ(Lookup(27), 27);

  // Items that are not hexadecimal codes are skipped.
  SetAcceptedKeys("A", " d , zz,=5,7=,,4f00=");
  EXPECT_EQ(Lookup(13), 13);
  EXPECT_EQ(Lookup(key::kEnd), -1);

  // Nested screens each get their own table back.
  SetAcceptedKeys("+E", "");
  EXPECT_TRUE(AcceptedKeysEmpty());
  SetAcceptedKeys("A", "3b00");
  SetAcceptedKeys("+eA", "5100");
  EXPECT_EQ(Lookup(key::kF1), -1);
  EXPECT_EQ(Lookup(key::kPgDn), key::kPgDn);
  SetAcceptedKeys("-", "");
  EXPECT_EQ(Lookup(key::kF1), key::kF1);
  EXPECT_EQ(Lookup(key::kPgDn), -1);
  SetAcceptedKeys("-", "");
  EXPECT_EQ(Lookup(27), 27);
  EXPECT_EQ(Lookup(key::kF1), -1);
  SetAcceptedKeys("-", "");  // nothing saved: unchanged
  EXPECT_EQ(Lookup(27), 27);

  EXPECT_FALSE(EchoMasked());
  SetAcceptedKeys("h?", "");
  EXPECT_TRUE(EchoMasked());
  SetAcceptedKeys("V", "");
  EXPECT_FALSE(EchoMasked());
}

TEST_F(KeyboardTest, ColourLettersSelectRolesAndStackThem) {
  struct Step {
    const char* letters;
    int attribute;
    unsigned char colour;
  };
  const Step steps[] = {
      {"n", 1, 0x07},   {"h", 0, 0x0F}, {"R", 2, 0x70},   {"rh", 2, 0x70},
      {"Rn", 3, 0x31},  {"u", 4, 0x1E}, {"+n", 1, 0x07},  {"+U", 4, 0x1E},
      {"+ea", 0, 0x0F}, {"", 0, 0x0F},  {"   ", 0, 0x0F}, {"-", 4, 0x1E},
      {"-", 1, 0x07},   {"-", 4, 0x1E}, {"-", 0, 0x0F},   {"-", 0, 0x0F},
  };
  for (const Step& step : steps) {
    SetColour(step.letters);
    EXPECT_EQ(CurrentAttribute(), step.attribute) << '"' << step.letters << '"';
    EXPECT_EQ(CurrentColourByte(), step.colour) << '"' << step.letters << '"';
  }
  // A colour outside 0..15 leaves that part of the console colour as it is.
  TEST_MutableSession().screen_colours[3] = {{99, 2}};
  SetColour("h");
  SetColour("rn");
  EXPECT_EQ(CurrentColourByte(), 0x2F);
}

TEST_F(KeyboardTest, ModifiedFunctionAndCursorKeysAreDerived) {
  Modifiers alt{.alt = true}, ctrl{.ctrl = true}, shift{.shift = true};
  Modifiers ctrl_alt{.ctrl = true, .alt = true};
  struct Case {
    int delivered;
    Modifiers modifiers;
    int expected;
  };
  const Case cases[] = {
      {0x3B00, alt, 0x6800},   {0x3E00, alt, 0x6B00},
      {0x4400, alt, 0x7100},   {0x8500, alt, 0x8B00},
      {0x8600, alt, 0x8C00},   {0x3B00, ctrl, 0x5E00},
      {0x3E00, ctrl, 0x6100},  {0x4400, ctrl, 0x6700},
      {0x8500, ctrl, 0x8900},  {0x8600, ctrl, 0x8A00},
      {0x4700, ctrl, 0x7700},  {0x4D00, ctrl, 0x7400},
      {0x4B00, ctrl, 0x7300},  {0x3B00, shift, 0x5400},
      {0x4400, shift, 0x5D00}, {0x8500, shift, 0x8700},
      {0x8600, shift, 0x8800}, {0x3C00, ctrl_alt, 0x6900},
      {0x4800, ctrl, 0x4800},  {0x4700, alt, 0x4700},
      {0x4F00, shift, 0x4F00}, {0x8500, {}, 0x8500},
      {0x0F00, shift, 0x0F00}, {0x1200, alt, 213},
  };
  for (const Case& c : cases) con().PushExtended(c.delivered, c.modifiers);
  // Ordinary characters are never adjusted.
  InputEvent ctrl_a;
  ctrl_a.kind = InputEvent::Kind::kKey;
  ctrl_a.key = 'a';
  ctrl_a.modifiers = ctrl;
  con().PushEvent(ctrl_a);
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<uint16_t>(Next().key), c.expected)
        << std::hex << c.delivered;
  }
  EXPECT_EQ(Next().key, 'a');
  EXPECT_EQ(Next().key, 0);  // nothing pending
}

TEST_F(KeyboardTest, AltKeypadDigitsComposeACharacter) {
  const Modifiers left_alt{.alt = true, .left_alt = true};
  // 1, 3, 0 then another key: 130, and that key is not lost.
  con().PushExtended(key::kEnd, left_alt);
  con().PushExtended(key::kPgDn, left_alt);
  con().PushExtended(key::kIns, left_alt);
  con().PushKey('x');
  EXPECT_EQ(Next().key, 130);
  EXPECT_EQ(Next().key, 'x');
  // 3, 0, 0 and no further key: 300 modulo 256.
  con().PushExtended(key::kPgDn, left_alt);
  con().PushExtended(key::kIns, left_alt);
  con().PushExtended(key::kIns, left_alt);
  EXPECT_EQ(Next().key, 44);
  // Every keypad key stands for its digit: 7 8 9 4 5 6 -> 789456 % 256.
  for (KeyCode k : {key::kHome, key::kUp, key::kPgUp, key::kLeft, key::kCentre,
                    key::kRight}) {
    con().PushExtended(k, left_alt);
  }
  con().PushExtended(key::kDown, {});
  EXPECT_EQ(Next().key, 789456 % 256);
  EXPECT_EQ(Next().key, key::kDown);
  // Right Alt alone is not keypad entry: Alt+Home stays a key.
  con().PushExtended(key::kHome, Modifiers{.alt = true});
  EXPECT_EQ(Next().key, key::kHome);
}

TEST_F(KeyboardTest, TypeAheadComesBeforeTheConsole) {
  con().PushKey('k');
  SetTypeAhead("12\x80");
  EXPECT_EQ(Next().key, '1');
  EXPECT_EQ(TypeAhead(), "2\x80");
  EXPECT_EQ(Next().key, '2');
  EXPECT_EQ(Next().key, 0x80);  // a byte above 127 is not negative
  EXPECT_EQ(Next().key, 'k');
  EXPECT_TRUE(TypeAhead().empty());
}

std::vector<KeyCode>* calculator_keys = nullptr;
int calculator_runs = 0;
std::string RecordingCalculator() {
  ++calculator_runs;
  // Inside the calculator Alt+X and Alt+C are keys like others; Alt+C
  // still opens the calendar.
  KeyCode key = 0;
  do {
    key = WaitKey();
    calculator_keys->push_back(key);
  } while (key != key::kEnter);
  return "12,50";
}
int calendar_runs = 0;
std::string Calendar() {
  ++calendar_runs;
  return "01/02/2024";
}

TEST_F(KeyboardTest, HotKeysRunTheirScreenOnceAndTypeTheResult) {
  std::vector<KeyCode> keys;
  calculator_keys = &keys;
  calculator_runs = 0;
  calendar_runs = 0;
  SetCalculatorScreen(&RecordingCalculator);
  SetCalendarScreen(&Calendar);

  con().PushExtended(key::kAltX, Modifiers{.alt = true});
  con().PushExtended(key::kAltX, Modifiers{.alt = true});  // inside it
  con().PushExtended(key::kAltC, Modifiers{.alt = true});  // inside it
  con().PushKey(key::kEnter);
  EXPECT_EQ(Next().key, key::kAltX);
  EXPECT_EQ(calculator_runs, 1);
  EXPECT_EQ(calendar_runs, 1);
  // Inside: Alt+X came back as a key, Alt+C typed the date, then Enter.
  ASSERT_GE(keys.size(), 3u);
  EXPECT_EQ(keys[0], key::kAltX);
  EXPECT_EQ(keys[1], key::kAltC);
  EXPECT_EQ(std::string(keys.begin() + 2, keys.end() - 1), "01/02/2024");
  EXPECT_EQ(TypeAhead(), "12,50");
  SetTypeAhead("");

  // A pasted event is typed, never a hot key.
  InputEvent pasted;
  pasted.kind = InputEvent::Kind::kKey;
  pasted.key = key::kAltC;
  pasted.extended = true;
  pasted.pasted = true;
  con().PushEvent(pasted);
  EXPECT_EQ(Next().key, key::kAltC);
  EXPECT_EQ(calendar_runs, 1);
  EXPECT_TRUE(TypeAhead().empty());
  // A line end inside a paste is dropped, not taken as Enter.
  con().PushPaste("12\r5");
  EXPECT_EQ(Next().key, '1');
  EXPECT_EQ(Next().key, '2');
  EXPECT_EQ(Next().key, 0);
  EXPECT_EQ(Next().key, '5');
  SetCalculatorScreen(nullptr);
  SetCalendarScreen(nullptr);
}

TEST_F(KeyboardTest, MouseIsEnabledForEachReadAndOffOnceSomethingCame) {
  EXPECT_FALSE(con().mouse_enabled());
  EXPECT_EQ(Next().key, 0);
  EXPECT_TRUE(con().mouse_enabled());  // nothing came: stays on
  con().PushClick(7, 33, 2);
  Read click = Next();
  EXPECT_EQ(click.key, 0);
  EXPECT_EQ(click.button, 2);
  EXPECT_EQ(click.row, 7);
  EXPECT_EQ(click.column, 33);
  EXPECT_FALSE(con().mouse_enabled());
  con().PushKey('a');
  EXPECT_EQ(Next().key, 'a');
  EXPECT_FALSE(con().mouse_enabled());

  // WaitKey folds a click into one code, kept to 16 bits.
  con().PushClick(10, 33, 1);
  EXPECT_EQ(WaitKey(), 33 * 256 + 64 + 10);
  con().PushClick(10, 200, 2);
  EXPECT_EQ(static_cast<uint16_t>(WaitKey()), (200 * 256 + 128 + 10) & 0xFFFF);

  // A console without a mouse never reports clicks.
  TEST_ResetKeyboard();
  con().SetHasMouse(false);
  con().PushClick(3, 3, 1);
  con().PushKey('b');
  Read nothing = Next();
  EXPECT_EQ(nothing.button, 0);
  EXPECT_EQ(nothing.key, 0);
  EXPECT_EQ(Next().key, 'b');
  EXPECT_FALSE(con().mouse_enabled());
}

TEST_F(KeyboardTest, WaitKeyWaitsOnTheConsoleInsteadOfSpinning) {
  // With the script used up the memory console answers Esc only after many
  // waits; a loop that spun without waiting would never get there by
  // waiting.
  EXPECT_EQ(WaitKey(), key::kEsc);
  EXPECT_GT(con().waited_ms(), 0);
  EXPECT_GE(con().ExhaustedWaits(), MemoryConsole::kExhaustedWaitLimit);
  // The help viewer's direct read skips clicks and ignores type-ahead.
  SetTypeAhead("q");
  con().PushClick(1, 1, 1);
  con().PushExtended(key::kF1, Modifiers{.shift = true});
  EXPECT_EQ(WaitRawKey(), key::kF1);
  EXPECT_EQ(TypeAhead(), "q");
}

}  // namespace
}  // namespace tarnevos
