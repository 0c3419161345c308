#include "console/field_editor.h"

#include <algorithm>
#include <vector>

#include "console/windows.h"
#include "platform/console/console.h"
#include "util/text.h"

namespace tarnevos {
namespace {

// Click codes are -(column x 100 + row) with a column of at most a few
// hundred; extended keys such as F11 (0x8500) read as far more negative.
constexpr int kLowestClickCode = -9999;
constexpr unsigned char kLeftMarker = 17;   // the console's left triangle
constexpr unsigned char kRightMarker = 16;  // the console's right triangle
constexpr char kMaskCharacter = 'X';
constexpr std::string_view kWordSeparators = " ,.;:";
constexpr int kIdleWaitMs = 100;

std::string& StoredChoiceList() {
  static std::string list;
  return list;
}

struct Option {
  std::string value;
  std::string description;
};

// "|S,Yes|N,No" -> {S, Yes}, {N, No}. Text before the first "|" is not an
// option; an option without "," has an empty description.
std::vector<Option> ParseChoices(std::string_view list) {
  std::vector<Option> options;
  size_t bar = list.find('|');
  while (bar != std::string_view::npos) {
    size_t next = list.find('|', bar + 1);
    std::string_view item = list.substr(bar + 1, next == std::string_view::npos
                                                     ? std::string_view::npos
                                                     : next - bar - 1);
    size_t comma = item.find(',');
    Option option;
    option.value = std::string(item.substr(0, comma));
    if (comma != std::string_view::npos) {
      option.description = std::string(item.substr(comma + 1));
    }
    options.push_back(std::move(option));
    bar = next;
  }
  return options;
}

bool IsPrintable(KeyCode key, int lowest) {
  return (key >= lowest && key <= 126) || (key >= 128 && key <= 254);
}

bool IsWordCharacter(char c) {
  return kWordSeparators.find(c) == std::string_view::npos;
}

// One key or one click, waiting for it.
struct Input {
  KeyCode key = 0;
  bool click = false;
  int16_t row = 0;
  int16_t column = 0;
};

Input WaitInput() {
  for (;;) {
    Input input;
    int16_t button = 0;
    ReadKey(input.key, button, input.row, input.column);
    if (input.key != 0) return input;
    if (button != 0) {
      input.click = true;
      return input;
    }
    platform::Console& console = platform::CurrentConsole();
    console.Flush();
    console.WaitForInput(kIdleWaitMs);
  }
}

class FieldEditor {
 public:
  FieldEditor(int16_t row, int16_t column, int16_t width, std::string& text,
              int16_t cursor)
      : text_(text),
        length_(static_cast<int>(text.size())),
        options_(ParseChoices(StoredChoiceList())) {
    origin_row_ = WindowFirstRow() - 1;
    origin_column_ = WindowFirstColumn() - 1;
    int cursor_row = 0, cursor_column = 0;
    platform::CurrentConsole().GetCursor(cursor_row, cursor_column);
    row_ = row != 0 ? row : cursor_row - origin_row_;
    column_ = column != 0 ? column : cursor_column - origin_column_;
    width_ = width > 0 ? width : length_ + 1;
    lines_ = std::max(1, (length_ + width_ - 1) / width_);
    cursor_ = std::clamp<int>(cursor, 1, length_ + 1);
  }
  FieldEditor(const FieldEditor&) = delete;
  FieldEditor& operator=(const FieldEditor&) = delete;

  int16_t row() const { return static_cast<int16_t>(row_); }
  int16_t column() const { return static_cast<int16_t>(column_); }
  int16_t width() const { return static_cast<int16_t>(width_); }
  int16_t cursor() const { return static_cast<int16_t>(cursor_); }

  KeyCode Run() {
    if (IsChoice()) SetUpChoice();
    SetColour("u");
    Draw();
    for (;;) {
      Input input = ShowCursorAndWait();
      KeyCode key = input.key;
      if (input.click) {
        // A click outside the field always ends the edit.
        if (HandleClick(input.row, input.column)) continue;
        Finish();
        return ClickCode(input.row, input.column);
      }
      if (key == key::kIns) {
        platform::Console& console = platform::CurrentConsole();
        console.SetInsertMode(!console.InsertMode());
        continue;
      } else if (!(IsChoice() ? HandleChoiceKey(key) : HandleTextKey(key))) {
        continue;
      }
      key = TranslateEndKey(key);
      if (!AcceptedKeysEmpty()) {
        KeyCode result = 0;
        if (LookUpAcceptedKey(key, result)) {
          key = result;
        } else {
          SetColour("u");
          Draw();
          continue;
        }
      }
      Finish();
      return key;
    }
  }

 private:
  bool IsChoice() const { return !options_.empty(); }

  void SetUpChoice() {
    const std::string current = TrimRightBlanks(text_);
    selected_ = 0;
    for (size_t i = 0; i < options_.size(); ++i) {
      if (TrimRightBlanks(options_[i].value) == current) {
        selected_ = static_cast<int>(i);
        break;
      }
    }
    for (const Option& option : options_) {
      widest_ = std::max(widest_, static_cast<int>(option.description.size()));
    }
    PutMarker(-1, static_cast<char>(kLeftMarker));
    PutMarker(widest_, static_cast<char>(kRightMarker));
  }

  // A marker beside a choice field, unless it would fall off the screen.
  void PutMarker(int offset, char marker) {
    const int screen_column = origin_column_ + column_ + offset;
    if (screen_column < 1 || screen_column > ScreenColumns()) return;
    Put(0, offset, std::string(1, marker));
  }

  void Put(int line, int offset, std::string_view text) {
    LocateInWindow(static_cast<int16_t>(row_ + line),
                   static_cast<int16_t>(column_ + offset));
    WriteText(text);
  }

  void Draw() {
    if (EchoMasked()) {
      for (int line = 0; line < lines_; ++line) {
        Put(line, 0, std::string(std::max(0, width_ - 1), kMaskCharacter));
      }
    } else if (IsChoice()) {
      text_ = FitText(options_[selected_].value, length_);
      Put(0, 0, FitText(options_[selected_].description, widest_));
    } else {
      for (int line = 0; line < lines_; ++line) {
        size_t start = static_cast<size_t>(line) * width_;
        if (start >= text_.size()) break;
        Put(line, 0, std::string_view(text_).substr(start, width_));
      }
    }
  }

  Input ShowCursorAndWait() {
    platform::Console& console = platform::CurrentConsole();
    if (!IsChoice()) {
      int line = (cursor_ - 1) / width_;
      int offset = (cursor_ - 1) % width_;
      if (cursor_ == length_ + 1 && length_ > 0 && offset == 0) {
        // After the last character of a full last line, not on the next.
        line = (length_ - 1) / width_;
        offset = width_;
      }
      LocateInWindow(static_cast<int16_t>(row_ + line),
                     static_cast<int16_t>(column_ + offset));
      console.SetCursorShape(console.InsertMode()
                                 ? platform::CursorShape::kFullBlock
                                 : platform::CursorShape::kHalfBlock);
      console.SetCursorVisible(true);
    } else {
      console.SetCursorVisible(false);
    }
    Input input = WaitInput();
    console.SetCursorVisible(false);
    return input;
  }

  // Returns true when the click was taken inside the field.
  bool HandleClick(int16_t screen_row, int16_t screen_column) {
    const int line = screen_row - origin_row_ - row_;
    const int offset = screen_column - origin_column_ - column_;
    if (IsChoice()) {
      if (line != 0) return false;
      if (offset == -1 || offset == widest_) {
        HandleChoiceKey(offset == -1 ? key::kLeft : key::kRight);
        return true;
      }
      return offset >= 0 && offset < widest_;
    }
    if (line < 0 || line >= lines_ || offset < 0 || offset >= width_) {
      return false;
    }
    cursor_ = std::min(line * width_ + offset + 1, length_ + 1);
    return true;
  }

  // Acts on a key in a choice field; returns true when the key ends the
  // edit.
  bool HandleChoiceKey(KeyCode key) {
    const int count = static_cast<int>(options_.size());
    if (IsPrintable(key, 33)) {
      SelectByInitial(static_cast<char>(key));
    } else if (key == key::kLeft) {
      selected_ = (selected_ + count - 1) % count;
    } else if (key == key::kRight || key == ' ') {
      selected_ = (selected_ + 1) % count;
    } else if (key == key::kHome) {
      cursor_ = 1;
    } else if (key == key::kEnd) {
      cursor_ = static_cast<int>(TrimRightBlanks(text_).size()) + 1;
    } else if (key == key::kCtrlC) {
      platform::CurrentConsole().SetClipboardText(
          options_[selected_].description);
    } else if (key == key::kBackspace || key == key::kDel ||
               key == key::kCtrlHome || key == key::kCtrlY ||
               key == key::kCtrlV) {
      // Nothing to delete or paste in a choice.
    } else {
      return true;
    }
    Draw();
    return false;
  }

  // The next option after the selected one (wrapping once) whose
  // description starts with the typed character, ignoring case and accents.
  void SelectByInitial(char typed) {
    const int count = static_cast<int>(options_.size());
    SetSearchFolding(true);
    const std::string wanted = FoldText(std::string(1, typed));
    for (int step = 1; step <= count; ++step) {
      int candidate = (selected_ + step) % count;
      const std::string& description = options_[candidate].description;
      if (!description.empty() &&
          FoldText(description.substr(0, 1)) == wanted) {
        selected_ = candidate;
        break;
      }
    }
    SetSearchFolding(false);
  }

  // Acts on a key in a free-text field; returns true when the key ends the
  // edit.
  bool HandleTextKey(KeyCode key) {
    bool redraw = false;
    if (IsPrintable(key, 32)) {
      TypeCharacter(static_cast<char>(key), redraw);
    } else if (key == key::kLeft) {
      cursor_ = std::max(1, cursor_ - 1);
    } else if (key == key::kRight) {
      cursor_ = std::min(length_ + 1, cursor_ + 1);
    } else if (key == key::kBackspace) {
      if (cursor_ > 1) {
        --cursor_;
        DeleteAt(cursor_);
        redraw = true;
      }
    } else if (key == key::kDel) {
      if (cursor_ <= length_) {
        DeleteAt(cursor_);
        redraw = true;
      }
    } else if (key == key::kHome) {
      cursor_ = 1;
    } else if (key == key::kEnd) {
      cursor_ = static_cast<int>(TrimRightBlanks(text_).size()) + 1;
    } else if (key == key::kCtrlHome || key == key::kCtrlY) {
      text_.assign(length_, ' ');
      cursor_ = 1;
      redraw = true;
    } else if (key == key::kUp || key == key::kShiftTab) {
      if (cursor_ <= width_) return true;
      cursor_ -= width_;
    } else if (key == key::kDown) {
      if (cursor_ > length_ + 1 - width_) return true;
      cursor_ += width_;
    } else if (key == key::kCtrlLeft) {
      if (cursor_ == 1) return true;
      WordLeft();
    } else if (key == key::kCtrlRight) {
      if (cursor_ > length_) return true;
      WordRight();
    } else if (key == key::kCtrlC) {
      platform::CurrentConsole().SetClipboardText(TrimBlanks(text_));
    } else if (key == key::kCtrlV) {
      Paste();
      redraw = true;
    } else {
      return true;
    }
    if (redraw) Draw();
    return false;
  }

  void TypeCharacter(char typed, bool& redraw) {
    if (cursor_ > length_) return;
    if (platform::CurrentConsole().InsertMode()) {
      if (text_.back() != ' ') return;  // a full text takes nothing more
      text_.insert(text_.begin() + (cursor_ - 1), typed);
      text_.pop_back();
      redraw = true;
    } else {
      text_[cursor_ - 1] = typed;
      if (!EchoMasked()) {
        Put((cursor_ - 1) / width_, (cursor_ - 1) % width_,
            std::string(1, typed));
      }
    }
    ++cursor_;
  }

  void DeleteAt(int position) {
    text_.erase(text_.begin() + (position - 1));
    text_.push_back(' ');
  }

  // To just right of the separator that precedes the word before the
  // cursor, or to 1.
  void WordLeft() {
    bool word = IsWordCharacter(text_[cursor_ - 2]);
    for (int i = cursor_ - 2; i >= 1; --i) {
      bool here = IsWordCharacter(text_[i - 1]);
      if (word && !here) {
        cursor_ = i + 1;
        return;
      }
      word = here;
    }
    cursor_ = 1;
  }

  // To the first character of the next word, or to L + 1.
  void WordRight() {
    bool word = IsWordCharacter(text_[cursor_ - 1]);
    for (int i = cursor_ + 1; i <= length_; ++i) {
      bool here = IsWordCharacter(text_[i - 1]);
      if (!word && here) {
        cursor_ = i;
        return;
      }
      word = here;
    }
    cursor_ = length_ + 1;
  }

  // The clipboard's text without control characters and outer blanks,
  // written over the text from the cursor on, never beyond its end.
  void Paste() {
    std::string pasted;
    for (char c : platform::CurrentConsole().ClipboardText()) {
      unsigned char byte = static_cast<unsigned char>(c);
      if (byte < 32 || byte == 127 || byte == 255) continue;
      pasted.push_back(c);
    }
    for (char c : TrimBlanks(pasted)) {
      if (cursor_ > length_) break;
      text_[cursor_ - 1] = c;
      ++cursor_;
    }
  }

  static KeyCode TranslateEndKey(KeyCode key) {
    KeyCode ignored = 0;
    if (key == key::kShiftTab) key = key::kUp;
    if (key == key::kTab) key = key::kEnter;
    if (key == key::kEnter && LookUpAcceptedKey(key::kEnd, ignored)) {
      key = key::kEnd;
    }
    if (key == key::kCtrlF4 || key == key::kAltF4) key = key::kEsc;
    return key;
  }

  void Finish() {
    SetColour("h");
    if (IsChoice()) {
      PutMarker(-1, ' ');
      PutMarker(widest_, ' ');
    }
    LocateInWindow(static_cast<int16_t>(row_), static_cast<int16_t>(column_));
    platform::CurrentConsole().SetCursorVisible(true);
  }

  std::string& text_;
  const int length_;
  const std::vector<Option> options_;
  int origin_row_ = 0;
  int origin_column_ = 0;
  int row_ = 0;
  int column_ = 0;
  int width_ = 1;
  int lines_ = 1;
  int cursor_ = 1;
  int selected_ = 0;
  int widest_ = 0;  // D: the widest description of a choice field
};

}  // namespace

void SetChoiceList(std::string_view list) { StoredChoiceList() = list; }

const std::string& ChoiceList() { return StoredChoiceList(); }

std::string ChoiceDescription(std::string_view list, std::string_view value) {
  const std::string wanted = TrimRightBlanks(value);
  for (const Option& option : ParseChoices(list)) {
    if (TrimRightBlanks(option.value) == wanted) return option.description;
  }
  return "";
}

void EditField(int16_t& row, int16_t& column, int16_t& width, std::string& text,
               int16_t& cursor, KeyCode& key) {
  FieldEditor editor(row, column, width, text, cursor);
  key = editor.Run();
  row = editor.row();
  column = editor.column();
  width = editor.width();
  cursor = editor.cursor();
}

bool IsClickCode(KeyCode key) { return key < 0 && key >= kLowestClickCode; }

void ClickPosition(KeyCode key, int16_t& row, int16_t& column) {
  const int code = -static_cast<int>(key);
  row = static_cast<int16_t>(code % 100);
  column = static_cast<int16_t>(code / 100);
}

KeyCode ClickCode(int16_t row, int16_t column) {
  return static_cast<KeyCode>(-(column * 100 + row));
}

void TEST_ResetFieldEditor() { StoredChoiceList().clear(); }

}  // namespace tarnevos
