#include "console/form_screen.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>

#include "console/field_editor.h"
#include "console/form_table.h"
#include "console/messages.h"
#include "console/windows.h"
#include "platform/console/console.h"
#include "settings/session.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

constexpr int kTitleCentreColumn = 41;
constexpr int kLastValueColumn = 999;
constexpr char kHelpKey[] = ",3b00";

LookupRunner& InstalledRunner() {
  static LookupRunner runner = nullptr;
  return runner;
}

FormCheck& InstalledCheck() {
  static FormCheck check = nullptr;
  return check;
}

bool FieldExists(int form, int field) {
  const FormTables& tables = Forms();
  return form >= 1 && form <= tables.form_count &&
         form < static_cast<int>(tables.forms.size()) && field >= 1 &&
         field <= Form(form).field_count &&
         field < static_cast<int>(Form(form).fields.size());
}

bool IsEditable(const FieldDef& def) {
  return (def.flags & field_flag::kReadOnly) == 0;
}

// The lowest and highest editable field numbers; 0 and 0 when none.
void FindEditableRange(int form, int& first, int& last) {
  first = 0;
  last = 0;
  for (int j = 1; j <= Form(form).field_count; ++j) {
    if (!IsEditable(Field(form, j))) continue;
    if (first == 0) first = j;
    last = j;
  }
}

// The value starts right after the label.
int16_t ValueColumn(const FieldDef& def) {
  return static_cast<int16_t>(std::min<size_t>(
      def.column + def.label.size(), static_cast<size_t>(kLastValueColumn)));
}

int LineCount(const FieldDef& def) {
  if (def.width <= 0) return 1;
  return std::max(1, (def.length + def.width - 1) / def.width);
}

// Writes `text` at the value's position, `width` characters per line when
// the field wraps, followed by the field's trailing blanks.
void WriteValueText(const FieldDef& def, std::string_view text) {
  const int16_t column = ValueColumn(def);
  if (def.width <= 0) {
    LocateInWindow(def.row, column);
    WriteText(std::string(text) + std::string(def.trailing_blanks, ' '));
    return;
  }
  const int lines = LineCount(def);
  for (int line = 0; line < lines; ++line) {
    LocateInWindow(static_cast<int16_t>(def.row + line), column);
    std::string piece(text.substr(
        std::min<size_t>(text.size(), static_cast<size_t>(line) * def.width),
        def.width));
    if (line == lines - 1) piece.append(def.trailing_blanks, ' ');
    WriteText(piece);
  }
}

// Wipes what a longer display of the value left behind it.
void WriteTrailingBlanks(const FieldDef& def) {
  if (def.width <= 0 || def.length == 0) {
    LocateInWindow(def.row,
                   static_cast<int16_t>(ValueColumn(def) + def.length));
  } else {
    LocateInWindow(static_cast<int16_t>(def.row + (def.length - 1) / def.width),
                   static_cast<int16_t>(ValueColumn(def) +
                                        (def.length - 1) % def.width + 1));
  }
  WriteText(std::string(def.trailing_blanks, ' '));
}

bool ClosesParentToo(KeyCode key) {
  constexpr std::array<KeyCode, 7> kKeys = {
      key::kPgUp,  key::kPgDn, key::kEnd, key::kCtrlB,
      key::kEnter, key::kDown, key::kUp};
  return std::find(kKeys.begin(), kKeys.end(), key) != kKeys.end();
}

// One run of a form's field loop.
class FormRun {
 public:
  FormRun(int form, bool top) : form_(form), top_(top) {
    key_list_ = Form(form).key_list + kHelpKey;
    next_form_ = Form(form).next_form;
  }
  FormRun(const FormRun&) = delete;
  FormRun& operator=(const FormRun&) = delete;

  bool HasEditableFields() {
    FindEditableRange(form_, first_, last_);
    return first_ != 0;
  }

  // Edits the fields from the first editable one until a key closes the
  // form; returns that key.
  KeyCode Run(KeyCode key) {
    FindEditableRange(form_, first_, last_);
    int field = first_;
    while (first_ != 0 && field >= first_ && field <= last_) {
      key = Visit(field, key);
      switch (key) {
        case key::kPgUp:
          field = first_;
          break;
        case key::kPgDn:
          field = last_;
          break;
        case key::kEnd:
        case key::kCtrlB:
          return key;
        case key::kEsc:
          if (field == first_) return key;
          field = first_;
          break;
        case key::kEnter:
        case key::kDown:
        case key::kF2:
          if (next_form_ != 0 && (field == last_ || key == key::kF2)) {
            int16_t continuation = static_cast<int16_t>(-next_form_);
            KeyCode closing = key;
            FormScreen(continuation, closing);
            if (ClosesParentToo(closing)) return closing;
          } else if (key == key::kDown) {
            if (field != last_) ++field;
          } else if (key == key::kEnter) {
            if (field == last_) return key;
            ++field;
          }
          break;
        case key::kUp:
          if (field == first_) {
            if (!top_) return key::kEsc;
          } else {
            --field;
          }
          break;
        case 0:
          break;
        default:
          if (!IsClickCode(key)) return key;
          field = ClickedField(key, field);
          break;
      }
    }
    return key;
  }

 private:
  // One visit of a field: returns the key that left it. A read-only field
  // is passed with the key that led to it, so the movement carries on.
  KeyCode Visit(int field, KeyCode key) {
    const FieldDef def = Field(form_, field);
    const bool secret = (def.flags & field_flag::kSecret) != 0;
    const bool starts_blank =
        (def.flags & (field_flag::kBlankOnVisit | field_flag::kSecret)) != 0;
    SetAcceptedKeys("+ea", key_list_);
    std::string working =
        starts_blank ? std::string(def.length, ' ') : def.value;
    if (secret) SetAcceptedKeys("h", "");
    if (IsEditable(def)) {
      if (def.trailing_blanks > 0) WriteTrailingBlanks(def);
      key = Edit(field, def, working);
    }
    if (secret) SetAcceptedKeys("v", "");
    SetAcceptedKeys("-", "");
    return key;
  }

  // Edits until the value is accepted (or the key needs no value).
  KeyCode Edit(int field, const FieldDef& def, std::string& working) {
    const bool starts_blank =
        (def.flags & (field_flag::kBlankOnVisit | field_flag::kSecret)) != 0;
    for (;;) {
      SetChoiceList(def.choices);
      int16_t row = def.row;
      int16_t column = ValueColumn(def);
      int16_t width = def.width;
      int16_t cursor = 1;
      if (def.flags & field_flag::kCursorAtEnd) {
        cursor = static_cast<int16_t>(TrimRightBlanks(working).size() + 1);
      }
      KeyCode key = 0;
      EditField(row, column, width, working, cursor, key);
      int16_t error = 0;
      if (key == key::kF1) {
        ShowHelp(TrimRightBlanks(Session().menu_name));
        key = 0;
      } else if (key == key::kF4) {
        key = RunLookup(field, def.lookup);
      } else {
        if (def.trailing_blanks > 0) {
          const bool secret = (def.flags & field_flag::kSecret) != 0;
          WriteValueText(def, secret ? std::string(def.length, ' ') : working);
        }
        if (key != key::kEsc) {
          // A field that starts blank keeps its value when left blank.
          if (starts_blank && IsAllChar(working, ' ')) {
            working = Field(form_, field).value;
          }
          error = AcceptFieldValue(static_cast<int16_t>(form_), working,
                                   static_cast<int16_t>(field), key);
        } else {
          ShowFieldValue(static_cast<int16_t>(form_),
                         static_cast<int16_t>(field));
        }
      }
      FindEditableRange(form_, first_, last_);
      if (error == 0) return key;
      platform::CurrentConsole().Beep();
    }
  }

  // F4: a chosen record moves on, as Enter would on the form's last field.
  KeyCode RunLookup(int field, int16_t lookup) {
    LookupRunner runner = InstalledRunner();
    if (lookup == 0 || runner == nullptr) return 0;
    if (runner(lookup, static_cast<int16_t>(form_),
               static_cast<int16_t>(field)) != 0) {
      return 0;
    }
    return (field == last_ && next_form_ == 0) ? key::kEnter : key::kDown;
  }

  // The editable field whose area holds the click; `current` when none.
  int ClickedField(KeyCode click, int current) const {
    int16_t screen_row = 0;
    int16_t screen_column = 0;
    ClickPosition(click, screen_row, screen_column);
    const int row = screen_row - (WindowFirstRow() - 1);
    const int column = screen_column - (WindowFirstColumn() - 1);
    for (int j = 1; j <= Form(form_).field_count; ++j) {
      const FieldDef& def = Field(form_, j);
      if (!IsEditable(def)) continue;
      const int shown = def.width > 0 ? def.width : def.length;
      const int right = def.column + static_cast<int>(def.label.size()) +
                        shown + def.trailing_blanks - 1;
      if (row >= def.row && row < def.row + LineCount(def) &&
          column >= def.column && column <= right) {
        return j;
      }
    }
    return current;
  }

  const int form_;
  const bool top_;
  std::string key_list_;
  int16_t next_form_ = 0;
  int first_ = 0;
  int last_ = 0;
};

}  // namespace

void FormScreen(int16_t& form, KeyCode& key) {
  const bool top = form >= 0;
  const int number = std::abs(static_cast<int>(form));
  const std::array<int16_t, 5> window = Form(number).window;

  // A window that could not be pushed (off the screen) must not be popped,
  // or the pop would take away the window beneath.
  bool pushed = false;
  if (window[1] != 0) {
    SetColour("+n");
    const int16_t depth = WindowDepth();
    PushWindow(window[1], window[2], window[3], window[4]);
    pushed = WindowDepth() > depth;
    if (pushed) DrawWindowFrame(2);
    SetColour("-");
  }
  DrawForm(static_cast<int16_t>(number));

  FormRun run(number, top);
  for (;;) {
    const bool editable = run.HasEditableFields();
    if (editable) key = run.Run(key);
    // Without editable fields nothing could change the outcome of a
    // second check.
    if (CheckForm(static_cast<int16_t>(number), key) == 0 || !editable) break;
  }
  if (pushed) PopWindow();
}

void DrawForm(int16_t form) {
  SetColour("rh");
  const std::string& title = Session().menu_title;
  const long double half = static_cast<long double>(title.size()) / 2;
  const int start = std::max<int>(
      1, kTitleCentreColumn - static_cast<int>(RoundHalfEven(half)));
  platform::CurrentConsole().SetCursor(1, start);
  WriteText(title);

  const int count = Form(form).field_count;
  SetColour("n");
  for (int j = 1; j <= count; ++j) {
    const FieldDef& def = Field(form, j);
    LocateInWindow(def.row, def.column);
    WriteText(def.label);
  }
  SetColour("h");
  for (int j = 1; j <= count; ++j) {
    ShowFieldValue(form, static_cast<int16_t>(j));
  }
}

void ShowFieldValue(int16_t form, int16_t field) {
  if (!FieldExists(form, field)) return;
  const FieldDef& def = Field(form, field);
  LocateInWindow(def.row, ValueColumn(def));
  if (def.flags & field_flag::kSecret) return;
  if (def.type == field_type::kDate) {
    WriteText(FormatDate(ParseDateEntry(def.value), 0, "dma"));
  } else if (def.type == field_type::kNumberOrP) {
    const double number = NumericValue(def.value);
    WriteText(number != 0 ? FormatByMask("ZZ9", number) : "P  ");
  } else if (!def.choices.empty()) {
    WriteText(FitText(ChoiceDescription(def.choices, def.value),
                      def.length + def.trailing_blanks));
  } else if (def.width > 0) {
    int row = 0;
    int column = 0;
    platform::CurrentConsole().GetCursor(row, column);
    const int lines = LineCount(def);
    for (int line = 0; line < lines; ++line) {
      const size_t start = static_cast<size_t>(line) * def.width;
      if (start >= def.value.size()) break;
      LocateInWindow(static_cast<int16_t>(def.row + line), ValueColumn(def));
      WriteText(def.value.substr(start, def.width));
    }
    platform::CurrentConsole().SetCursor(row, column);
  } else {
    WriteText(def.value);
  }
}

int16_t AcceptFieldValue(int16_t form, std::string_view text, int16_t field,
                         KeyCode /*key*/) {
  FieldDef* const found =
      FieldExists(form, field) ? FindField(form, field) : nullptr;
  if (found == nullptr) return 1;
  FieldDef& def = *found;
  std::string value(text);
  bool refused = false;
  switch (def.type) {
    case field_type::kDate:
      if (IsAllChar(value, ' ')) {
        value = DateToEntryText(Session().work_date);
      }
      refused = IsInvalidDateEntry(value);
      break;
    case field_type::kNumber:
      refused = IsInvalidNumberEntry(value, "");
      break;
    case field_type::kNumberOrP:
      refused = UpperAscii(TrimBlanks(value)) != "P" &&
                IsInvalidNumberEntry(value, "");
      break;
    default:
      break;
  }
  if (refused) return 1;
  def.value = FitText(value, def.length);
  // Values are shown highlighted, also when a lookup list stores one.
  SetColour("h");
  ShowFieldValue(form, field);
  return 0;
}

int16_t CheckForm(int16_t form, KeyCode key) {
  return InstalledCheck() != nullptr ? InstalledCheck()(form, key) : 0;
}

void SetFormCheck(FormCheck check) { InstalledCheck() = check; }

void SetLookupRunner(LookupRunner runner) { InstalledRunner() = runner; }

void TEST_ResetFormScreen() {
  InstalledRunner() = nullptr;
  InstalledCheck() = nullptr;
}

}  // namespace tarnevos
