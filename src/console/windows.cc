#include "console/windows.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/console/console.h"
#include "platform/system/files.h"
#include "settings/session.h"
#include "util/little_endian.h"

namespace tarnevos {
namespace {

// Frame characters (CP850): top left, top right, bottom left, bottom right,
// horizontal, vertical.
struct FrameChars {
  unsigned char top_left, top_right, bottom_left, bottom_right, horizontal,
      vertical;
};
constexpr std::array<FrameChars, 3> kFrames = {{
    {32, 32, 32, 32, 32, 32},
    {218, 191, 192, 217, 196, 179},
    {201, 187, 200, 188, 205, 186},
}};

// The stack file starts with the 4-byte next free position; entries follow.
constexpr long kFirstEntry = 5;
constexpr long kHeaderBytes = 4;
// Ten 2-digit fields before the cells, the 5-digit length after them.
constexpr long kEntryFixedBytes = 25;
constexpr long kFieldsBytes = 20;

struct Rect {
  int top = 0;
  int left = 0;
  int bottom = 0;
  int right = 0;
};

struct WindowState {
  int depth = 0;
  Rect window;  // the current window; all 0 at depth 0
  unsigned char colour = 0x07;
};

WindowState& State() {
  static WindowState state;
  return state;
}

platform::Console& Con() { return platform::CurrentConsole(); }

std::string StackPath() { return Session().tmp_dir + "WinPush.tmp"; }

// Moves the cursor, kept on the screen so that no backend is asked for a
// cell it does not have.
void MoveCursor(int row, int column) {
  row = std::clamp(row, 1, std::max(1, Con().Rows()));
  column = std::clamp(column, 1, std::max(1, Con().Columns()));
  Con().SetCursor(row, column);
}

// Appends `value` as exactly `width` decimal digits; a longer value keeps
// its last digits.
void AppendDigits(std::string& out, long value, int width) {
  if (value < 0) value = -value;
  std::string digits(static_cast<size_t>(width), '0');
  for (int i = width - 1; i >= 0; --i) {
    digits[static_cast<size_t>(i)] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out += digits;
}

// Reads a fixed-width decimal field; nullopt when it holds anything but
// digits.
std::optional<int> ParseDigits(std::string_view field) {
  if (field.empty()) return std::nullopt;
  int value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The stack file, addressed by 1-based positions as its header counts them.
class File {
 public:
  File(const std::string& path, platform::OpenMode mode)
      : file_(platform::OpenFile(path, mode)) {}

  bool ok() const { return file_ != nullptr; }

  long Size() { return static_cast<long>(file_->Size()); }
  // Reads exactly `count` bytes at the 1-based position; nullopt when the
  // file ends first.
  std::optional<std::string> ReadAt(long position, long count) {
    if (position < 1 || count < 0) return std::nullopt;
    std::string bytes;
    if (!file_->ReadAt(position - 1, static_cast<size_t>(count), bytes)) {
      return std::nullopt;
    }
    return bytes;
  }
  bool WriteAt(long position, std::string_view bytes) {
    return position >= 1 && file_->WriteAt(position - 1, bytes);
  }

 private:
  std::unique_ptr<platform::File> file_;
};

// The next free position recorded in an open stack file, or nullopt when
// the file is too short or the value cannot be an entry boundary.
std::optional<long> NextFreePosition(File& file) {
  const long size = file.Size();
  if (size < kHeaderBytes) return std::nullopt;
  std::optional<std::string> header = file.ReadAt(1, kHeaderBytes);
  if (!header) return std::nullopt;
  const uint32_t position = le::LoadU32(header->data());
  if (position < kFirstEntry || static_cast<long>(position) > size + 1) {
    return std::nullopt;
  }
  return static_cast<long>(position);
}

struct Entry {
  int cursor_row = 0;
  int cursor_column = 0;
  Rect previous;
  Rect saved;
  std::string cells;  // character, colour, ... row by row
};

// Reads the entry that ends just before `next_free`; nullopt when the
// bytes there are not a consistent entry.
std::optional<Entry> ReadLastEntry(File& file, long next_free,
                                   long& entry_start) {
  if (next_free - kFirstEntry < kEntryFixedBytes) return std::nullopt;
  std::optional<std::string> length_field = file.ReadAt(next_free - 5, 5);
  if (!length_field) return std::nullopt;
  std::optional<int> length = ParseDigits(*length_field);
  if (!length || *length < kEntryFixedBytes ||
      (*length - kEntryFixedBytes) % 2 != 0 ||
      next_free - *length < kFirstEntry) {
    return std::nullopt;
  }
  entry_start = next_free - *length;
  std::optional<std::string> bytes = file.ReadAt(entry_start, *length);
  if (!bytes) return std::nullopt;

  std::array<int, 10> fields{};
  for (size_t i = 0; i < fields.size(); ++i) {
    std::optional<int> value =
        ParseDigits(std::string_view(*bytes).substr(2 * i, 2));
    if (!value) return std::nullopt;
    fields[i] = *value;
  }
  Entry entry;
  entry.cursor_row = fields[0];
  entry.cursor_column = fields[1];
  entry.previous = {fields[2], fields[3], fields[4], fields[5]};
  entry.saved = {fields[6], fields[7], fields[8], fields[9]};
  const Rect& r = entry.saved;
  const long cells = (*length - kEntryFixedBytes) / 2;
  if (r.top < 1 || r.left < 1 || r.bottom < r.top || r.right < r.left ||
      static_cast<long>(r.bottom - r.top + 1) * (r.right - r.left + 1) !=
          cells) {
    return std::nullopt;
  }
  entry.cells = bytes->substr(kFieldsBytes, static_cast<size_t>(2 * cells));
  return entry;
}

// A stack that cannot be read is dropped: no window is open any more.
void ForgetStack() {
  State().depth = 0;
  State().window = Rect{};
  platform::ForgetTemporaryFile(StackPath());
  platform::Files().Remove(StackPath());
}

}  // namespace

int16_t ScreenRows() { return static_cast<int16_t>(Con().Rows()); }
int16_t ScreenColumns() { return static_cast<int16_t>(Con().Columns()); }

void PushWindow(int16_t top, int16_t left, int16_t bottom, int16_t right) {
  const int rows = Con().Rows();
  const int columns = Con().Columns();
  auto on_rows = [rows](int r) { return r >= 1 && r <= rows; };
  auto on_columns = [columns](int c) { return c >= 1 && c <= columns; };
  if (!on_rows(top) || !on_rows(bottom) || !on_columns(left) ||
      !on_columns(right)) {
    return;
  }
  WindowState& state = State();
  const std::string path = StackPath();

  // The first push of a run starts a fresh file, so that a file left by a
  // run that was killed is never appended to.
  long next_free = kFirstEntry;
  std::optional<File> file;
  if (state.depth > 0) {
    file.emplace(path, platform::OpenMode::kUpdate);
    if (file->ok()) {
      next_free = NextFreePosition(*file).value_or(kFirstEntry);
    } else {
      file.reset();
    }
  }
  if (!file) {
    file.emplace(path, platform::OpenMode::kCreate);
    if (file->ok()) platform::RegisterTemporaryFile(path);
  }

  int cursor_row = 0;
  int cursor_column = 0;
  Con().GetCursor(cursor_row, cursor_column);

  // A rectangle given upside down stands for the cells it spans.
  const Rect rect = {std::min<int>(top, bottom), std::min<int>(left, right),
                     std::max<int>(top, bottom), std::max<int>(left, right)};
  std::string entry;
  for (int value : {cursor_row, cursor_column, state.window.top,
                    state.window.left, state.window.bottom, state.window.right,
                    rect.top, rect.left, rect.bottom, rect.right}) {
    AppendDigits(entry, value, 2);
  }
  long cells = 0;
  for (int r = rect.top; r <= rect.bottom; ++r) {
    for (int c = rect.left; c <= rect.right; ++c) {
      platform::Cell cell = Con().ReadCell(r, c);
      entry.push_back(static_cast<char>(cell.character));
      entry.push_back(static_cast<char>(cell.colour));
      ++cells;
    }
  }
  AppendDigits(entry, 2 * cells + kEntryFixedBytes, 5);

  next_free += static_cast<long>(entry.size());
  std::string header;
  le::AppendU32(header, static_cast<uint32_t>(next_free));
  if (file->ok()) {
    file->WriteAt(next_free - static_cast<long>(entry.size()), entry);
    file->WriteAt(1, header);
  }
  // Even when the file could not be written the overlay gets its window,
  // so that it draws where it means to; the matching pop then finds no
  // stack and starts over at the screen.
  state.window = rect;
  ++state.depth;
}

void PopWindow() {
  WindowState& state = State();
  // With no window open, a file there is left from another run: its
  // contents belong to a screen that is gone.
  if (state.depth == 0) {
    ForgetStack();
    return;
  }
  long entry_start = 0;
  std::optional<Entry> entry;
  {
    File file(StackPath(), platform::OpenMode::kUpdate);
    if (!file.ok()) {
      ForgetStack();
      return;
    }
    std::optional<long> next_free = NextFreePosition(file);
    if (next_free) entry = ReadLastEntry(file, *next_free, entry_start);
    if (entry && entry_start >= kFirstEntry + 1) {
      std::string header;
      le::AppendU32(header, static_cast<uint32_t>(entry_start));
      file.WriteAt(1, header);
    }
  }
  if (!entry) {
    ForgetStack();
    return;
  }
  --state.depth;
  assert(state.depth >= 0);
  state.window = entry->previous;

  const Rect& r = entry->saved;
  // Cells go back row by row; neighbours of one colour in one write.
  size_t i = 0;
  std::string run;
  for (int row = r.top; row <= r.bottom; ++row) {
    int run_start = r.left;
    for (int column = r.left; column <= r.right; ++column, i += 2) {
      const auto colour = static_cast<unsigned char>(entry->cells[i + 1]);
      if (!run.empty() && colour != state.colour) {
        Con().Write(row, run_start, run, state.colour);
        run.clear();
      }
      if (run.empty()) run_start = column;
      run.push_back(entry->cells[i]);
      state.colour = colour;
    }
    Con().Write(row, run_start, run, state.colour);
    run.clear();
  }
  MoveCursor(entry->cursor_row, entry->cursor_column);
  if (entry_start < kFirstEntry + 1) {
    platform::ForgetTemporaryFile(StackPath());
    platform::Files().Remove(StackPath());
  }
}

void DrawWindowFrame(int16_t style) {
  const WindowState& state = State();
  if (state.depth == 0) return;
  // Styles other than 1 and 2 draw blanks.
  const FrameChars& f =
      kFrames[(style == 1 || style == 2) ? static_cast<size_t>(style) : 0];
  const Rect& w = state.window;
  const size_t inner = static_cast<size_t>(std::max(0, w.right - w.left - 1));
  auto line = [inner](unsigned char first, unsigned char middle,
                      unsigned char last) {
    std::string text(1, static_cast<char>(first));
    text.append(inner, static_cast<char>(middle));
    text.push_back(static_cast<char>(last));
    return text;
  };
  Con().Write(w.top, w.left, line(f.top_left, f.horizontal, f.top_right),
              state.colour);
  const std::string middle = line(f.vertical, ' ', f.vertical);
  for (int row = w.top + 1; row <= w.bottom - 1; ++row) {
    Con().Write(row, w.left, middle, state.colour);
  }
  Con().Write(w.bottom, w.left,
              line(f.bottom_left, f.horizontal, f.bottom_right), state.colour);
}

void LocateInWindow(int16_t row, int16_t column) {
  const WindowState& state = State();
  if (state.depth == 0) {
    MoveCursor(row, column);
  } else {
    MoveCursor(state.window.top + row, state.window.left + column);
  }
}

int16_t WindowFirstRow() {
  const WindowState& state = State();
  return static_cast<int16_t>(state.depth == 0 ? 1 : state.window.top + 1);
}

int16_t WindowFirstColumn() {
  const WindowState& state = State();
  return static_cast<int16_t>(state.depth == 0 ? 1 : state.window.left + 1);
}

int16_t WindowLastColumn() {
  const WindowState& state = State();
  return static_cast<int16_t>(state.depth == 0 ? ScreenColumns()
                                               : state.window.right - 1);
}

void ScrollRegion(int16_t top, int16_t left, int16_t bottom, int16_t right,
                  int16_t lines) {
  if (lines == 0) return;
  Con().Scroll(top + 1, left + 1, bottom + 1, right + 1, lines, State().colour);
}

int16_t WindowDepth() { return static_cast<int16_t>(State().depth); }

void WriteText(std::string_view text) {
  int row = 0;
  int column = 0;
  Con().GetCursor(row, column);
  Con().Write(row, column, text, State().colour);
  const long after = static_cast<long>(column) + static_cast<long>(text.size());
  MoveCursor(row, static_cast<int>(std::min<long>(after, Con().Columns())));
}

void SetTextColour(int foreground, int background) {
  unsigned char& colour = State().colour;
  if (foreground >= 0 && foreground <= 15) {
    colour = static_cast<unsigned char>((colour & 0xF0) | foreground);
  }
  if (background >= 0 && background <= 15) {
    colour = static_cast<unsigned char>((colour & 0x0F) | (background << 4));
  }
}

unsigned char CurrentColourByte() { return State().colour; }

void TEST_ResetWindows() { State() = WindowState{}; }

}  // namespace tarnevos
