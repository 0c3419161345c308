#ifndef TARNEVOS_PLATFORM_CONSOLE_SCREEN_RENDERER_H_
#define TARNEVOS_PLATFORM_CONSOLE_SCREEN_RENDERER_H_

#include <string>

#include "platform/console/console.h"
#include "platform/console/screen_buffer.h"

namespace tarnevos::platform {

struct CursorState {
  int row = 1;
  int column = 1;
  CursorShape shape = CursorShape::kHalfBlock;
  bool visible = true;
};

// Works out the bytes that bring an ANSI terminal from what it shows to the
// screen the program drew. It remembers what it sent (the cells, where the
// terminal's cursor is, the colours selected, the cursor's shape and
// visibility), so that each call sends only the cells that changed and moves
// the cursor or changes colours only when needed. Pure: it writes nothing
// itself, the terminal backend sends the result in one write.
//
// The screen is drawn in the terminal's top-left corner. A terminal smaller
// than the screen gets a one-line notice asking for a larger window
// instead, and the whole screen again once it is large enough. The notice's
// words are the program's (the platform knows no languages); until it gives
// them, the notice is the screen's size alone ("80x25").
class ScreenRenderer {
 public:
  ScreenRenderer(int rows, int columns);

  int rows() const { return front_.rows(); }
  int columns() const { return front_.columns(); }

  // The notice shown on a terminal that is too small, in CP850; clipped to
  // the terminal's width when shown. Empty: the screen's size alone.
  void SetSmallWindowNotice(std::string cp850);

  // Forgets what the terminal shows: the next Render clears it and draws
  // every cell (after a resize, a resume, or at the start).
  void Invalidate();
  // A new screen size (sizes below 1 count as 1); forgets what the
  // terminal shows, as Invalidate does.
  void Resize(int rows, int columns);

  // Appends to `out` what makes a terminal of terminal_rows x
  // terminal_columns show `screen` (which must have the renderer's size)
  // and `cursor`; appends nothing when the terminal already shows them.
  void Render(const ScreenBuffer& screen, const CursorState& cursor,
              int terminal_rows, int terminal_columns, std::string& out);

  // SGR parameters of a PC colour byte: PC colours are blue-green-red,
  // ANSI red-green-blue, so bits 0 and 2 swap; the high bit of each half
  // selects the bright set (90-97, 100-107).
  static int AnsiForeground(unsigned char colour);
  static int AnsiBackground(unsigned char colour);

 private:
  void RenderNotice(int terminal_rows, int terminal_columns, std::string& out);
  void MoveTo(int row, int column, std::string& out);
  void SelectColour(unsigned char colour, std::string& out);
  void RenderCursor(const CursorState& cursor, std::string& out);

  ScreenBuffer front_;
  std::string notice_;
  bool valid_ = false;
  bool showing_notice_ = false;
  // The terminal's cursor; 0 when not known.
  int cursor_row_ = 0;
  int cursor_column_ = 0;
  // SGR colours selected; -1 when not known.
  int foreground_ = -1;
  int background_ = -1;
  // Cursor shape and visibility last sent; -1 when not known.
  int shape_ = -1;
  int visible_ = -1;
};

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_CONSOLE_SCREEN_RENDERER_H_
