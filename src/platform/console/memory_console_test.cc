#include "platform/console/memory_console.h"

#include <gtest/gtest.h>

#include "util/codepage.h"

namespace tarnevos::platform {
namespace {

TEST(MemoryConsoleTest, WritesAreClippedAndReadBack) {
  MemoryConsole console;
  console.Write(1, 78, "ABCDE", 0x1E);  // only ABC fit
  console.Write(2, -1, "xyz", 0x07);    // only z lands, in column 1
  console.Write(0, 1, "lost", 0x07);
  console.Write(26, 1, "lost", 0x07);
  EXPECT_EQ(console.RowText(1).substr(77), "ABC");
  EXPECT_EQ(console.ColourAt(1, 80), 0x1E);
  EXPECT_EQ(console.ReadCell(2, 1).character, 'z');
  EXPECT_EQ(console.ReadCell(2, 2).character, ' ');
  EXPECT_FALSE(console.ScreenContains("lost"));
  EXPECT_EQ(console.ReadCell(0, 0).character, ' ');  // outside: a blank
  EXPECT_EQ(console.RowText(99), "");
}

TEST(MemoryConsoleTest, DumpShowsGlyphsWithoutTrailingBlanks) {
  MemoryConsole console(3, 10);
  console.Write(1, 1, Cp850("\u2554\u2550Ç"), 0x07);
  console.Write(2, 3, "\x10 x \x11", 0x07);
  EXPECT_EQ(console.Dump(), "╔═Ç\n  ► x ◄\n\n");
  EXPECT_EQ(console.RowUtf8(2), "  ► x ◄");
}

TEST(MemoryConsoleTest, ResizeKeepsWhatFitsAndScriptedResizesHappenInOrder) {
  MemoryConsole console(3, 4);
  console.Write(1, 1, "abcd", 0x1E);
  console.Write(3, 1, "wxyz", 0x07);
  console.SetCursor(3, 4);
  console.Resize(2, 6);
  EXPECT_EQ(console.Rows(), 2);
  EXPECT_EQ(console.Columns(), 6);
  EXPECT_EQ(console.RowText(1), "abcd  ");
  EXPECT_EQ(console.ColourAt(1, 4), 0x1E);
  EXPECT_EQ(console.ColourAt(1, 5), 0x07);
  int row = 0, column = 0;
  console.GetCursor(row, column);
  EXPECT_EQ(row, 2);
  EXPECT_EQ(column, 4);

  console.PushKey('a');
  console.PushResize(5, 9);
  console.PushKey('b');
  EXPECT_EQ(console.PollEvent().key, 'a');
  EXPECT_EQ(console.Rows(), 2);
  EXPECT_EQ(console.PollEvent().kind, InputEvent::Kind::kNone);
  EXPECT_EQ(console.Rows(), 5);
  EXPECT_EQ(console.Columns(), 9);
  EXPECT_EQ(console.PollEvent().key, 'b');
}

TEST(MemoryConsoleTest, ScrollMovesOnlyTheRectangle) {
  MemoryConsole console(5, 6);
  for (int r = 1; r <= 5; ++r) {
    console.Write(r, 1, std::string(6, static_cast<char>('0' + r)), 0x07);
  }
  console.Scroll(2, 2, 4, 5, 1, 0x70);
  EXPECT_EQ(console.RowText(1), "111111");
  EXPECT_EQ(console.RowText(2), "233332");
  EXPECT_EQ(console.RowText(3), "344443");
  EXPECT_EQ(console.RowText(4), "4    4");
  EXPECT_EQ(console.ColourAt(4, 2), 0x70);
  EXPECT_EQ(console.ColourAt(4, 1), 0x07);
  console.Scroll(1, 1, 5, 6, -2, 0x07);
  EXPECT_EQ(console.RowText(1), "      ");
  EXPECT_EQ(console.RowText(3), "111111");
  EXPECT_EQ(console.RowText(5), "344443");
  // More lines than the height blanks it; a huge count cannot overflow.
  console.Scroll(1, 1, 5, 6, -2147483647 - 1, 0x07);
  EXPECT_FALSE(console.ScreenContains("1"));
}

TEST(MemoryConsoleTest, ScriptIsDeliveredInOrderThenRunsDry) {
  MemoryConsole console;
  console.PushText("a\r");
  console.PushExtended(0x2E00, Modifiers{.alt = true});
  console.PushClick(3, 7, 2);
  console.PushPaste("p");
  InputEvent e = console.PollEvent();
  EXPECT_EQ(e.kind, InputEvent::Kind::kKey);
  EXPECT_EQ(e.key, 'a');
  EXPECT_FALSE(e.extended);
  EXPECT_EQ(console.PollEvent().key, 13);
  e = console.PollEvent();
  EXPECT_TRUE(e.extended);
  EXPECT_EQ(e.key, 0x2E00);
  EXPECT_TRUE(e.modifiers.alt);
  e = console.PollEvent();
  EXPECT_EQ(e.kind, InputEvent::Kind::kMouse);
  EXPECT_EQ(e.button, 2);
  EXPECT_EQ(e.row, 3);
  EXPECT_EQ(e.column, 7);
  e = console.PollEvent();
  EXPECT_TRUE(e.pasted);
  EXPECT_EQ(console.PollEvent().kind, InputEvent::Kind::kNone);
  EXPECT_EQ(console.ExhaustedWaits(), 0);
}

TEST(MemoryConsoleTest, WaitingForeverOnAnEmptyScriptEndsInEsc) {
  MemoryConsole console;
  console.PushKey('x');
  console.WaitForInput(10);  // something queued: not an exhausted wait
  EXPECT_EQ(console.ExhaustedWaits(), 0);
  EXPECT_EQ(console.PollEvent().key, 'x');
  int waits = 0;
  InputEvent event;
  while (event.kind == InputEvent::Kind::kNone && waits < 100000) {
    console.WaitForInput(10);
    ++waits;
    event = console.PollEvent();
  }
  EXPECT_EQ(waits, MemoryConsole::kExhaustedWaitLimit);
  EXPECT_EQ(event.key, 27);
  EXPECT_EQ(console.ExhaustedWaits(), MemoryConsole::kExhaustedWaitLimit);
  // One Esc per wait: a loop draining the queue still sees it run dry.
  EXPECT_EQ(console.PollEvent().kind, InputEvent::Kind::kNone);
  console.WaitForInput(10);
  EXPECT_EQ(console.PollEvent().key, 27);
}

TEST(MemoryConsoleTest, SpinningOnPollsAlsoEndsInEsc) {
  MemoryConsole console;
  int polls = 0;
  while (console.PollEvent().kind == InputEvent::Kind::kNone) ++polls;
  EXPECT_EQ(polls, MemoryConsole::kExhaustedPollLimit - 1);
  EXPECT_EQ(console.ExhaustedWaits(), 1);
}

TEST(MemoryConsoleTest, CurrentConsoleIsTheBuiltInUntilReplaced) {
  TEST_ResetConsole();
  CurrentConsole().Write(1, 1, "hi", 0x07);
  CurrentConsole().SetInsertMode(true);
  EXPECT_EQ(BuiltInMemoryConsole().RowText(1).substr(0, 2), "hi");
  MemoryConsole other(10, 40);
  SetConsole(&other);
  EXPECT_EQ(CurrentConsole().Columns(), 40);
  SetConsole(nullptr);
  EXPECT_EQ(&CurrentConsole(), &BuiltInMemoryConsole());
  TEST_ResetConsole();
  EXPECT_FALSE(CurrentConsole().InsertMode());
  EXPECT_FALSE(BuiltInMemoryConsole().ScreenContains("hi"));
}

}  // namespace
}  // namespace tarnevos::platform
