#ifndef TARNEVOS_PLATFORM_CONSOLE_CONSOLE_H_
#define TARNEVOS_PLATFORM_CONSOLE_CONSOLE_H_

#include <cstdint>
#include <string>
#include <string_view>

// The screen and keyboard as the program sees them: an 80x25 grid of cells
// (a CP850 character and a colour byte, foreground in the low four bits and
// background in the high four, PC colour order), a cursor, and a queue of
// input events. Rows and columns are 1-based. Nothing else in the program
// touches the terminal.
namespace tarnevos::platform {

struct Cell {
  unsigned char character = ' ';
  unsigned char colour = 0x07;
};

enum class CursorShape { kHalfBlock, kFullBlock };

struct Modifiers {
  bool shift = false;
  bool ctrl = false;
  bool alt = false;       // either Alt key
  bool left_alt = false;  // the left Alt key held (keypad character entry)
};

struct InputEvent {
  enum class Kind { kNone, kKey, kMouse };
  Kind kind = Kind::kNone;
  // Keys: an ordinary character is its CP850 code (1..255); an extended key
  // is its scan code x 256 as the unmodified key (0x3B00 F1, 0x4800 Up,
  // 0x2E00 Alt+C, ...) with the modifiers held in `modifiers`; the key
  // reader derives the modified codes. `extended` tells the two apart.
  int key = 0;
  bool extended = false;
  // True for characters that arrive as pasted text: they are typed, never
  // taken as hot keys.
  bool pasted = false;
  Modifiers modifiers;
  // Mouse: button state (1 = left) and the screen cell.
  int button = 0;
  int row = 0;
  int column = 0;
};

class Console {
 public:
  virtual ~Console() = default;

  virtual int Rows() const = 0;
  virtual int Columns() const = 0;

  // Writes CP850 text from (row, column) in one colour, clipped at the
  // screen's edge.
  virtual void Write(int row, int column, std::string_view text,
                     unsigned char colour) = 0;
  virtual Cell ReadCell(int row, int column) const = 0;

  virtual void SetCursor(int row, int column) = 0;
  virtual void GetCursor(int& row, int& column) const = 0;
  virtual void SetCursorShape(CursorShape shape) = 0;
  virtual void SetCursorVisible(bool visible) = 0;

  // Scrolls the rectangle up (lines > 0) or down (lines < 0); freed rows are
  // blanks in `colour`.
  virtual void Scroll(int top, int left, int bottom, int right, int lines,
                      unsigned char colour) = 0;

  // Takes one pending event without waiting (kind kNone when none).
  virtual InputEvent PollEvent() = 0;
  // Blocks until input may be pending or the timeout passes; lets key
  // loops wait without spinning.
  virtual void WaitForInput(int timeout_ms) = 0;
  // Reports whether the console can deliver mouse presses, and turns mouse
  // reporting on or off.
  virtual bool HasMouse() const = 0;
  virtual void EnableMouse(bool on) = 0;

  virtual void Beep() = 0;
  virtual std::string ClipboardText() = 0;  // CP850
  virtual void SetClipboardText(std::string_view text) = 0;
  virtual bool InsertMode() const = 0;
  virtual void SetInsertMode(bool on) = 0;

  // Shows what was written since the last flush.
  virtual void Flush() = 0;
  // Hands the terminal to another program and takes it back afterwards.
  virtual void Suspend() = 0;
  virtual void Resume() = 0;
};

// The console the program uses. Before SetConsole is called it is a memory
// console, so nothing ever writes through a null pointer.
Console& CurrentConsole();
// Installs a console (not owned); nullptr restores the built-in memory one.
void SetConsole(Console* console);

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_CONSOLE_CONSOLE_H_
