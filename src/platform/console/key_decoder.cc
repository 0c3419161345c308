#include "platform/console/key_decoder.h"

#include <array>
#include <optional>
#include <vector>

#include "util/codepage.h"

namespace tarnevos::platform {
namespace {

constexpr unsigned char kEscByte = 0x1B;
constexpr int kEscKey = 27;
constexpr int kEnterKey = 13;
constexpr int kBackspaceKey = 8;

// Scan codes x 256 of the extended keys.
constexpr int kF1 = 0x3B00;
constexpr int kF11 = 0x8500;
constexpr int kF12 = 0x8600;
constexpr int kHome = 0x4700;
constexpr int kUp = 0x4800;
constexpr int kPgUp = 0x4900;
constexpr int kLeft = 0x4B00;
constexpr int kCentre = 0x4C00;
constexpr int kRight = 0x4D00;
constexpr int kEnd = 0x4F00;
constexpr int kDown = 0x5000;
constexpr int kPgDn = 0x5100;
constexpr int kIns = 0x5200;
constexpr int kDel = 0x5300;
constexpr int kShiftTab = 0x0F00;

constexpr int FunctionKey(int n) {
  return n <= 10 ? kF1 + (n - 1) * 0x100 : (n == 11 ? kF11 : kF12);
}

// Scan codes of the letter keys a..z (PC keyboard), for Alt+letter.
constexpr std::array<unsigned char, 26> kLetterScanCodes = {
    0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17,
    0x24, 0x25, 0x26, 0x32, 0x31, 0x18, 0x19, 0x10, 0x13,
    0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};

// A key known by number in "CSI n ~": the editing keys, F1..F12 (xterm,
// rxvt and the Linux console) and rxvt's shifted F3..F10.
struct TildeKey {
  int number;
  int key;
  bool shift;
};
constexpr std::array<TildeKey, 28> kTildeKeys = {{
    {1, kHome, false},
    {2, kIns, false},
    {3, kDel, false},
    {4, kEnd, false},
    {5, kPgUp, false},
    {6, kPgDn, false},
    {7, kHome, false},
    {8, kEnd, false},
    {11, FunctionKey(1), false},
    {12, FunctionKey(2), false},
    {13, FunctionKey(3), false},
    {14, FunctionKey(4), false},
    {15, FunctionKey(5), false},
    {17, FunctionKey(6), false},
    {18, FunctionKey(7), false},
    {19, FunctionKey(8), false},
    {20, FunctionKey(9), false},
    {21, FunctionKey(10), false},
    {23, kF11, false},
    {24, kF12, false},
    {25, FunctionKey(3), true},
    {26, FunctionKey(4), true},
    {28, FunctionKey(5), true},
    {29, FunctionKey(6), true},
    {31, FunctionKey(7), true},
    {32, FunctionKey(8), true},
    {33, FunctionKey(9), true},
    {34, FunctionKey(10), true},
}};

// Keys named by the final letter of "CSI 1;m X" and "ESC O X".
struct LetterKey {
  char final_byte;
  int key;
};
constexpr std::array<LetterKey, 12> kLetterKeys = {{
    {'A', kUp},
    {'B', kDown},
    {'C', kRight},
    {'D', kLeft},
    {'H', kHome},
    {'F', kEnd},
    {'E', kCentre},
    {'G', kCentre},  // the Linux console's keypad 5
    {'P', FunctionKey(1)},
    {'Q', FunctionKey(2)},
    {'R', FunctionKey(3)},
    {'S', FunctionKey(4)},
}};

// The keypad in application mode, "ESC O x": the digit keys in their
// navigation form (as with Num Lock off) and the other keypad keys as the
// characters they carry.
struct KeypadKey {
  char final_byte;
  int key;
  bool extended;
};
constexpr std::array<KeypadKey, 17> kKeypadKeys = {{
    {'p', kIns, true},
    {'q', kEnd, true},
    {'r', kDown, true},
    {'s', kPgDn, true},
    {'t', kLeft, true},
    {'u', kCentre, true},
    {'v', kRight, true},
    {'w', kHome, true},
    {'x', kUp, true},
    {'y', kPgUp, true},
    {'n', kDel, true},
    {'M', kEnterKey, false},
    {'j', '*', false},
    {'k', '+', false},
    {'m', '-', false},
    {'o', '/', false},
    {'X', '=', false},
}};

// Arrow keys sent by rxvt with a modifier as a lower-case final letter:
// Shift after "CSI", Ctrl after "ESC O".
int RxvtArrow(char final_byte) {
  switch (final_byte) {
    case 'a':
      return kUp;
    case 'b':
      return kDown;
    case 'c':
      return kRight;
    case 'd':
      return kLeft;
    default:
      return 0;
  }
}

// Longest parameter text kept; longer sequences are dropped whole.
constexpr size_t kMaxSequence = 32;
// Parameter values above this are not keys or cells of any terminal.
constexpr int kMaxParameter = 9999;

// Splits "n;n;n" into numbers (an empty field is -1). nullopt for any
// other character or a number out of range.
std::optional<std::vector<int>> ParseParameters(std::string_view text) {
  std::vector<int> values;
  if (text.empty()) return values;
  int current = -1;
  for (char c : text) {
    if (c == ';') {
      values.push_back(current);
      current = -1;
    } else if (c >= '0' && c <= '9') {
      current = (current < 0 ? 0 : current) * 10 + (c - '0');
      if (current > kMaxParameter) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  values.push_back(current);
  return values;
}

// xterm's modifier parameter: 1 + (1 Shift, 2 Alt, 4 Ctrl, 8 Meta).
// nullopt for a value no terminal sends.
std::optional<Modifiers> DecodeModifier(int parameter) {
  Modifiers modifiers;
  if (parameter < 0) return modifiers;  // absent
  if (parameter < 1 || parameter > 16) return std::nullopt;
  int bits = parameter - 1;
  modifiers.shift = (bits & 1) != 0;
  modifiers.alt = (bits & (2 | 8)) != 0;
  modifiers.ctrl = (bits & 4) != 0;
  return modifiers;
}

// Modifier of a key sent as "X", "1;mX" or (older terminals) "mX".
std::optional<Modifiers> LetterModifier(const std::vector<int>& params) {
  if (params.empty()) return Modifiers{};
  if (params.size() == 1) {
    return params[0] <= 1 ? std::optional<Modifiers>(Modifiers{})
                          : DecodeModifier(params[0]);
  }
  if (params.size() == 2 && params[0] <= 1) return DecodeModifier(params[1]);
  return std::nullopt;
}

bool IsLetter(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
}

}  // namespace

void KeyDecoder::Feed(std::string_view bytes) {
  for (char c : bytes) Consume(static_cast<unsigned char>(c));
}

bool KeyDecoder::Pending() const { return state_ != State::kGround; }

bool KeyDecoder::Next(InputEvent& event) {
  if (events_.empty()) return false;
  event = events_.front();
  events_.pop_front();
  return true;
}

void KeyDecoder::Reset() {
  state_ = State::kGround;
  sequence_.clear();
  sequence_overflow_ = false;
  alt_prefix_ = false;
  utf8_length_ = 0;
  utf8_expected_ = 0;
  in_paste_ = false;
  paste_after_cr_ = false;
  events_.clear();
}

void KeyDecoder::Flush() {
  switch (state_) {
    case State::kEscape:
      Character(kEscKey);
      break;
    case State::kEscapeEscape:
      Character(kEscKey);
      Character(kEscKey);
      break;
    case State::kSs3:
      // "ESC O" and nothing after it is Alt+Shift+O typed by a person.
      if (sequence_.empty()) {
        if (alt_prefix_) Character(kEscKey);
        Extended(kLetterScanCodes['o' - 'a'] << 8,
                 Modifiers{.shift = true, .alt = true});
      }
      break;
    default:
      break;  // a cut sequence or character: dropped
  }
  state_ = State::kGround;
  sequence_.clear();
  sequence_overflow_ = false;
  alt_prefix_ = false;
  utf8_length_ = 0;
}

void KeyDecoder::Consume(unsigned char byte) {
  switch (state_) {
    case State::kGround:
      if (in_paste_) {
        Paste(byte);
      } else {
        Ground(byte);
      }
      break;
    case State::kEscape:
      Escape(byte);
      break;
    case State::kEscapeEscape:
      if (byte == '[' || byte == 'O') {
        alt_prefix_ = true;
        sequence_.clear();
        sequence_overflow_ = false;
        state_ = byte == '[' ? State::kCsi : State::kSs3;
      } else {
        // Esc pressed, then an Esc or Alt+key of its own.
        Character(kEscKey);
        state_ = State::kEscape;
        Escape(byte);
      }
      break;
    case State::kCsi:
      CollectCsi(byte);
      break;
    case State::kLinuxFunction:
      if (byte >= 'A' && byte <= 'E') {
        Extended(FunctionKey(byte - 'A' + 1), Modifiers{});
        state_ = State::kGround;
      } else if (byte >= 0x20 && byte < 0x7F) {
        state_ = State::kGround;  // unknown: dropped with its last byte
      } else {
        Abandon(byte);
      }
      break;
    case State::kSs3:
      CollectSs3(byte);
      break;
    case State::kClassicMouse:
      sequence_.push_back(static_cast<char>(byte));
      if (sequence_.size() == 3) FinishClassicMouse();
      break;
    case State::kUtf8:
      CollectUtf8(byte);
      break;
    case State::kPasteEscape:
      FinishPasteMarker(byte);
      break;
  }
}

void KeyDecoder::Ground(unsigned char byte) {
  if (byte == kEscByte) {
    state_ = State::kEscape;
  } else if (byte == '\r' || byte == '\n') {
    Character(kEnterKey);
  } else if (byte == 0x7F || byte == 0x08) {
    Character(kBackspaceKey);
  } else if (byte == 0) {
    // Ctrl+Space: code 0 would read as "no key".
  } else if (byte < 0x80) {
    Character(byte);  // control codes (Ctrl+C 3, Ctrl+V 22, Tab 9) as well
  } else {
    StartUtf8(byte);
  }
}

void KeyDecoder::Paste(unsigned char byte) {
  const bool after_cr = paste_after_cr_;
  paste_after_cr_ = false;
  if (byte == kEscByte) {
    state_ = State::kPasteEscape;
    sequence_.clear();
  } else if (byte == '\r') {
    Character(kEnterKey);
    paste_after_cr_ = true;
  } else if (byte == '\n') {
    if (!after_cr) Character(kEnterKey);  // CR LF is one line end
  } else if (byte == '\t') {
    Character(' ');
  } else if (byte < 0x20 || byte == 0x7F) {
    // Other control codes in pasted text would act as commands: dropped.
  } else if (byte < 0x80) {
    Character(byte);
  } else {
    StartUtf8(byte);
  }
}

void KeyDecoder::Escape(unsigned char byte) {
  state_ = State::kGround;
  sequence_.clear();
  sequence_overflow_ = false;
  alt_prefix_ = false;
  if (byte == '[') {
    state_ = State::kCsi;
  } else if (byte == 'O') {
    state_ = State::kSs3;
  } else if (byte == kEscByte) {
    state_ = State::kEscapeEscape;
  } else if (IsLetter(byte)) {
    const bool upper = byte <= 'Z';
    const int index = upper ? byte - 'A' : byte - 'a';
    Extended(kLetterScanCodes[static_cast<size_t>(index)] << 8,
             Modifiers{.shift = upper, .alt = true});
  }
  // Alt with any other key has no code here: both bytes are dropped (the
  // continuation bytes of a character then fall out as invalid).
}

void KeyDecoder::CollectCsi(unsigned char byte) {
  if (sequence_.empty() && byte == '[' && !alt_prefix_) {
    state_ = State::kLinuxFunction;
    return;
  }
  // rxvt ends shifted editing keys with '$', which is an intermediate byte
  // elsewhere; after plain digits it is the final byte.
  const bool rxvt_shift =
      byte == '$' && !sequence_.empty() &&
      sequence_.find_first_not_of("0123456789") == std::string::npos;
  if (byte >= 0x20 && byte <= 0x3F && !rxvt_shift) {
    if (sequence_.size() < kMaxSequence) {
      sequence_.push_back(static_cast<char>(byte));
    } else {
      sequence_overflow_ = true;
    }
  } else if ((byte >= 0x40 && byte <= 0x7E) || rxvt_shift) {
    FinishCsi(byte);
  } else {
    Abandon(byte);
  }
}

void KeyDecoder::CollectSs3(unsigned char byte) {
  if ((byte >= '0' && byte <= '9') || byte == ';') {
    if (sequence_.size() < kMaxSequence) {
      sequence_.push_back(static_cast<char>(byte));
    } else {
      sequence_overflow_ = true;
    }
  } else if (byte >= 0x40 && byte <= 0x7E) {
    FinishSs3(byte);
  } else {
    Abandon(byte);
  }
}

void KeyDecoder::FinishCsi(unsigned char final_byte) {
  state_ = State::kGround;
  const bool alt_prefix = alt_prefix_;
  alt_prefix_ = false;
  const std::string text = sequence_;
  sequence_.clear();
  if (sequence_overflow_) return;

  auto alt_added = [alt_prefix](Modifiers modifiers) {
    if (alt_prefix) modifiers.alt = true;
    return modifiers;
  };
  // A sequence that is not a key after ESC ESC: the first ESC was Esc.
  auto escape_first = [&]() {
    if (alt_prefix) Character(kEscKey);
  };

  if (final_byte == 'M' && text.empty()) {
    escape_first();
    state_ = State::kClassicMouse;
    return;
  }
  if (!text.empty() && text[0] == '<') {
    if (final_byte != 'M') return;  // a release: not reported
    auto params = ParseParameters(std::string_view(text).substr(1));
    if (!params || params->size() != 3) return;
    escape_first();
    Mouse((*params)[0], (*params)[1], (*params)[2]);
    return;
  }
  auto params = ParseParameters(text);
  if (!params) return;  // private markers, intermediates, sub-parameters

  if (final_byte == '~' || final_byte == '$' || final_byte == '^' ||
      final_byte == '@') {
    if (params->empty() || params->size() > 2) return;
    const int number = (*params)[0];
    if (final_byte == '~' && params->size() == 1 && number == 200) {
      escape_first();
      in_paste_ = true;
      paste_after_cr_ = false;
      return;
    }
    std::optional<Modifiers> modifiers = Modifiers{};
    if (final_byte == '~') {
      if (params->size() == 2) modifiers = DecodeModifier((*params)[1]);
    } else {
      if (params->size() != 1) return;
      modifiers->shift = final_byte != '^';
      modifiers->ctrl = final_byte != '$';
    }
    if (!modifiers) return;
    for (const TildeKey& key : kTildeKeys) {
      if (key.number != number) continue;
      Modifiers held = alt_added(*modifiers);
      if (key.shift) held.shift = true;
      Extended(key.key, held);
      return;
    }
    return;
  }
  if (final_byte == 'Z') {
    auto modifiers = LetterModifier(*params);
    if (!modifiers) return;
    Modifiers held = alt_added(*modifiers);
    held.shift = true;
    Extended(kShiftTab, held);
    return;
  }
  if (int arrow = RxvtArrow(static_cast<char>(final_byte)); arrow != 0) {
    if (!params->empty()) return;
    Modifiers held = alt_added(Modifiers{});
    held.shift = true;
    Extended(arrow, held);
    return;
  }
  for (const LetterKey& key : kLetterKeys) {
    if (key.final_byte != static_cast<char>(final_byte)) continue;
    auto modifiers = LetterModifier(*params);
    if (modifiers) Extended(key.key, alt_added(*modifiers));
    return;
  }
  // Anything else (focus reports, answers to queries, keys of protocols
  // not enabled) is not a key.
}

void KeyDecoder::FinishSs3(unsigned char final_byte) {
  state_ = State::kGround;
  const bool alt_prefix = alt_prefix_;
  alt_prefix_ = false;
  const std::string text = sequence_;
  sequence_.clear();
  if (sequence_overflow_) return;
  auto params = ParseParameters(text);
  if (!params) return;
  std::optional<Modifiers> modifiers = LetterModifier(*params);
  if (!modifiers) return;
  if (alt_prefix) modifiers->alt = true;
  const char final_char = static_cast<char>(final_byte);

  if (int arrow = RxvtArrow(final_char); arrow != 0) {
    modifiers->ctrl = true;
    Extended(arrow, *modifiers);
    return;
  }
  for (const LetterKey& key : kLetterKeys) {
    if (key.final_byte == final_char && final_char != 'G') {
      Extended(key.key, *modifiers);
      return;
    }
  }
  for (const KeypadKey& key : kKeypadKeys) {
    if (key.final_byte != final_char) continue;
    if (key.extended) {
      Extended(key.key, *modifiers);
    } else if (!alt_prefix) {
      Character(key.key);
    }
    return;
  }
}

void KeyDecoder::FinishClassicMouse() {
  state_ = State::kGround;
  const int button = static_cast<unsigned char>(sequence_[0]) - 32;
  const int column = static_cast<unsigned char>(sequence_[1]) - 32;
  const int row = static_cast<unsigned char>(sequence_[2]) - 32;
  sequence_.clear();
  // In this encoding button 3 means "released".
  if (button < 0 || (button & 3) == 3) return;
  Mouse(button, column, row);
}

void KeyDecoder::FinishPasteMarker(unsigned char byte) {
  static constexpr std::string_view kEndMarker = "[201~";
  if (byte == static_cast<unsigned char>(kEndMarker[sequence_.size()])) {
    sequence_.push_back(static_cast<char>(byte));
    if (sequence_.size() == kEndMarker.size()) {
      sequence_.clear();
      in_paste_ = false;
      state_ = State::kGround;
    }
    return;
  }
  // Not the end marker: the escape and what followed it are dropped, the
  // byte itself is pasted text again.
  sequence_.clear();
  state_ = State::kGround;
  Consume(byte);
}

void KeyDecoder::StartUtf8(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) {
    utf8_expected_ = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    utf8_expected_ = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    utf8_expected_ = 4;
  } else {
    return;  // a stray continuation or a byte UTF-8 never uses
  }
  utf8_[0] = lead;
  utf8_length_ = 1;
  state_ = State::kUtf8;
}

void KeyDecoder::CollectUtf8(unsigned char byte) {
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (utf8_length_ == 1) {
    // Second-byte limits that rule out overlong forms, surrogates and
    // code points above U+10FFFF.
    switch (utf8_[0]) {
      case 0xE0:
        low = 0xA0;
        break;
      case 0xED:
        high = 0x9F;
        break;
      case 0xF0:
        low = 0x90;
        break;
      case 0xF4:
        high = 0x8F;
        break;
      default:
        break;
    }
  }
  if (byte < low || byte > high) {
    Abandon(byte);
    return;
  }
  utf8_[utf8_length_++] = byte;
  if (utf8_length_ < utf8_expected_) return;
  state_ = State::kGround;
  char32_t code_point = utf8_[0] & (0xFF >> (utf8_expected_ + 1));
  for (int i = 1; i < utf8_expected_; ++i) {
    code_point = (code_point << 6) | (utf8_[i] & 0x3F);
  }
  utf8_length_ = 0;
  const int byte_850 = Cp850ByteOf(code_point);
  // Characters CP850 lacks are dropped, and so are the glyphs of control
  // codes: typed, they would act as control keys.
  if (byte_850 >= 0x20 && byte_850 != 0x7F) Character(byte_850);
}

void KeyDecoder::Abandon(unsigned char byte) {
  state_ = State::kGround;
  sequence_.clear();
  sequence_overflow_ = false;
  alt_prefix_ = false;
  utf8_length_ = 0;
  Consume(byte);
}

void KeyDecoder::Character(int code) {
  InputEvent event;
  event.kind = InputEvent::Kind::kKey;
  event.key = code;
  event.pasted = in_paste_;
  events_.push_back(event);
}

void KeyDecoder::Extended(int scan_code_x256, Modifiers modifiers) {
  InputEvent event;
  event.kind = InputEvent::Kind::kKey;
  event.key = scan_code_x256;
  event.extended = true;
  event.modifiers = modifiers;
  events_.push_back(event);
}

void KeyDecoder::Mouse(int button_code, int column, int row) {
  // Motion, wheel and extra buttons are not presses of the three buttons.
  if (button_code < 0 || (button_code & (32 | 64 | 128)) != 0) return;
  static constexpr std::array<int, 3> kButtonState = {1, 4, 2};
  const int index = button_code & 3;
  if (index == 3 || column < 1 || row < 1) return;
  InputEvent event;
  event.kind = InputEvent::Kind::kMouse;
  event.button = kButtonState[static_cast<size_t>(index)];
  event.column = column;
  event.row = row;
  event.modifiers.shift = (button_code & 4) != 0;
  event.modifiers.alt = (button_code & 8) != 0;
  event.modifiers.ctrl = (button_code & 16) != 0;
  events_.push_back(event);
}

}  // namespace tarnevos::platform
