#ifndef TARNEVOS_PLATFORM_CONSOLE_TERMINAL_CONSOLE_H_
#define TARNEVOS_PLATFORM_CONSOLE_TERMINAL_CONSOLE_H_

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/console/console.h"
#include "platform/console/key_decoder.h"
#include "platform/console/screen_buffer.h"
#include "platform/console/screen_renderer.h"

namespace tarnevos::platform {

// How a terminal console uses the window.
struct TerminalOptions {
  // Fill the whole window when it is larger than 80x25, and follow it.
  bool fill_window = false;
  // The line (CP850) shown while the window is smaller than 80x25, in the
  // program's language; empty shows the size alone ("80x25").
  std::string small_window_notice;
};

// The console on a real terminal, driven with ANSI escape sequences.
//
// While it exists it owns the terminal: raw mode (no echo, no line
// editing, no signal keys, so Ctrl+C and Ctrl+V reach the program as
// keys), the alternate screen, SGR mouse reporting and bracketed paste. It
// gives all of that back on every way out: destruction, std::exit (atexit),
// the termination signals (INT, TERM, HUP, QUIT) and the crash signals
// (SEGV, BUS, FPE, ILL, ABRT), which are then raised again with the
// handler that was there before. On those signals a program started with
// RunProgram is ended and waited for first (the terminal is given back
// after both), and the registered temporary files are removed
// (platform/system/files.h). A stop (TSTP) gives the terminal back
// before stopping, and a continue (CONT) takes it again and repaints.
//
// The program's screen is drawn in the terminal's top-left corner. It is
// 80x25, or, for a console opened to fill the window, as large as the
// window (never smaller than 80x25, at most kMaxRows x kMaxColumns), and
// then it follows the window's resizes: Rows() and Columns() change, what
// was drawn keeps its place and new cells are blank. On a terminal smaller
// than 80x25 a notice asks for a larger window, and the screen comes back
// when the window is large enough.
//
// Only one terminal console may exist at a time (the signal handlers serve
// one terminal).
class TerminalConsole : public Console {
 public:
  static constexpr int kRows = 25;
  static constexpr int kColumns = 80;
  // Bounds of a screen that fills the window (a huge window's extra cells
  // stay unused).
  static constexpr int kMaxRows = 300;
  static constexpr int kMaxColumns = 600;

  using Options = TerminalOptions;

  // Takes over the controlling terminal (/dev/tty). nullptr, with `error`
  // set, when there is none or another terminal console exists.
  static std::unique_ptr<TerminalConsole> Open(std::string& error,
                                               Options options = {});
  // Takes over the terminal open on `fd` (a pseudo-terminal in tests). The
  // descriptor stays the caller's and must outlive the console.
  static std::unique_ptr<TerminalConsole> OpenOn(int fd, std::string& error,
                                                 Options options = {});

  ~TerminalConsole() override;
  TerminalConsole(const TerminalConsole&) = delete;
  TerminalConsole& operator=(const TerminalConsole&) = delete;

  int Rows() const override { return rows_; }
  int Columns() const override { return columns_; }
  void Write(int row, int column, std::string_view text,
             unsigned char colour) override;
  Cell ReadCell(int row, int column) const override;
  void SetCursor(int row, int column) override;
  void GetCursor(int& row, int& column) const override;
  void SetCursorShape(CursorShape shape) override { cursor_.shape = shape; }
  void SetCursorVisible(bool visible) override { cursor_.visible = visible; }
  void Scroll(int top, int left, int bottom, int right, int lines,
              unsigned char colour) override;
  // Mouse presses are delivered only while mouse input is enabled and
  // only inside the screen.
  InputEvent PollEvent() override;
  // A negative timeout waits until input arrives or a signal interrupts.
  void WaitForInput(int timeout_ms) override;
  bool HasMouse() const override { return true; }
  void EnableMouse(bool on) override { mouse_enabled_ = on; }
  void Beep() override;
  // The console keeps its own clipboard (terminals do not let programs
  // read theirs); setting it also offers the text to the terminal's
  // clipboard with OSC 52. Text pasted in the terminal arrives as pasted
  // characters instead.
  std::string ClipboardText() override { return clipboard_; }
  void SetClipboardText(std::string_view text) override;
  bool InsertMode() const override { return insert_mode_; }
  void SetInsertMode(bool on) override { insert_mode_ = on; }
  // Sends what changed since the last flush in one write.
  void Flush() override;
  void Suspend() override;
  void Resume() override;

  // Writes done to the terminal so far (tests check one per flush).
  int writes() const { return writes_; }
  // The terminal's size as last seen.
  int terminal_rows() const { return terminal_rows_; }
  int terminal_columns() const { return terminal_columns_; }

 private:
  TerminalConsole(int fd, bool owns_fd, Options options);
  bool TakeOver(std::string& error);
  void ReadInput();
  // Handles what the signal handlers noted: a resize or a continue.
  void HandleSignals();
  // Reads the window's size; a console that fills the window takes it.
  void UpdateSize();
  void Send(std::string_view bytes);
  bool DecodedEvent(InputEvent& event);

  int fd_;
  bool owns_fd_;
  bool fill_window_;
  bool taken_ = false;  // this console holds the terminal
  int rows_ = kRows;
  int columns_ = kColumns;
  ScreenBuffer back_{kRows, kColumns};
  ScreenRenderer renderer_{kRows, kColumns};
  CursorState cursor_;
  KeyDecoder decoder_;
  std::chrono::steady_clock::time_point last_input_;
  bool mouse_enabled_ = false;
  bool insert_mode_ = false;
  bool suspended_ = false;
  bool input_lost_ = false;
  std::string clipboard_;
  int terminal_rows_ = kRows;
  int terminal_columns_ = kColumns;
  int writes_ = 0;
};

// Base64 of bytes (the terminal clipboard sequence carries text in it).
std::string Base64(std::string_view bytes);

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_CONSOLE_TERMINAL_CONSOLE_H_
