#include "console/field_editor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/keyboard.h"
#include "console/windows.h"
#include "platform/console/memory_console.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/text.h"

namespace tarnevos {
namespace {

using platform::BuiltInMemoryConsole;
using platform::CursorShape;
using platform::MemoryConsole;
using platform::Modifiers;

constexpr Modifiers kCtrl{false, true, false, false};
constexpr Modifiers kAlt{false, false, true, false};
constexpr unsigned char kFieldColour = 0x1E;  // attribute "u"

// What the console showed while the editor waited for Alt+C.
struct CursorProbe {
  int row = 0;
  int column = 0;
  CursorShape shape = CursorShape::kHalfBlock;
  bool visible = false;
};
std::vector<CursorProbe> probes;

std::string ProbeCursor() {
  CursorProbe probe;
  BuiltInMemoryConsole().GetCursor(probe.row, probe.column);
  probe.shape = BuiltInMemoryConsole().cursor_shape();
  probe.visible = BuiltInMemoryConsole().cursor_visible();
  probes.push_back(probe);
  return "";
}

class FieldEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    TEST_MutableSession().tmp_dir = scratch_.path();
    TEST_MutableSession().screen_colours = {
        {{15, 0}, {7, 0}, {0, 7}, {0, 7}, {14, 1}}};
    probes.clear();
    SetCalendarScreen(&ProbeCursor);
  }
  void TearDown() override { testing::ResetRunState(); }

  MemoryConsole& con() { return BuiltInMemoryConsole(); }
  void Keys(const std::vector<int>& codes) { con().PushKeys(codes); }
  void Probe() { con().PushExtended(key::kAltC, kAlt); }

  // Edits `text` at row 5, column 10 of the screen; returns the key.
  KeyCode Edit(std::string& text, int16_t& cursor, int16_t width = 0) {
    int16_t row = 5;
    int16_t column = 10;
    KeyCode key = 0;
    EditField(row, column, width, text, cursor, key);
    EXPECT_EQ(con().ExhaustedWaits(), 0) << "the script ran out";
    return key;
  }
  std::string Screen(int row, int column, int length) {
    return con().RowText(row).substr(column - 1, length);
  }

  testing::ScratchDir scratch_;
};

TEST_F(FieldEditorTest, WrappedFieldShowsLinesAndMovesBetweenThem) {
  const std::string value = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";
  const struct {
    int16_t cursor;
    KeyCode key;
    int16_t cursor_after;
    KeyCode ended_with;
  } cases[] = {
      {5, key::kDown, 15, key::kEsc},  {25, key::kDown, 25, key::kDown},
      {15, key::kUp, 5, key::kEsc},    {5, key::kUp, 5, key::kUp},
      {21, key::kDown, 31, key::kEsc}, {31, key::kRight, 31, key::kEsc},
      {1, key::kLeft, 1, key::kEsc},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cursor);
    std::string text = value;
    int16_t cursor = c.cursor;
    Keys({c.key, key::kEsc});
    EXPECT_EQ(Edit(text, cursor, 10), c.ended_with);
    EXPECT_EQ(cursor, c.cursor_after);
    con().ClearScript();
  }
  EXPECT_EQ(Screen(5, 10, 11), "ABCDEFGHIJ ");
  EXPECT_EQ(Screen(6, 10, 11), "KLMNOPQRST ");
  EXPECT_EQ(Screen(7, 10, 11), "UVWXYZ0123 ");
  EXPECT_EQ(con().ColourAt(7, 19), kFieldColour);

  // The cursor after a full last line stays on that line.
  std::string text = "ABCDE";
  int16_t cursor = 6;
  SetAcceptedKeys("a", "1b");
  Probe();
  Keys({key::kEsc});
  Edit(text, cursor, 5);
  ASSERT_EQ(probes.size(), 1u);
  EXPECT_EQ(probes[0].row, 5);
  EXPECT_EQ(probes[0].column, 15);
  EXPECT_TRUE(probes[0].visible);
}

TEST_F(FieldEditorTest, TypesInInsertAndOverwriteMode) {
  const struct {
    bool insert;
    const char* text;
    int16_t cursor;
    const char* typed;
    const char* result;
    int16_t cursor_after;
  } cases[] = {
      {false, "abc  ", 2, "XY", "aXY  ", 4},
      {true, "abc  ", 2, "X", "aXbc ", 3},
      {true, "abcde", 1, "XY", "abcde", 1},  // full: nothing more goes in
      {true, "abcd ", 4, "XY", "abcXd", 5},  // the text filled up
      {false, "abc", 4, "X", "abc", 4},      // past the end
      {false, "     ", 1, "\x80\xfe", "\x80\xfe   ", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    con().ClearScreen();
    con().SetInsertMode(c.insert);
    std::string text = c.text;
    int16_t cursor = c.cursor;
    con().PushText(c.typed);
    Keys({key::kEsc});
    Edit(text, cursor);
    EXPECT_EQ(text, c.result);
    EXPECT_EQ(cursor, c.cursor_after);
    EXPECT_EQ(Screen(5, 10, 6), (std::string(c.result) + "   ").substr(0, 6));
  }

  // Ins switches the console's toggle, which the next field keeps, and the
  // cursor shape shows the mode.
  con().SetInsertMode(false);
  SetAcceptedKeys("a", "1b");
  std::string text = "ab  ";
  int16_t cursor = 1;
  Probe();
  Keys({key::kIns});
  Probe();
  Keys({'Z', key::kEsc});
  Edit(text, cursor);
  EXPECT_EQ(text, "Zab ");
  EXPECT_TRUE(con().InsertMode());
  ASSERT_EQ(probes.size(), 2u);
  EXPECT_EQ(probes[0].shape, CursorShape::kHalfBlock);
  EXPECT_EQ(probes[1].shape, CursorShape::kFullBlock);
}

TEST_F(FieldEditorTest, DeletesAndJumpsWithinTheText) {
  const struct {
    const char* text;
    int16_t cursor;
    int key;
    const char* result;
    int16_t cursor_after;
  } cases[] = {
      {"abcde", 3, key::kBackspace, "acde ", 2},
      {"abcde", 1, key::kBackspace, "abcde", 1},
      {"abcde", 2, key::kDel, "acde ", 2},
      {"abcde", 6, key::kDel, "abcde", 6},
      {"ab   ", 1, key::kEnd, "ab   ", 3},
      {"ab   ", 4, key::kHome, "ab   ", 1},
      {"abcde", 4, key::kCtrlY, "     ", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    std::string text = c.text;
    int16_t cursor = c.cursor;
    Keys({c.key, key::kEsc});
    Edit(text, cursor);
    EXPECT_EQ(text, c.result);
    EXPECT_EQ(cursor, c.cursor_after);
    EXPECT_EQ(Screen(5, 10, 5), c.result);
  }
  std::string text = "abcde";
  int16_t cursor = 3;
  con().PushExtended(key::kHome, kCtrl);
  Keys({key::kEsc});
  Edit(text, cursor);
  EXPECT_EQ(text, "     ");
}

TEST_F(FieldEditorTest, MovesByWordsAndEndsAtTheEdges) {
  const struct {
    const char* text;
    int16_t cursor;
    int arrow;
    int16_t cursor_after;
    KeyCode ended_with;
  } cases[] = {
      {"abc def ghi", 12, key::kLeft, 9, key::kEsc},
      {"abc def ghi", 9, key::kLeft, 5, key::kEsc},
      {"abc def ghi", 6, key::kLeft, 5, key::kEsc},
      {"abc def ghi", 5, key::kLeft, 1, key::kEsc},
      {"abc def ghi", 1, key::kLeft, 1, key::kCtrlLeft},
      {"abc def ghi", 1, key::kRight, 5, key::kEsc},
      {"abc def ghi", 5, key::kRight, 9, key::kEsc},
      {"abc def ghi", 9, key::kRight, 12, key::kEsc},
      {"abc def ghi", 12, key::kRight, 12, key::kCtrlRight},
      {"a,.;:b  ", 1, key::kRight, 6, key::kEsc},
      {"a,.;:b  ", 8, key::kLeft, 6, key::kEsc},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.cursor) + " " + std::to_string(c.arrow));
    std::string text = c.text;
    int16_t cursor = c.cursor;
    con().PushExtended(c.arrow, kCtrl);
    Keys({key::kEsc});
    EXPECT_EQ(Edit(text, cursor), c.ended_with);
    EXPECT_EQ(cursor, c.cursor_after);
    con().ClearScript();
  }
}

TEST_F(FieldEditorTest, CopiesAndPastesThroughTheClipboard) {
  std::string text = "     ";
  int16_t cursor = 1;
  con().SetClipboardText("  12.50 \n");
  Keys({key::kCtrlV, key::kEsc});
  Edit(text, cursor);
  EXPECT_EQ(text, "12.50");
  EXPECT_EQ(Screen(5, 10, 5), "12.50");

  text = "xx   ";
  cursor = 3;
  con().SetClipboardText(
      "\tabc\x7f"
      "defgh\xff");
  Keys({key::kCtrlV, key::kEsc});
  Edit(text, cursor);
  EXPECT_EQ(text, "xxabc");  // never beyond the end
  EXPECT_EQ(cursor, 6);

  text = "  hi  ";
  Keys({key::kCtrlC, key::kEsc});
  Edit(text, cursor);
  EXPECT_EQ(con().ClipboardText(), "hi");
}

TEST_F(FieldEditorTest, ChoiceFieldsSelectByInitialArrowsAndSpace) {
  SetChoiceList("|S,Yes|N,No");
  const struct {
    const char* text;
    std::vector<int> keys;
    const char* result;
    const char* shown;
  } cases[] = {
      {"N", {}, "N", "No "},
      {"N", {'y'}, "S", "Yes"},
      {"N", {' '}, "S", "Yes"},  // from the last option back to the first
      {"X", {}, "S", "Yes"},     // no option matches: the first
      {"S", {key::kLeft}, "N", "No "},
      {"S", {key::kRight, key::kRight}, "S", "Yes"},
      {"S", {'n', 'q', key::kBackspace, key::kCtrlY}, "N", "No "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    int16_t cursor = 1;
    Keys(c.keys);
    Keys({key::kEsc});
    Edit(text, cursor);
    EXPECT_EQ(text, c.result);
    EXPECT_EQ(Screen(5, 9, 5), std::string(" ") + c.shown + " ");
  }

  // The markers stand beside the widest description while editing.
  SetAcceptedKeys("a", "1b");
  std::string text = "S";
  int16_t cursor = 1;
  con().SetClipboardText("");
  Probe();
  Keys({key::kCtrlC, key::kEsc});
  // The probe sees the screen while the edit is on.
  SetCalendarScreen([]() -> std::string {
    const std::string row = BuiltInMemoryConsole().RowText(5);
    probes.push_back(CursorProbe{row[8], row[12], CursorShape::kHalfBlock,
                                 BuiltInMemoryConsole().cursor_visible()});
    return "";
  });
  Edit(text, cursor);
  ASSERT_EQ(probes.size(), 1u);
  EXPECT_EQ(probes[0].row, 17);
  EXPECT_EQ(probes[0].column, 16);
  EXPECT_FALSE(probes[0].visible);  // no cursor on a choice
  EXPECT_EQ(con().ClipboardText(), "Yes");

  // Typed letters are compared without case or accents.
  SetChoiceList("|A,\xb7rea|E,\xd4xit|I,Illa");  // Àrea, Èxit
  for (int typed : {int{'e'}, 0x90 /* É */, int{'E'}}) {
    text = "A";
    Keys({typed, key::kEsc});
    Edit(text, cursor);
    EXPECT_EQ(text, "E") << typed;
  }
  EXPECT_FALSE(SearchFolding());
}

TEST_F(FieldEditorTest, AcceptedKeysFilterAndTranslateTheEndingKey) {
  const struct {
    const char* accepted;
    std::vector<int> keys;
    KeyCode ended_with;
  } cases[] = {
      {"1b,d", {0x3F00 /* F5 */, key::kTab}, key::kEnter},
      {"1b,d", {key::kDown, key::kPgUp, key::kEnter}, key::kEnter},
      {"1b,d,4f00", {key::kEnter}, key::kEnd},
      {"1b,4800", {key::kShiftTab}, key::kUp},
      {"1b,d=4900", {key::kEnter}, key::kPgUp},
      {"", {0x3F00}, 0x3F00},  // no table: every key ends the edit
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.accepted);
    SetAcceptedKeys("e", "");
    SetAcceptedKeys("a", c.accepted);
    std::string text = "abc";
    int16_t cursor = 1;
    Keys(c.keys);
    EXPECT_EQ(Edit(text, cursor), c.ended_with);
    con().ClearScript();
  }
  SetAcceptedKeys("e", "");
  SetAcceptedKeys("a", "1b");
  std::string text = "abc";
  int16_t cursor = 1;
  con().PushExtended(0x3E00, kCtrl);  // Ctrl+F4
  EXPECT_EQ(Edit(text, cursor), key::kEsc);
}

TEST_F(FieldEditorTest, ClicksMoveTheCursorOrEndTheEdit) {
  PushWindow(3, 5, 12, 40);
  SetAcceptedKeys("a", "1b");
  std::string text = "abcdef";
  int16_t row = 2;
  int16_t column = 3;  // screen row 5, column 8
  int16_t width = 0;
  int16_t cursor = 1;
  KeyCode key = 0;
  con().PushClick(5, 10);
  con().PushText("X");
  con().PushClick(20, 60);
  EditField(row, column, width, text, cursor, key);
  EXPECT_EQ(text, "abXdef");
  EXPECT_EQ(key, -(60 * 100 + 20));
  EXPECT_TRUE(IsClickCode(key));
  int16_t click_row = 0, click_column = 0;
  ClickPosition(key, click_row, click_column);
  EXPECT_EQ(click_row, 20);
  EXPECT_EQ(click_column, 60);
  EXPECT_FALSE(IsClickCode(static_cast<KeyCode>(0x8500)));  // F11

  // On a choice the markers step through the options.
  SetChoiceList("|A,Un|B,Dos|C,Tres");
  text = "A";
  con().PushClick(5, 7);   // left marker: to the last option
  con().PushClick(5, 9);   // on the description: nothing
  con().PushClick(5, 12);  // right marker: back to the first, then B
  con().PushClick(5, 12);
  Keys({key::kEsc});
  EditField(row, column, width, text, cursor, key);
  EXPECT_EQ(text, "B");
  EXPECT_EQ(key, key::kEsc);
}

TEST_F(FieldEditorTest, MaskedEchoNeverShowsTheText) {
  SetAcceptedKeys("h", "");
  std::string text = "    ";
  int16_t cursor = 1;
  con().PushText("se");
  Keys({key::kBackspace, 'k', key::kEsc});
  Edit(text, cursor);
  EXPECT_EQ(text, "sk  ");
  EXPECT_EQ(Screen(5, 10, 5), "XXXX ");
  EXPECT_FALSE(con().ScreenContains("s"));
}

}  // namespace
}  // namespace tarnevos
