// Any bytes from a terminal, cut anywhere and with silences anywhere: the
// decoder never crashes, every event it delivers is a valid key or press,
// and how the bytes are split between reads does not change the result.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/console/key_decoder.h"

namespace {

using tarnevos::platform::InputEvent;
using tarnevos::platform::KeyDecoder;

bool ValidExtendedKey(int key) {
  if (key % 256 != 0) return false;
  const int scan = key / 256;
  if (scan >= 0x3B && scan <= 0x44) return true;  // F1..F10
  if (scan >= 0x47 && scan <= 0x53 && scan != 0x4A && scan != 0x4E) {
    return true;  // the editing and cursor keys, keypad centre
  }
  if (scan == 0x85 || scan == 0x86 || scan == 0x0F) return true;
  // Alt+letter: the letter rows of the PC keyboard.
  return (scan >= 0x10 && scan <= 0x19) || (scan >= 0x1E && scan <= 0x26) ||
         (scan >= 0x2C && scan <= 0x32);
}

void Check(const InputEvent& event) {
  switch (event.kind) {
    case InputEvent::Kind::kKey:
      if (event.extended) {
        if (!ValidExtendedKey(event.key) || event.pasted) __builtin_trap();
      } else if (event.key < 1 || event.key > 255) {
        __builtin_trap();
      }
      break;
    case InputEvent::Kind::kMouse:
      if (event.button != 1 && event.button != 2 && event.button != 4) {
        __builtin_trap();
      }
      if (event.row < 1 || event.column < 1 || event.row > 9999 ||
          event.column > 9999) {
        __builtin_trap();
      }
      break;
    case InputEvent::Kind::kNone:
      __builtin_trap();
  }
}

std::vector<InputEvent> Drain(KeyDecoder& decoder) {
  std::vector<InputEvent> events;
  InputEvent event;
  while (decoder.Next(event)) {
    Check(event);
    events.push_back(event);
  }
  return events;
}

bool Same(const InputEvent& a, const InputEvent& b) {
  return a.kind == b.kind && a.key == b.key && a.extended == b.extended &&
         a.pasted == b.pasted && a.modifiers.shift == b.modifiers.shift &&
         a.modifiers.ctrl == b.modifiers.ctrl &&
         a.modifiers.alt == b.modifiers.alt && a.button == b.button &&
         a.row == b.row && a.column == b.column;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks how the rest is cut into reads.
  const size_t step = 1 + data[0] % 7;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1,
                               size - 1);

  KeyDecoder whole;
  whole.Feed(bytes);
  whole.Flush();
  const std::vector<InputEvent> expected = Drain(whole);

  KeyDecoder pieces;
  std::vector<InputEvent> got;
  for (size_t at = 0; at < bytes.size(); at += step) {
    pieces.Feed(bytes.substr(at, step));
    for (const InputEvent& e : Drain(pieces)) got.push_back(e);
  }
  pieces.Flush();
  for (const InputEvent& e : Drain(pieces)) got.push_back(e);
  if (got.size() != expected.size()) __builtin_trap();
  for (size_t i = 0; i < got.size(); ++i) {
    if (!Same(got[i], expected[i])) __builtin_trap();
  }

  // Silences between the reads: still only valid events, and nothing
  // left pending afterwards.
  KeyDecoder timed;
  for (size_t at = 0; at < bytes.size(); at += step) {
    timed.Feed(bytes.substr(at, step));
    timed.Flush();
    if (timed.Pending()) __builtin_trap();
    Drain(timed);
  }
  return 0;
}
