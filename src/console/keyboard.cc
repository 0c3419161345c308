#include "console/keyboard.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <utility>
#include <vector>

#include "console/windows.h"
#include "platform/console/console.h"
#include "settings/session.h"

namespace tarnevos {
namespace {

using platform::InputEvent;

enum class MouseState { kNotSetUp, kNoMouse, kEnabled, kDisabledUntilNextRead };

struct KeyTable {
  std::vector<KeyCode> keys;
  std::vector<KeyCode> results;
};

// Saved tables beyond this depth are not kept: a "+" at the limit leaves
// the saved copies as they are, as a single save area would.
constexpr size_t kMaxSavedTables = 64;

struct KeyboardState {
  KeyTable accepted;
  std::vector<KeyTable> saved;
  bool echo_masked = false;
  std::string type_ahead;
  std::string attribute_stack;
  int current_attribute = 0;
  MouseState mouse = MouseState::kNotSetUp;
  // An event read while composing an Alt+keypad character that was not
  // part of it; it is delivered by the next read.
  std::optional<InputEvent> held_event;
  HotKeyScreen calculator = nullptr;
  HotKeyScreen calendar = nullptr;
  bool calculator_running = false;
  bool calendar_running = false;
};

KeyboardState& State() {
  static KeyboardState state;
  return state;
}

platform::Console& Con() { return platform::CurrentConsole(); }

constexpr KeyCode Code(int bits) {
  return static_cast<KeyCode>(static_cast<uint16_t>(bits));
}
constexpr int Bits(KeyCode code) { return static_cast<uint16_t>(code); }

// Keypad keys in their navigation form and the digit each stands for while
// the left Alt key is held.
constexpr std::array<std::pair<int, int>, 10> kKeypadDigits = {{
    {0x5200, 0},
    {0x4F00, 1},
    {0x5000, 2},
    {0x5100, 3},
    {0x4B00, 4},
    {0x4C00, 5},
    {0x4D00, 6},
    {0x4700, 7},
    {0x4800, 8},
    {0x4900, 9},
}};

int KeypadDigit(const InputEvent& event) {
  if (event.kind != InputEvent::Kind::kKey || !event.extended ||
      !event.modifiers.left_alt) {
    return -1;
  }
  for (const auto& [code, digit] : kKeypadDigits) {
    if (event.key == code) return digit;
  }
  return -1;
}

// The terminal reports no release of the Alt key, so a composed character
// is complete when another event arrives or when no key follows for this
// long.
constexpr auto kKeypadPause = std::chrono::milliseconds(2000);
constexpr int kKeypadWaitSlice = 100;
constexpr int kKeypadMaxEmptyWaits = 200;

InputEvent NextEvent() {
  KeyboardState& state = State();
  if (state.held_event) {
    InputEvent event = *state.held_event;
    state.held_event.reset();
    return event;
  }
  return Con().PollEvent();
}

// Collects Alt+keypad digits starting with `event`; returns the event to
// act on (the composed character when digits were typed).
InputEvent ComposeKeypadCharacter(InputEvent event) {
  int digit = KeypadDigit(event);
  if (digit < 0) return event;
  int value = 0;
  auto last_key = std::chrono::steady_clock::now();
  int empty_waits = 0;
  while (true) {
    if (digit >= 0) {
      value = (value * 10 + digit) % 256;
      last_key = std::chrono::steady_clock::now();
      empty_waits = 0;
    }
    InputEvent next = Con().PollEvent();
    if (next.kind == InputEvent::Kind::kNone) {
      if (std::chrono::steady_clock::now() - last_key >= kKeypadPause ||
          ++empty_waits > kKeypadMaxEmptyWaits) {
        break;
      }
      Con().WaitForInput(kKeypadWaitSlice);
      digit = -1;
      continue;
    }
    digit = KeypadDigit(next);
    if (digit < 0) {
      State().held_event = next;
      break;
    }
  }
  InputEvent composed;
  composed.kind = InputEvent::Kind::kKey;
  composed.key = value;
  return composed;
}

// Modified function and cursor keys, derived from the unmodified code.
int AdjustForModifiers(int code, const platform::Modifiers& modifiers) {
  const bool f1_to_f10 = code >= 0x3B00 && code <= 0x4400;
  const bool f11_f12 = code == 0x8500 || code == 0x8600;
  if (modifiers.alt) {
    if (f1_to_f10) return code + 0x2D00;
    if (f11_f12) return code + 0x600;
  } else if (modifiers.ctrl) {
    if (f1_to_f10) return code + 0x2300;
    if (f11_f12) return code + 0x400;
    if (code == 0x4700) return 0x7700;
    if (code == 0x4D00) return 0x7400;
    if (code == 0x4B00) return 0x7300;
  } else if (modifiers.shift) {
    if (f1_to_f10) return code + 0x1900;
    if (f11_f12) return code + 0x200;
  }
  return code;
}

// Runs a hot-key screen unless it is already running; its result is typed
// next.
void RunHotKeyScreen(HotKeyScreen screen, bool& running) {
  if (screen == nullptr || running) return;
  running = true;
  std::string result = screen();
  running = false;
  State().type_ahead = std::move(result);
}

// Parses a hexadecimal key code; nullopt for anything else. Longer values
// keep their low 16 bits.
std::optional<KeyCode> ParseHexKey(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = ((value << 4) | static_cast<unsigned>(digit)) & 0xFFFFu;
  }
  return Code(static_cast<int>(value));
}

template <typename Fn>
void ForEachItem(std::string_view list, Fn fn) {
  while (true) {
    const size_t comma = list.find(',');
    fn(list.substr(0, comma));
    if (comma == std::string_view::npos) return;
    list.remove_prefix(comma + 1);
  }
}

void AddKeys(std::string_view list) {
  KeyTable& table = State().accepted;
  ForEachItem(list, [&table](std::string_view item) {
    const size_t equals = item.find('=');
    std::optional<KeyCode> key = ParseHexKey(item.substr(0, equals));
    std::optional<KeyCode> result = equals == std::string_view::npos
                                        ? key
                                        : ParseHexKey(item.substr(equals + 1));
    if (!key || !result) return;  // not a key code: nothing to add
    table.keys.push_back(*key);
    table.results.push_back(*result);
  });
}

void DeleteKeys(std::string_view list) {
  KeyTable& table = State().accepted;
  ForEachItem(list, [&table](std::string_view item) {
    std::optional<KeyCode> key = ParseHexKey(item);
    if (!key) return;
    auto found = std::find(table.keys.begin(), table.keys.end(), *key);
    if (found == table.keys.end()) return;
    const auto index = found - table.keys.begin();
    table.keys.erase(found);
    table.results.erase(table.results.begin() + index);
  });
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

bool Holds(std::string_view letters, char wanted) {
  return std::any_of(letters.begin(), letters.end(),
                     [wanted](char c) { return Upper(c) == wanted; });
}

}  // namespace

void ReadKey(KeyCode& key, int16_t& button, int16_t& row, int16_t& column) {
  KeyboardState& state = State();
  key = 0;
  button = 0;
  row = 0;
  column = 0;
  if (!state.type_ahead.empty()) {
    key = static_cast<KeyCode>(static_cast<unsigned char>(state.type_ahead[0]));
    state.type_ahead.erase(0, 1);
    return;
  }

  if (state.mouse == MouseState::kNotSetUp) {
    state.mouse = Con().HasMouse() ? MouseState::kDisabledUntilNextRead
                                   : MouseState::kNoMouse;
  }
  if (state.mouse == MouseState::kDisabledUntilNextRead) {
    Con().EnableMouse(true);
    state.mouse = MouseState::kEnabled;
  }

  Con().Flush();
  InputEvent event = ComposeKeypadCharacter(NextEvent());

  bool pasted = false;
  if (event.kind == InputEvent::Kind::kKey) {
    pasted = event.pasted;
    int code = event.extended ? (event.key & 0xFFFF) : (event.key & 0xFF);
    // Pasted text is typed, never obeyed: a line end or other control
    // character inside a paste must not end or move the field.
    if (pasted && !event.extended && code < 32) code = 0;
    if (event.extended) {
      if (code == Bits(key::kAltE)) {
        code = 213;  // the euro sign
      } else {
        code = AdjustForModifiers(code, event.modifiers);
      }
    }
    key = Code(code);
  } else if (event.kind == InputEvent::Kind::kMouse &&
             state.mouse == MouseState::kEnabled) {
    button = static_cast<int16_t>(event.button);
    row = static_cast<int16_t>(event.row);
    column = static_cast<int16_t>(event.column);
  }

  if (!pasted) {
    if (key == key::kAltX) {
      RunHotKeyScreen(state.calculator, state.calculator_running);
    } else if (key == key::kAltC) {
      RunHotKeyScreen(state.calendar, state.calendar_running);
    }
  }

  if (state.mouse == MouseState::kEnabled && (key != 0 || button != 0)) {
    Con().EnableMouse(false);
    state.mouse = MouseState::kDisabledUntilNextRead;
  }
}

KeyCode WaitKey() {
  // Short enough that a key shows at once, long enough not to spin.
  constexpr int kPollPause = 50;
  while (true) {
    KeyCode key = 0;
    int16_t button = 0;
    int16_t row = 0;
    int16_t column = 0;
    ReadKey(key, button, row, column);
    if (key != 0) return key;
    if (button != 0) {
      return Code(column * 256 + button * 64 + row);
    }
    Con().WaitForInput(kPollPause);
  }
}

KeyCode WaitRawKey() {
  constexpr int kPollPause = 50;
  while (true) {
    Con().Flush();
    InputEvent event = NextEvent();
    if (event.kind == InputEvent::Kind::kKey) {
      const int code =
          event.extended ? (event.key & 0xFFFF) : (event.key & 0xFF);
      if (code != 0) return Code(code);
    } else if (event.kind == InputEvent::Kind::kNone) {
      Con().WaitForInput(kPollPause);
    }
  }
}

void SetAcceptedKeys(std::string_view mode, std::string_view list) {
  KeyboardState& state = State();
  for (char letter : mode) {
    switch (Upper(letter)) {
      case 'E':
        state.accepted = KeyTable{};
        break;
      case 'A':
        AddKeys(list);
        break;
      case 'D':
        DeleteKeys(list);
        break;
      case '+':
        if (state.saved.size() < kMaxSavedTables) {
          state.saved.push_back(state.accepted);
        }
        break;
      case '-':
        if (!state.saved.empty()) {
          state.accepted = std::move(state.saved.back());
          state.saved.pop_back();
        }
        break;
      case 'H':
        state.echo_masked = true;
        break;
      case 'V':
        state.echo_masked = false;
        break;
      default:
        break;
    }
  }
}

bool LookUpAcceptedKey(KeyCode key, KeyCode& result) {
  const KeyTable& table = State().accepted;
  auto found = std::find(table.keys.begin(), table.keys.end(), key);
  if (found == table.keys.end()) return false;
  result = table.results[static_cast<size_t>(found - table.keys.begin())];
  return true;
}

bool AcceptedKeysEmpty() { return State().accepted.keys.empty(); }

bool EchoMasked() { return State().echo_masked; }

void SetTypeAhead(std::string_view text) { State().type_ahead.assign(text); }

const std::string& TypeAhead() { return State().type_ahead; }

void SetColour(std::string_view letters) {
  if (std::all_of(letters.begin(), letters.end(),
                  [](char c) { return c == ' '; })) {
    return;  // empty or blank: nothing changes
  }
  KeyboardState& state = State();
  if (Holds(letters, '+')) {
    state.attribute_stack.push_back(static_cast<char>(state.current_attribute));
  }
  int index;
  if (Holds(letters, '-')) {
    if (state.attribute_stack.empty()) {
      index = 0;
    } else {
      index = state.attribute_stack.back();
      state.attribute_stack.pop_back();
    }
  } else if (Holds(letters, 'U')) {
    index = 4;
  } else {
    index = (Holds(letters, 'R') ? 2 : 0) + (Holds(letters, 'N') ? 1 : 0);
  }
  const auto& colours = Session().screen_colours[static_cast<size_t>(index)];
  SetTextColour(colours[0], colours[1]);
  state.current_attribute = index;
}

int CurrentAttribute() { return State().current_attribute; }

void SetCalculatorScreen(HotKeyScreen screen) { State().calculator = screen; }
void SetCalendarScreen(HotKeyScreen screen) { State().calendar = screen; }

void TEST_ResetKeyboard() { State() = KeyboardState{}; }

}  // namespace tarnevos
