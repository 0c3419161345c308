#ifndef TARNEVOS_CONSOLE_KEYBOARD_H_
#define TARNEVOS_CONSOLE_KEYBOARD_H_

#include <cstdint>
#include <string>
#include <string_view>

// Key codes, the key reader, the accepted-key table, the type-ahead queue
// and the attribute selector shared by every screen.
namespace tarnevos {

using KeyCode = int16_t;
namespace key {
constexpr KeyCode kBackspace = 8, kTab = 9, kEnter = 13, kEsc = 27;
constexpr KeyCode kCtrlB = 2, kCtrlC = 3, kCtrlV = 22, kCtrlY = 25;
constexpr KeyCode kHome = 0x4700, kUp = 0x4800, kPgUp = 0x4900, kLeft = 0x4B00,
                  kCentre = 0x4C00, kRight = 0x4D00, kEnd = 0x4F00,
                  kDown = 0x5000, kPgDn = 0x5100, kIns = 0x5200, kDel = 0x5300,
                  kShiftTab = 0x0F00;
constexpr KeyCode kF1 = 0x3B00, kF2 = 0x3C00, kF4 = 0x3E00, kF10 = 0x4400;
constexpr KeyCode kF11 = static_cast<KeyCode>(0x8500),
                  kF12 = static_cast<KeyCode>(0x8600);
constexpr KeyCode kAltE = 0x1200, kAltF = 0x2100, kAltX = 0x2D00,
                  kAltC = 0x2E00;
constexpr KeyCode kCtrlHome = 0x7700, kCtrlRight = 0x7400, kCtrlLeft = 0x7300,
                  kCtrlF4 = 0x6100, kAltF4 = 0x6B00;
}  // namespace key

// Reads at most one event without waiting. key = 0 and button = 0: nothing.
// Serves TypeAhead first; runs the calculator (Alt+X) and the calendar
// (Alt+C) and still returns the hot key.
void ReadKey(KeyCode& key, int16_t& button, int16_t& row, int16_t& column);
// Waits for a key or a click; a click is column x 256 + button x 64 + row.
KeyCode WaitKey();
// Waits for a key read from the console itself, as the help viewer reads
// it: no type-ahead, no hot keys, no modifier derivation; mouse presses are
// skipped. Returns the character code or scan code x 256.
KeyCode WaitRawKey();

// Accepted keys: modes E empty, A add ("k" or "k=v" hexadecimal), D delete,
// + save, - restore, H mask echo, V normal echo.
void SetAcceptedKeys(std::string_view mode, std::string_view list);
// Looks a key up; true and its result when found.
bool LookUpAcceptedKey(KeyCode key, KeyCode& result);
bool AcceptedKeysEmpty();
bool EchoMasked();

// Characters delivered by ReadKey before the console is read.
void SetTypeAhead(std::string_view text);
const std::string& TypeAhead();

// Attribute letters: n normal, h highlighted, r reverse, u field under
// edit, + push, - pop.
void SetColour(std::string_view letters);
int CurrentAttribute();

// The hot-key screens, installed by the console module that builds them.
using HotKeyScreen = std::string (*)();
void SetCalculatorScreen(HotKeyScreen screen);
void SetCalendarScreen(HotKeyScreen screen);

// Start-up state of the keyboard layer.
void TEST_ResetKeyboard();

}  // namespace tarnevos

#endif  // TARNEVOS_CONSOLE_KEYBOARD_H_
