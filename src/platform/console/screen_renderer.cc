#include "platform/console/screen_renderer.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "util/codepage.h"

namespace tarnevos::platform {
namespace {

constexpr std::string_view kClearScreen = "\x1b[0m\x1b[H\x1b[2J";
constexpr std::string_view kShowCursor = "\x1b[?25h";
constexpr std::string_view kHideCursor = "\x1b[?25l";
// DECSCUSR: steady underline for the half-height cursor, steady block for
// the full one.
constexpr std::string_view kHalfCursor = "\x1b[4 q";
constexpr std::string_view kFullCursor = "\x1b[2 q";

int AnsiColour(int pc) { return ((pc & 1) << 2) | (pc & 2) | ((pc & 4) >> 2); }

void AppendNumber(std::string& out, int value) { out += std::to_string(value); }

}  // namespace

ScreenRenderer::ScreenRenderer(int rows, int columns) : front_(rows, columns) {}

int ScreenRenderer::AnsiForeground(unsigned char colour) {
  const int pc = colour & 0x0F;
  return ((pc & 8) != 0 ? 90 : 30) + AnsiColour(pc & 7);
}

int ScreenRenderer::AnsiBackground(unsigned char colour) {
  const int pc = (colour >> 4) & 0x0F;
  return ((pc & 8) != 0 ? 100 : 40) + AnsiColour(pc & 7);
}

void ScreenRenderer::SetSmallWindowNotice(std::string cp850) {
  notice_ = std::move(cp850);
  // A notice on screen is shown again with the new words.
  if (showing_notice_) showing_notice_ = false;
}

void ScreenRenderer::Invalidate() {
  valid_ = false;
  shape_ = -1;
  visible_ = -1;
}

void ScreenRenderer::Resize(int rows, int columns) {
  front_.Resize(rows, columns);
  showing_notice_ = false;
  Invalidate();
}

void ScreenRenderer::Render(const ScreenBuffer& screen,
                            const CursorState& cursor, int terminal_rows,
                            int terminal_columns, std::string& out) {
  if (terminal_rows < front_.rows() || terminal_columns < front_.columns()) {
    if (!showing_notice_) RenderNotice(terminal_rows, terminal_columns, out);
    return;
  }
  showing_notice_ = false;
  if (!valid_) {
    out += kClearScreen;
    cursor_row_ = 1;
    cursor_column_ = 1;
    foreground_ = -1;
    background_ = -1;
  }
  for (int r = 1; r <= front_.rows(); ++r) {
    for (int c = 1; c <= front_.columns(); ++c) {
      const Cell wanted = screen.At(r, c);
      if (valid_ && front_.At(r, c) == wanted) continue;
      MoveTo(r, c, out);
      SelectColour(wanted.colour, out);
      AppendUtf8(out, GlyphOf(wanted.character));
      front_.Set(r, c, wanted);
      // After the last column the cursor's column depends on the
      // terminal's wrap handling (its row does not): treat it as unknown.
      cursor_column_ = c < front_.columns() ? c + 1 : 0;
    }
  }
  valid_ = true;
  RenderCursor(cursor, out);
}

void ScreenRenderer::RenderNotice(int terminal_rows, int terminal_columns,
                                  std::string& out) {
  (void)terminal_rows;
  const std::string notice = !notice_.empty()
                                 ? notice_
                                 : std::to_string(front_.columns()) + "x" +
                                       std::to_string(front_.rows());
  out += kClearScreen;
  out += kHideCursor;
  out += "\x1b[1;1H";
  // Clipped to the terminal, so the notice never wraps or scrolls; one
  // CP850 byte is one cell.
  const size_t shown = std::min(
      notice.size(), static_cast<size_t>(std::max(terminal_columns, 0)));
  for (size_t i = 0; i < shown; ++i) {
    AppendUtf8(out, GlyphOf(static_cast<unsigned char>(notice[i])));
  }
  showing_notice_ = true;
  valid_ = false;
  cursor_row_ = 0;
  cursor_column_ = 0;
  foreground_ = -1;
  background_ = -1;
  visible_ = 0;
}

void ScreenRenderer::MoveTo(int row, int column, std::string& out) {
  if (row == cursor_row_ && column == cursor_column_) return;
  std::string jump = "\x1b[";
  AppendNumber(jump, row);
  jump += ';';
  AppendNumber(jump, column);
  jump += 'H';
  if (row == cursor_row_ && cursor_column_ > 0 && column > cursor_column_) {
    std::string forward = "\x1b[";
    AppendNumber(forward, column - cursor_column_);
    forward += 'C';
    if (forward.size() < jump.size()) jump = forward;
  } else if (column == 1 && cursor_row_ > 0 && row == cursor_row_ + 1) {
    // Raw mode: LF moves down only. CR also ends a pending wrap.
    jump = "\r\n";
  } else if (column == 1 && row == cursor_row_) {
    jump = "\r";
  }
  out += jump;
  cursor_row_ = row;
  cursor_column_ = column;
}

void ScreenRenderer::SelectColour(unsigned char colour, std::string& out) {
  const int foreground = AnsiForeground(colour);
  const int background = AnsiBackground(colour);
  if (foreground == foreground_ && background == background_) return;
  out += "\x1b[";
  if (foreground != foreground_) AppendNumber(out, foreground);
  if (foreground != foreground_ && background != background_) out += ';';
  if (background != background_) AppendNumber(out, background);
  out += 'm';
  foreground_ = foreground;
  background_ = background;
}

void ScreenRenderer::RenderCursor(const CursorState& cursor, std::string& out) {
  const int shape = cursor.shape == CursorShape::kFullBlock ? 1 : 0;
  if (shape != shape_) {
    out += shape == 1 ? kFullCursor : kHalfCursor;
    shape_ = shape;
  }
  if (cursor.visible) {
    MoveTo(std::clamp(cursor.row, 1, front_.rows()),
           std::clamp(cursor.column, 1, front_.columns()), out);
  }
  const int visible = cursor.visible ? 1 : 0;
  if (visible != visible_) {
    out += cursor.visible ? kShowCursor : kHideCursor;
    visible_ = visible;
  }
}

}  // namespace tarnevos::platform
