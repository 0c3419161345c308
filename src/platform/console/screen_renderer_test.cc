#include "platform/console/screen_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "util/codepage.h"

namespace tarnevos::platform {
namespace {

constexpr std::string_view kClear = "\x1b[0m\x1b[H\x1b[2J";

class ScreenRendererTest : public ::testing::Test {
 protected:
  // Renders on an 80x25 terminal and returns the bytes sent.
  std::string Render(int terminal_rows = 25, int terminal_columns = 80) {
    std::string out;
    renderer_.Render(screen_, cursor_, terminal_rows, terminal_columns, out);
    return out;
  }

  ScreenBuffer screen_{25, 80};
  CursorState cursor_;
  ScreenRenderer renderer_{25, 80};
};

TEST_F(ScreenRendererTest, PcColoursBecomeAnsiColours) {
  struct {
    unsigned char colour;
    int foreground;
    int background;
  } const cases[] = {
      {0x07, 37, 40},   // light grey on black
      {0x1E, 93, 44},   // yellow on blue
      {0x01, 34, 40},   // blue: PC 1 is ANSI 4
      {0x04, 31, 40},   // red: PC 4 is ANSI 1
      {0x03, 36, 40},   // cyan: PC 3 is ANSI 6
      {0x06, 33, 40},   // brown: PC 6 is ANSI 3
      {0x4C, 91, 41},   // light red on red
      {0x9F, 97, 104},  // white on light blue
      {0x70, 30, 47},   // black on grey
      {0xF0, 30, 107},  // black on white
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ScreenRenderer::AnsiForeground(c.colour), c.foreground)
        << static_cast<int>(c.colour);
    EXPECT_EQ(ScreenRenderer::AnsiBackground(c.colour), c.background)
        << static_cast<int>(c.colour);
  }
}

TEST_F(ScreenRendererTest, FirstRenderClearsAndDrawsEveryCell) {
  screen_.Write(1, 1, Cp850("╔═Ç"), 0x1E);
  screen_.Write(25, 80, "\x10", 0x07);
  const std::string out = Render();
  ASSERT_EQ(out.substr(0, kClear.size()), kClear);
  // Colour set once for the run of cells, then changed once for the rest.
  EXPECT_NE(out.find("\x1b[93;44m╔═Ç\x1b[37;40m "), std::string::npos) << out;
  EXPECT_NE(out.find("►"), std::string::npos);
  // Rows follow each other without cursor addressing.
  EXPECT_EQ(out.find("\x1b[2;1H"), std::string::npos);
  EXPECT_NE(out.find("\r\n"), std::string::npos);
  // Cursor shape, position and visibility come last.
  EXPECT_NE(out.find("\x1b[4 q\x1b[1;1H\x1b[?25h"), std::string::npos);
  // Nothing changed: nothing to send.
  EXPECT_EQ(Render(), "");
}

TEST_F(ScreenRendererTest, OnlyChangedCellsAreSent) {
  Render();
  screen_.Write(10, 20, "AB", 0x07);
  screen_.Write(10, 24, "C", 0x07);  // two columns further on the same row
  screen_.Write(12, 5, "D", 0x70);
  cursor_.visible = false;
  EXPECT_EQ(Render(),
            "\x1b[10;20HAB\x1b[2CC"  // forward move is shorter than a jump
            "\x1b[12;5H\x1b[30;47mD"
            "\x1b[?25l");
  // Writing the same contents again changes nothing on the terminal.
  screen_.Write(10, 20, "AB", 0x07);
  EXPECT_EQ(Render(), "");
  // A colour change alone redraws the cell with only the changed half.
  screen_.Write(12, 5, "D", 0x7F);
  EXPECT_EQ(Render(), "\x1b[12;5H\x1b[97mD");
}

TEST_F(ScreenRendererTest, CursorIsMovedAndShapedOnlyWhenNeeded) {
  Render();
  cursor_.row = 5;
  cursor_.column = 7;
  EXPECT_EQ(Render(), "\x1b[5;7H");
  cursor_.shape = CursorShape::kFullBlock;
  EXPECT_EQ(Render(), "\x1b[2 q");
  // Drawing moves the terminal's cursor; it is put back afterwards.
  screen_.Write(1, 1, "x", 0x07);
  EXPECT_EQ(Render(), "\x1b[1;1Hx\x1b[5;7H");
  // Out-of-range cursor positions are clamped to the screen.
  cursor_.row = 99;
  cursor_.column = -3;
  EXPECT_EQ(Render(), "\x1b[25;1H");
}

TEST_F(ScreenRendererTest, LastColumnLeavesTheCursorColumnUnknown) {
  Render();
  screen_.Write(3, 80, "z", 0x07);
  screen_.Write(4, 1, "y", 0x07);
  screen_.Write(4, 80, "w", 0x07);
  screen_.Write(4, 79, "v", 0x07);
  // After column 80 the column is unknown (the terminal may wrap or not)
  // but the row is not: CR LF reaches the next row, CR the same one, and
  // other moves are relative or addressed.
  EXPECT_EQ(Render(), "\x1b[3;80Hz\r\ny\x1b[77Cvw\x1b[1;1H");
  screen_.Write(4, 1, "u", 0x07);
  screen_.Write(4, 80, "t", 0x07);
  cursor_.visible = false;
  Render();
  screen_.Write(4, 1, "s", 0x07);
  EXPECT_EQ(Render(), "\rs");
}

TEST_F(ScreenRendererTest, SmallTerminalGetsANoticeThenAFullRepaint) {
  renderer_.SetSmallWindowNotice("Amplieu la finestra a 80x25");
  screen_.Write(1, 1, "hello", 0x07);
  Render();
  // One line in the program's words, nothing else.
  EXPECT_EQ(
      Render(24, 80),
      std::string(kClear) + "\x1b[?25l\x1b[1;1HAmplieu la finestra a 80x25");
  EXPECT_EQ(Render(24, 80), "");  // shown once, not on every flush
  const std::string narrow = Render(30, 10);
  EXPECT_EQ(narrow, "");
  // Large enough again (even larger): everything is drawn again.
  const std::string repaint = Render(50, 132);
  EXPECT_EQ(repaint.substr(0, kClear.size()), kClear);
  EXPECT_NE(repaint.find("hello"), std::string::npos);
  EXPECT_NE(repaint.find("\x1b[?25h"), std::string::npos);
  EXPECT_EQ(Render(50, 132), "");
}

TEST_F(ScreenRendererTest, NoticeWordsAreTheProgramsClippedToTheTerminal) {
  // Without words from the program the notice is the size alone.
  std::string out = Render(10, 40);
  EXPECT_NE(out.find("\x1b[1;1H80x25"), std::string::npos) << out;
  EXPECT_EQ(out.find("Enlarge"), std::string::npos);
  // New words on a notice already shown are shown at once; CP850 becomes
  // UTF-8 and is clipped by cells, not bytes.
  renderer_.SetSmallWindowNotice(Cp850("Amplíe la ventana a 80x25"));
  out = Render(10, 12);
  EXPECT_NE(out.find("Amplíe la ve"), std::string::npos) << out;
  EXPECT_EQ(out.find("Amplíe la ven"), std::string::npos);
}

TEST_F(ScreenRendererTest, ResizeRedrawsAtTheNewSize) {
  Render();
  ScreenBuffer larger(40, 140);
  larger.Write(40, 140, "z", 0x07);
  renderer_.Resize(40, 140);
  EXPECT_EQ(renderer_.rows(), 40);
  std::string out;
  renderer_.Render(larger, cursor_, 40, 140, out);
  EXPECT_EQ(out.substr(0, kClear.size()), kClear);
  EXPECT_NE(out.find('z'), std::string::npos);
  EXPECT_GE(std::count(out.begin(), out.end(), ' '), 40 * 140 - 1);
  // 40x140 now needs a 40x140 terminal.
  out.clear();
  renderer_.Render(larger, cursor_, 30, 140, out);
  EXPECT_NE(out.find("140x40"), std::string::npos);
}

TEST_F(ScreenRendererTest, InvalidateRedrawsEverything) {
  Render();
  renderer_.Invalidate();
  const std::string out = Render();
  EXPECT_EQ(out.substr(0, kClear.size()), kClear);
  // 2000 blanks, cursor shape and visibility sent again.
  EXPECT_GE(std::count(out.begin(), out.end(), ' '), 2000);
  EXPECT_NE(out.find("\x1b[4 q"), std::string::npos);
  EXPECT_NE(out.find("\x1b[?25h"), std::string::npos);
}

}  // namespace
}  // namespace tarnevos::platform
