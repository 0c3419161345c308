#ifndef TARNEVOS_CONSOLE_WINDOWS_H_
#define TARNEVOS_CONSOLE_WINDOWS_H_

#include <cstdint>
#include <string_view>

// The window stack (WinPush.tmp in TmpDir) and the screen services the
// overlays share. Rows and columns are 1-based; inside an open window,
// positions given to LocateInWindow are relative to it.
namespace tarnevos {

int16_t ScreenRows();
int16_t ScreenColumns();

// Saves the rectangle and makes it the current window (draws nothing).
// A rectangle off the screen is silently not pushed.
void PushWindow(int16_t top, int16_t left, int16_t bottom, int16_t right);
// Restores the last saved rectangle, the cursor and the previous window.
void PopWindow();
// Style 0 blanks, 1 single line, 2 double line; interior cleared.
void DrawWindowFrame(int16_t style);
void LocateInWindow(int16_t row, int16_t column);
int16_t WindowFirstRow();
int16_t WindowFirstColumn();
int16_t WindowLastColumn();
// Scrolls the rectangle whose corners are one less than the screen row and
// column they name; lines > 0 up, < 0 down.
void ScrollRegion(int16_t top, int16_t left, int16_t bottom, int16_t right,
                  int16_t lines);
int16_t WindowDepth();

// Writes text at the cursor in the current colour and moves the cursor
// after it (the console's "print").
void WriteText(std::string_view text);
// Sets the current colour (foreground, background 0..15); values outside
// 0..15 leave that part as it was.
void SetTextColour(int foreground, int background);
unsigned char CurrentColourByte();

// Start-up state: depth 0, no window, default colour.
void TEST_ResetWindows();

}  // namespace tarnevos

#endif  // TARNEVOS_CONSOLE_WINDOWS_H_
