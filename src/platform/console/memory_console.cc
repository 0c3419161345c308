#include "platform/console/memory_console.h"

#include <algorithm>

#include "util/codepage.h"

namespace tarnevos::platform {

MemoryConsole::MemoryConsole(int rows, int columns) : screen_(rows, columns) {}

void MemoryConsole::Write(int row, int column, std::string_view text,
                          unsigned char colour) {
  screen_.Write(row, column, text, colour);
}

Cell MemoryConsole::ReadCell(int row, int column) const {
  return screen_.At(row, column);
}

void MemoryConsole::SetCursor(int row, int column) {
  cursor_row_ = std::clamp(row, 1, screen_.rows());
  cursor_column_ = std::clamp(column, 1, screen_.columns());
}

void MemoryConsole::GetCursor(int& row, int& column) const {
  row = cursor_row_;
  column = cursor_column_;
}

void MemoryConsole::Scroll(int top, int left, int bottom, int right, int lines,
                           unsigned char colour) {
  screen_.Scroll(top, left, bottom, right, lines, colour);
}

InputEvent MemoryConsole::PollEvent() {
  if (!script_.empty()) {
    ScriptEntry entry = script_.front();
    script_.pop_front();
    consecutive_empty_waits_ = 0;
    consecutive_empty_polls_ = 0;
    if (entry.resize_rows > 0) {
      Resize(entry.resize_rows, entry.resize_columns);
      return InputEvent{};
    }
    return entry.event;
  }
  // A screen waiting on a finished script gets one Esc per wait (or per
  // long run of polls) so it closes; a loop draining pending input still
  // sees the queue run dry.
  bool deliver_esc = esc_armed_;
  esc_armed_ = false;
  if (!deliver_esc && ++consecutive_empty_polls_ >= kExhaustedPollLimit) {
    consecutive_empty_polls_ = 0;
    ++exhausted_waits_;
    deliver_esc = true;
  }
  if (!deliver_esc) return InputEvent{};
  InputEvent esc;
  esc.kind = InputEvent::Kind::kKey;
  esc.key = kEsc;
  return esc;
}

void MemoryConsole::WaitForInput(int timeout_ms) {
  waited_ms_ += std::max(timeout_ms, 0);
  consecutive_empty_polls_ = 0;
  if (!script_.empty()) return;
  ++exhausted_waits_;
  if (consecutive_empty_waits_ < kExhaustedWaitLimit)
    ++consecutive_empty_waits_;
  if (consecutive_empty_waits_ >= kExhaustedWaitLimit) esc_armed_ = true;
}

void MemoryConsole::SetClipboardText(std::string_view text) {
  clipboard_.assign(text);
}

void MemoryConsole::Suspend() {
  suspended_ = true;
  ++suspensions_;
}

void MemoryConsole::Resume() { suspended_ = false; }

void MemoryConsole::PushEvent(const InputEvent& event) {
  script_.push_back(ScriptEntry{event});
}

void MemoryConsole::PushResize(int rows, int columns) {
  script_.push_back(ScriptEntry{InputEvent{}, std::max(rows, 1), columns});
}

void MemoryConsole::Resize(int rows, int columns) {
  screen_.Resize(rows, columns);
  cursor_row_ = std::min(cursor_row_, screen_.rows());
  cursor_column_ = std::min(cursor_column_, screen_.columns());
}

void MemoryConsole::PushKey(int code) {
  InputEvent event;
  event.kind = InputEvent::Kind::kKey;
  event.key = code;
  PushEvent(event);
}

void MemoryConsole::PushKeys(const std::vector<int>& codes) {
  for (int code : codes) {
    if (code > 255) {
      PushExtended(code);
    } else {
      PushKey(code);
    }
  }
}

void MemoryConsole::PushExtended(int scan_code_x256, Modifiers modifiers) {
  InputEvent event;
  event.kind = InputEvent::Kind::kKey;
  event.key = scan_code_x256;
  event.extended = true;
  event.modifiers = modifiers;
  PushEvent(event);
}

void MemoryConsole::PushText(std::string_view cp850) {
  for (char c : cp850) PushKey(static_cast<unsigned char>(c));
}

void MemoryConsole::PushPaste(std::string_view cp850) {
  for (char c : cp850) {
    InputEvent event;
    event.kind = InputEvent::Kind::kKey;
    event.key = static_cast<unsigned char>(c);
    event.pasted = true;
    PushEvent(event);
  }
}

void MemoryConsole::PushClick(int row, int column, int button) {
  InputEvent event;
  event.kind = InputEvent::Kind::kMouse;
  event.button = button;
  event.row = row;
  event.column = column;
  PushEvent(event);
}

std::string MemoryConsole::RowText(int row) const {
  std::string text;
  if (row < 1 || row > screen_.rows()) return text;
  text.reserve(static_cast<size_t>(screen_.columns()));
  for (int c = 1; c <= screen_.columns(); ++c) {
    text.push_back(static_cast<char>(screen_.At(row, c).character));
  }
  return text;
}

std::string MemoryConsole::RowUtf8(int row) const {
  std::string cp850 = RowText(row);
  while (!cp850.empty() && (cp850.back() == ' ' || cp850.back() == '\0')) {
    cp850.pop_back();
  }
  return Utf8GlyphsFromCp850(cp850);
}

std::string MemoryConsole::Dump() const {
  std::string out;
  for (int r = 1; r <= screen_.rows(); ++r) {
    out += RowUtf8(r);
    out += '\n';
  }
  return out;
}

bool MemoryConsole::ScreenContains(std::string_view cp850) const {
  for (int r = 1; r <= screen_.rows(); ++r) {
    if (RowText(r).find(cp850) != std::string::npos) return true;
  }
  return false;
}

void MemoryConsole::ClearScreen() {
  screen_.Fill(Cell{});
  cursor_row_ = 1;
  cursor_column_ = 1;
}

void MemoryConsole::Reset() {
  ClearScreen();
  cursor_shape_ = CursorShape::kHalfBlock;
  cursor_visible_ = true;
  script_.clear();
  has_mouse_ = true;
  mouse_enabled_ = false;
  beeps_ = 0;
  flushes_ = 0;
  clipboard_.clear();
  insert_mode_ = false;
  suspended_ = false;
  suspensions_ = 0;
  exhausted_waits_ = 0;
  consecutive_empty_waits_ = 0;
  consecutive_empty_polls_ = 0;
  esc_armed_ = false;
  waited_ms_ = 0;
}

}  // namespace tarnevos::platform
