#include "console/windows.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "console/keyboard.h"
#include "platform/console/memory_console.h"
#include "platform/console/terminal_console.h"
#include "platform/system/files.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/little_endian.h"

namespace tarnevos {
namespace {

using platform::BuiltInMemoryConsole;
using platform::MemoryConsole;

class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    TEST_MutableSession().tmp_dir = scratch_.path();
  }
  void TearDown() override { testing::ResetRunState(); }

  MemoryConsole& con() { return BuiltInMemoryConsole(); }
  std::string Stack() const { return scratch_.Read("WinPush.tmp"); }
  bool StackExists() const { return scratch_.Exists("WinPush.tmp"); }

  // Every cell gets its own character and colour, so that any cell put
  // back in the wrong place shows.
  void FillPattern() {
    for (int r = 1; r <= 25; ++r) {
      for (int c = 1; c <= 80; ++c) {
        const char ch = static_cast<char>(33 + (r * 7 + c) % 90);
        con().Write(r, c, std::string(1, ch),
                    static_cast<unsigned char>((r + c) & 0xFF));
      }
    }
  }

  testing::ScratchDir scratch_;
};

std::string Position(uint32_t value) {
  std::string out;
  le::AppendU32(out, value);
  return out;
}

TEST_F(WindowsTest, OneCellPushWritesTheExactEntryAndPopDeletesTheFile) {
  con().Write(3, 4, "Q", 0x1E);
  con().SetCursor(7, 12);
  PushWindow(3, 4, 3, 4);
  EXPECT_EQ(WindowDepth(), 1);
  EXPECT_EQ(Stack(), Position(32) + "07120000000003040304" + "Q\x1e" + "00027");

  con().Write(3, 4, "z", 0x70);
  con().SetCursor(1, 1);
  PopWindow();
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(StackExists());
  EXPECT_EQ(con().ReadCell(3, 4).character, 'Q');
  EXPECT_EQ(con().ColourAt(3, 4), 0x1E);
  // The colour of the last cell painted back is the current colour.
  EXPECT_EQ(CurrentColourByte(), 0x1E);
  int row = 0, column = 0;
  con().GetCursor(row, column);
  EXPECT_EQ(row, 7);
  EXPECT_EQ(column, 12);
}

TEST_F(WindowsTest, FullScreenPushSavesEveryCellRowByRow) {
  FillPattern();
  const platform::ScreenBuffer before = con().screen();
  PushWindow(1, 1, 25, 80);
  const std::string stack = Stack();
  ASSERT_EQ(stack.size(), 4u + 2 * 2000 + 25);
  EXPECT_EQ(stack.substr(0, 4), Position(4 + 2 * 2000 + 25 + 1));
  EXPECT_EQ(stack.substr(4 + 12, 8), "01012580");
  // Row 2, column 1 is cell 81.
  EXPECT_EQ(stack[4 + 20 + 2 * 80],
            static_cast<char>(before.At(2, 1).character));
  EXPECT_EQ(stack[4 + 20 + 2 * 80 + 1],
            static_cast<char>(before.At(2, 1).colour));
  EXPECT_EQ(stack.substr(stack.size() - 5), "04025");

  SetTextColour(7, 1);
  DrawWindowFrame(2);
  PopWindow();
  EXPECT_TRUE(con().screen() == before);
  EXPECT_FALSE(StackExists());
}

TEST_F(WindowsTest, NestedWindowsComeBackInReverseOrder) {
  FillPattern();
  const platform::ScreenBuffer screen0 = con().screen();
  con().SetCursor(2, 3);

  PushWindow(4, 10, 12, 50);
  SetTextColour(15, 1);
  DrawWindowFrame(1);
  LocateInWindow(1, 2);
  WriteText("outer");
  const platform::ScreenBuffer screen1 = con().screen();
  int row1 = 0, column1 = 0;
  con().GetCursor(row1, column1);

  PushWindow(6, 20, 9, 40);
  DrawWindowFrame(2);
  LocateInWindow(1, 1);
  WriteText("inner");
  EXPECT_EQ(WindowDepth(), 2);
  EXPECT_EQ(WindowFirstRow(), 7);
  EXPECT_EQ(WindowFirstColumn(), 21);
  EXPECT_EQ(WindowLastColumn(), 39);
  // The second entry records the first window as the previous one.
  const std::string stack = Stack();
  const size_t second = 4 + 2 * 9 * 41 + 25;
  EXPECT_EQ(stack.substr(second, 20), "05170410125006200940");

  PopWindow();
  EXPECT_EQ(WindowDepth(), 1);
  EXPECT_TRUE(con().screen() == screen1);
  EXPECT_EQ(WindowFirstRow(), 5);
  EXPECT_EQ(WindowFirstColumn(), 11);
  EXPECT_EQ(WindowLastColumn(), 49);
  int row = 0, column = 0;
  con().GetCursor(row, column);
  EXPECT_EQ(row, row1);
  EXPECT_EQ(column, column1);
  EXPECT_TRUE(StackExists());

  PopWindow();
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_TRUE(con().screen() == screen0);
  con().GetCursor(row, column);
  EXPECT_EQ(row, 2);
  EXPECT_EQ(column, 3);
  EXPECT_FALSE(StackExists());
  EXPECT_EQ(WindowFirstRow(), 1);
  EXPECT_EQ(WindowFirstColumn(), 1);
  EXPECT_EQ(WindowLastColumn(), 80);

  PopWindow();  // nothing left: harmless
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_TRUE(con().screen() == screen0);
}

TEST_F(WindowsTest, PositionsInsideAWindowAreRelativeToIt) {
  LocateInWindow(3, 9);
  int row = 0, column = 0;
  con().GetCursor(row, column);
  EXPECT_EQ(row, 3);
  EXPECT_EQ(column, 9);

  PushWindow(4, 1, 20, 80);
  LocateInWindow(1, 2);
  con().GetCursor(row, column);
  EXPECT_EQ(row, 5);
  EXPECT_EQ(column, 3);
  // Far outside the screen the cursor stays on it.
  LocateInWindow(300, -300);
  con().GetCursor(row, column);
  EXPECT_EQ(row, 25);
  EXPECT_EQ(column, 1);
}

TEST_F(WindowsTest, RectanglesOffTheScreenAreNotPushed) {
  for (auto [t, l, b, r] : {std::array<int16_t, 4>{0, 1, 5, 5},
                            {1, 0, 5, 5},
                            {1, 1, 26, 5},
                            {1, 1, 5, 81},
                            {-3, 1, 5, 5}}) {
    PushWindow(t, l, b, r);
    EXPECT_EQ(WindowDepth(), 0) << t << "," << l << "," << b << "," << r;
    EXPECT_FALSE(StackExists());
  }
}

TEST_F(WindowsTest, FramesUseTheirStyleAndClearTheInteriorInTheColour) {
  FillPattern();
  DrawWindowFrame(1);  // no window: nothing drawn
  const platform::ScreenBuffer before = con().screen();
  EXPECT_TRUE(con().screen() == before);

  struct Case {
    int16_t style;
    unsigned char top_left, top_right, bottom_left, bottom_right, horizontal,
        vertical;
  };
  for (const Case& c :
       {Case{0, 32, 32, 32, 32, 32, 32}, Case{1, 218, 191, 192, 217, 196, 179},
        Case{2, 201, 187, 200, 188, 205, 186}}) {
    SCOPED_TRACE(c.style);
    PushWindow(3, 5, 7, 12);
    SetTextColour(14, 1);
    DrawWindowFrame(c.style);
    EXPECT_EQ(con().ReadCell(3, 5).character, c.top_left);
    EXPECT_EQ(con().ReadCell(3, 12).character, c.top_right);
    EXPECT_EQ(con().ReadCell(7, 5).character, c.bottom_left);
    EXPECT_EQ(con().ReadCell(7, 12).character, c.bottom_right);
    EXPECT_EQ(con().ReadCell(3, 8).character, c.horizontal);
    EXPECT_EQ(con().ReadCell(7, 11).character, c.horizontal);
    EXPECT_EQ(con().ReadCell(5, 5).character, c.vertical);
    EXPECT_EQ(con().ReadCell(5, 12).character, c.vertical);
    for (int r = 4; r <= 6; ++r) {
      EXPECT_EQ(con().RowText(r).substr(5, 6), "      ");
      EXPECT_EQ(con().ColourAt(r, 8), 0x1E);
    }
    // Cells just outside are untouched.
    EXPECT_TRUE(con().ReadCell(3, 4) == before.At(3, 4));
    EXPECT_TRUE(con().ReadCell(8, 5) == before.At(8, 5));
    EXPECT_TRUE(con().ReadCell(5, 13) == before.At(5, 13));
    PopWindow();
    EXPECT_TRUE(con().screen() == before);
  }
}

TEST_F(WindowsTest, ScrollRegionNamesEachEdgeOneBeforeItsRow) {
  FillPattern();
  const platform::ScreenBuffer before = con().screen();
  SetTextColour(2, 4);
  ScrollRegion(4, 1, 20, 78, 1);
  for (int r = 1; r <= 25; ++r) {
    for (int c = 1; c <= 80; ++c) {
      platform::Cell expected = before.At(r, c);
      if (r >= 5 && r <= 21 && c >= 2 && c <= 79) {
        expected = r == 21 ? platform::Cell{' ', 0x42} : before.At(r + 1, c);
      }
      ASSERT_TRUE(con().ReadCell(r, c) == expected) << r << "," << c;
    }
  }
  // Down by two: the top rows of the rectangle become blanks.
  ScrollRegion(4, 1, 20, 78, -2);
  EXPECT_EQ(con().RowText(5).substr(1, 78), std::string(78, ' '));
  EXPECT_EQ(con().RowText(6).substr(1, 78), std::string(78, ' '));
  EXPECT_TRUE(con().ReadCell(7, 2) == before.At(6, 2));
  const platform::ScreenBuffer scrolled = con().screen();
  ScrollRegion(4, 1, 20, 78, 0);
  EXPECT_TRUE(con().screen() == scrolled);
}

TEST_F(WindowsTest, WriteTextAdvancesAndColourPartsOutsideTheRangeStay) {
  SetTextColour(14, 1);
  EXPECT_EQ(CurrentColourByte(), 0x1E);
  SetTextColour(-1, 3);
  EXPECT_EQ(CurrentColourByte(), 0x3E);
  SetTextColour(16, 99);
  EXPECT_EQ(CurrentColourByte(), 0x3E);
  SetTextColour(0, -5);
  EXPECT_EQ(CurrentColourByte(), 0x30);

  con().SetCursor(2, 78);
  WriteText("ABCDE");  // clipped at the edge; the cursor stays on screen
  EXPECT_EQ(con().RowText(2).substr(77), "ABC");
  EXPECT_EQ(con().ColourAt(2, 79), 0x30);
  con().SetCursor(4, 10);
  WriteText("xy");
  WriteText("z");
  EXPECT_EQ(con().RowText(4).substr(9, 3), "xyz");
  int row = 0, column = 0;
  con().GetCursor(row, column);
  EXPECT_EQ(column, 13);
}

// Stack files that a killed run left behind, cut short or overwritten.
TEST_F(WindowsTest, DamagedStackFilesNeverBreakAPopOrAFreshPush) {
  const std::string valid_entry =
      "07120000000003040304Q\x1e"
      "00027";
  const std::vector<std::string> damaged = {
      "",
      "\x05\x00",
      std::string("\x05\x00\x00\x00", 4),
      Position(9999) + valid_entry,  // points past the end
      Position(32) +
          "07120000000003040304Q\x1e"
          "0002x",  // length
      Position(32) +
          "07120000000003040304Q\x1e"
          "00029",  // too long
      Position(32) +
          "07120000000003040504Q\x1e"
          "00027",  // 3 rows
      Position(32) +
          "07120000000003xx0304Q\x1e"
          "00027",  // not digits
      Position(3) + valid_entry,
      std::string(4000, '\xff'),
  };
  for (const std::string& bytes : damaged) {
    SCOPED_TRACE(::testing::PrintToString(bytes.substr(0, 40)));
    TEST_ResetWindows();
    con().ClearScreen();
    con().Write(10, 10, "keep", 0x07);
    const platform::ScreenBuffer before = con().screen();

    // A stale file is never read at the first push: it starts over.
    scratch_.Write("WinPush.tmp", bytes);
    PushWindow(3, 4, 3, 4);
    EXPECT_EQ(Stack().size(), 31u);
    EXPECT_EQ(Stack().substr(0, 4), Position(32));

    // A file damaged under an open window is dropped by the pop.
    scratch_.Write("WinPush.tmp", bytes);
    PopWindow();
    EXPECT_EQ(WindowDepth(), 0);
    EXPECT_EQ(WindowFirstRow(), 1);
    EXPECT_FALSE(StackExists());
    EXPECT_TRUE(con().screen() == before);
  }
}

TEST_F(WindowsTest, APopWithNoWindowOpenIgnoresAFileLeftByAnotherRun) {
  con().Write(3, 4, "now", 0x07);
  const platform::ScreenBuffer before = con().screen();
  scratch_.Write("WinPush.tmp", Position(32) +
                                    "07120000000003040304Q\x1e"
                                    "00027");
  PopWindow();
  EXPECT_TRUE(con().screen() == before);
  EXPECT_FALSE(StackExists());
  EXPECT_EQ(WindowDepth(), 0);
}

TEST_F(WindowsTest, AStackFileRemovedUnderAnOpenWindowResetsThePop) {
  PushWindow(2, 2, 5, 5);
  PushWindow(3, 3, 4, 4);
  std::remove((scratch_.path() + "WinPush.tmp").c_str());
  PopWindow();
  EXPECT_EQ(WindowDepth(), 0);
  // The next push starts a new file.
  PushWindow(1, 1, 1, 2);
  EXPECT_EQ(Stack().size(), 4u + 29);
}

// The window stack is a temporary file: a signal that ends the program
// while windows are open takes it away (the terminal console's handlers
// remove it), and a stack emptied by its last pop is no longer registered.
TEST_F(WindowsTest, TheStackFileGoesWhenASignalEndsTheProgram) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signal_number);
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      std::string error;
      auto terminal = platform::TerminalConsole::OpenOn(slave, error);
      if (terminal == nullptr) _exit(99);
      PushWindow(2, 2, 5, 20);
      PushWindow(3, 3, 4, 10);
      if (!StackExists()) _exit(97);
      raise(signal_number);
      _exit(98);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_FALSE(StackExists());
    close(master);
    close(slave);
  }
  PushWindow(2, 2, 5, 20);
  PopWindow();
  scratch_.Write("WinPush.tmp", "not ours any more");
  platform::RemoveTemporaryFiles();
  EXPECT_TRUE(StackExists());
}

}  // namespace
}  // namespace tarnevos
