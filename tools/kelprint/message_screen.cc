#include "kelprint/message_screen.h"

#include <algorithm>

namespace tarnevos::kelprint {
namespace {

constexpr unsigned char kBackground = 0x07;
constexpr unsigned char kInformation = 0x1F;  // white on blue
constexpr unsigned char kFailure = 0x4F;      // white on red

// Box drawing in CP850: double lines.
constexpr char kTopLeft = '\xC9', kTopRight = '\xBB', kBottomLeft = '\xC8',
               kBottomRight = '\xBC', kHorizontal = '\xCD', kVertical = '\xBA';

// Frame and one blank on each side of the text, and two columns of screen
// around the frame.
constexpr int kSideRoom = 8;

void Draw(platform::Console& console, const std::vector<std::string>& lines,
          const std::string& press_a_key, unsigned char colour) {
  const int rows = console.Rows();
  const int columns = console.Columns();
  std::vector<std::string> text = MessageRows(lines, columns);
  // Frame, blank line, key line: four rows besides the text, and one row
  // of screen above and below.
  const size_t room = static_cast<size_t>(std::max(rows - 6, 1));
  if (text.size() > room) text.resize(room);
  text.push_back("");
  text.push_back(press_a_key.substr(
      0, static_cast<size_t>(std::max(columns - kSideRoom, 1))));

  size_t widest = 0;
  for (const std::string& line : text) widest = std::max(widest, line.size());
  const int inner = static_cast<int>(widest) + 2;
  const int width = inner + 2;
  const int height = static_cast<int>(text.size()) + 2;
  const int left = std::max((columns - width) / 2 + 1, 1);
  const int top = std::max((rows - height) / 2 + 1, 1);

  const std::string blank(static_cast<size_t>(columns), ' ');
  for (int row = 1; row <= rows; ++row)
    console.Write(row, 1, blank, kBackground);
  const std::string rule(static_cast<size_t>(inner), kHorizontal);
  console.Write(top, left, std::string(1, kTopLeft) + rule + kTopRight, colour);
  for (size_t i = 0; i < text.size(); ++i) {
    std::string line = " " + text[i];
    line.resize(static_cast<size_t>(inner), ' ');
    console.Write(top + 1 + static_cast<int>(i), left,
                  std::string(1, kVertical) + line + kVertical, colour);
  }
  console.Write(top + height - 1, left,
                std::string(1, kBottomLeft) + rule + kBottomRight, colour);
  console.Flush();
}

}  // namespace

std::vector<std::string> MessageRows(const std::vector<std::string>& lines,
                                     int columns) {
  const size_t width = static_cast<size_t>(std::max(columns - kSideRoom, 1));
  std::vector<std::string> rows;
  for (const std::string& line : lines) {
    if (line.empty()) rows.emplace_back();
    for (size_t at = 0; at < line.size(); at += width) {
      rows.push_back(line.substr(at, width));
    }
  }
  return rows;
}

void ShowMessage(platform::Console& console,
                 const std::vector<std::string>& lines,
                 const std::string& press_a_key, bool failure) {
  const unsigned char colour = failure ? kFailure : kInformation;
  console.SetCursorVisible(false);
  Draw(console, lines, press_a_key, colour);
  int rows = console.Rows();
  int columns = console.Columns();
  while (true) {
    platform::InputEvent event = console.PollEvent();
    if (event.kind == platform::InputEvent::Kind::kKey) break;
    if (console.Rows() != rows || console.Columns() != columns) {
      rows = console.Rows();
      columns = console.Columns();
      Draw(console, lines, press_a_key, colour);
    }
    if (event.kind == platform::InputEvent::Kind::kNone) {
      console.WaitForInput(200);
    }
  }
  console.SetCursorVisible(true);
}

}  // namespace tarnevos::kelprint
