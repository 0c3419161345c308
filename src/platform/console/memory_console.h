#ifndef TARNEVOS_PLATFORM_CONSOLE_MEMORY_CONSOLE_H_
#define TARNEVOS_PLATFORM_CONSOLE_MEMORY_CONSOLE_H_

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console/console.h"
#include "platform/console/screen_buffer.h"

namespace tarnevos::platform {

// A console kept entirely in memory: the screen is a grid of cells that
// tests read back, and input comes from a script of events queued
// beforehand. It is also the console the program has before a real one is
// installed.
//
// A screen that keeps waiting once the script is used up would wait
// forever; instead, after kExhaustedWaitLimit consecutive waits on an empty
// script each further wait makes one Esc pending, so every screen
// eventually closes, and ExhaustedWaits() tells the test it happened.
class MemoryConsole : public Console {
 public:
  static constexpr int kExhaustedWaitLimit = 10000;
  // Consecutive empty polls (without waits in between) after which Esc is
  // delivered as well, for loops that spin without waiting.
  static constexpr int kExhaustedPollLimit = 1000000;
  static constexpr int kEsc = 27;

  explicit MemoryConsole(int rows = 25, int columns = 80);
  MemoryConsole(const MemoryConsole&) = delete;
  MemoryConsole& operator=(const MemoryConsole&) = delete;

  // Console
  int Rows() const override { return screen_.rows(); }
  int Columns() const override { return screen_.columns(); }
  void Write(int row, int column, std::string_view text,
             unsigned char colour) override;
  Cell ReadCell(int row, int column) const override;
  void SetCursor(int row, int column) override;
  void GetCursor(int& row, int& column) const override;
  void SetCursorShape(CursorShape shape) override { cursor_shape_ = shape; }
  void SetCursorVisible(bool visible) override { cursor_visible_ = visible; }
  void Scroll(int top, int left, int bottom, int right, int lines,
              unsigned char colour) override;
  InputEvent PollEvent() override;
  void WaitForInput(int timeout_ms) override;
  bool HasMouse() const override { return has_mouse_; }
  void EnableMouse(bool on) override { mouse_enabled_ = on; }
  void Beep() override { ++beeps_; }
  std::string ClipboardText() override { return clipboard_; }
  void SetClipboardText(std::string_view text) override;
  bool InsertMode() const override { return insert_mode_; }
  void SetInsertMode(bool on) override { insert_mode_ = on; }
  void Flush() override { ++flushes_; }
  void Suspend() override;
  void Resume() override;

  // --- Script -------------------------------------------------------------
  void PushEvent(const InputEvent& event);
  // An ordinary key: a CP850 character or control code (13 Enter, 27 Esc).
  void PushKey(int code);
  // An extended key: scan code x 256 of the unmodified key (0x3B00 F1,
  // 0x2E00 with alt for Alt+C) and the modifiers held.
  void PushExtended(int scan_code_x256, Modifiers modifiers = {});
  // Keys by their key codes: above 255 an extended key (scan code x 256),
  // otherwise an ordinary one.
  void PushKeys(const std::vector<int>& codes);
  // Each CP850 byte as a typed key.
  void PushText(std::string_view cp850);
  // Each CP850 byte as a pasted character.
  void PushPaste(std::string_view cp850);
  // A mouse press; button 1 is the left one, 2 the right, 4 the middle.
  void PushClick(int row, int column, int button = 1);
  // The window changes size when the script reaches this point: the poll
  // that reaches it resizes the screen (as Resize) and finds no event.
  void PushResize(int rows, int columns);
  // Events still queued.
  size_t PendingEvents() const { return script_.size(); }
  void ClearScript() { script_.clear(); }

  // --- Inspection -----------------------------------------------------------
  // The characters of one row as CP850 bytes (all columns); "" out of range.
  std::string RowText(int row) const;
  // The same row as UTF-8 glyphs, trailing blanks removed.
  std::string RowUtf8(int row) const;
  // All rows as UTF-8 glyphs, trailing blanks removed, one line per row.
  std::string Dump() const;
  // True when `cp850` appears in some row.
  bool ScreenContains(std::string_view cp850) const;
  unsigned char ColourAt(int row, int column) const {
    return ReadCell(row, column).colour;
  }
  const ScreenBuffer& screen() const { return screen_; }
  // A new size, as a terminal's window that is made larger or smaller:
  // cells inside both sizes keep their place, new ones are blank.
  void Resize(int rows, int columns);
  // Fills the screen with blanks in colour 0x07 and homes the cursor.
  void ClearScreen();
  // Back to the state of a new console of the same size: blank screen,
  // empty script and clipboard, counters at zero.
  void Reset();

  CursorShape cursor_shape() const { return cursor_shape_; }
  bool cursor_visible() const { return cursor_visible_; }
  bool mouse_enabled() const { return mouse_enabled_; }
  void SetHasMouse(bool has_mouse) { has_mouse_ = has_mouse; }
  int beeps() const { return beeps_; }
  int flushes() const { return flushes_; }
  bool suspended() const { return suspended_; }
  int suspensions() const { return suspensions_; }
  // Waits made while the script was empty, over the console's life.
  int ExhaustedWaits() const { return exhausted_waits_; }
  // Timeouts asked for by WaitForInput, in total (to check loops sleep).
  long long waited_ms() const { return waited_ms_; }

 private:
  ScreenBuffer screen_;
  int cursor_row_ = 1;
  int cursor_column_ = 1;
  CursorShape cursor_shape_ = CursorShape::kHalfBlock;
  bool cursor_visible_ = true;
  // An event, or a resize when resize_rows > 0.
  struct ScriptEntry {
    InputEvent event;
    int resize_rows = 0;
    int resize_columns = 0;
  };
  std::deque<ScriptEntry> script_;
  bool has_mouse_ = true;
  bool mouse_enabled_ = false;
  int beeps_ = 0;
  int flushes_ = 0;
  std::string clipboard_;
  bool insert_mode_ = false;
  bool suspended_ = false;
  int suspensions_ = 0;
  int exhausted_waits_ = 0;
  int consecutive_empty_waits_ = 0;
  int consecutive_empty_polls_ = 0;
  bool esc_armed_ = false;
  long long waited_ms_ = 0;
};

// Puts the built-in memory console back as the current console and clears
// it (screen, script, counters), so each test starts from a blank screen.
void TEST_ResetConsole();
// The built-in memory console (the current console unless SetConsole
// installed another).
MemoryConsole& BuiltInMemoryConsole();

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_CONSOLE_MEMORY_CONSOLE_H_
