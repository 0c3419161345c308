#ifndef TARNEVOS_PLATFORM_CONSOLE_KEY_DECODER_H_
#define TARNEVOS_PLATFORM_CONSOLE_KEY_DECODER_H_

#include <deque>
#include <string>
#include <string_view>

#include "platform/console/console.h"

namespace tarnevos::platform {

// Turns the bytes a terminal sends into console input events. It knows the
// xterm family (xterm, VTE, konsole, kitty, alacritty, rxvt, tmux, screen)
// and the Linux console: function and editing keys with their modifiers,
// Alt+letter, SGR and classic mouse presses, bracketed paste and UTF-8
// text, which it hands on as CP850 characters.
//
// Bytes may arrive split anywhere; the decoder keeps a partial sequence
// until the rest comes. An Esc byte alone cannot be told from the start of a
// sequence, so the caller calls Flush() after kEscTimeoutMs of silence while
// Pending() is true: a lone Esc then becomes the Esc key. Sequences that are
// cut off or that the decoder does not know are dropped whole, never read as
// other keys.
//
// Every event delivered is valid: a key is an ordinary character 1..255 or
// an extended scan code x 256 from the table of known keys; a mouse press
// has button 1, 2 or 4 and row and column of at least 1.
class KeyDecoder {
 public:
  static constexpr int kEscTimeoutMs = 30;

  KeyDecoder() = default;

  void Feed(std::string_view bytes);
  // True while a partial sequence waits for more bytes.
  bool Pending() const;
  // Silence after a partial sequence: a lone Esc becomes Esc, "Esc Esc" two
  // Escs, "Esc O" Alt+O, anything else partial is dropped. A paste stays
  // open until its end marker.
  void Flush();
  // Takes the next decoded event; false when there is none.
  bool Next(InputEvent& event);
  bool HasEvents() const { return !events_.empty(); }
  // True between the start and end markers of a bracketed paste.
  bool InPaste() const { return in_paste_; }
  // Back to the initial state, dropping everything pending.
  void Reset();

 private:
  enum class State {
    kGround,
    kEscape,         // ESC seen
    kEscapeEscape,   // ESC ESC seen: Alt plus a sequence, or two Escs
    kCsi,            // ESC [ and parameters so far
    kLinuxFunction,  // ESC [ [ : the Linux console's F1..F5
    kSs3,            // ESC O and parameters so far
    kClassicMouse,   // ESC [ M and its three coordinate bytes
    kUtf8,           // a multi-byte character in progress
    kPasteEscape,    // inside a paste, a possible end marker in progress
  };

  void Consume(unsigned char byte);
  void Ground(unsigned char byte);
  void Paste(unsigned char byte);
  void Escape(unsigned char byte);
  void CollectCsi(unsigned char byte);
  void CollectSs3(unsigned char byte);
  void CollectUtf8(unsigned char byte);
  void FinishCsi(unsigned char final_byte);
  void FinishSs3(unsigned char final_byte);
  void FinishClassicMouse();
  void FinishPasteMarker(unsigned char byte);
  void StartUtf8(unsigned char lead);
  void Character(int code);
  void Extended(int scan_code_x256, Modifiers modifiers);
  void Mouse(int button_code, int column, int row);
  void Abandon(unsigned char byte);  // drop the partial sequence, reread byte

  State state_ = State::kGround;
  // Parameter and intermediate bytes of the sequence being collected.
  std::string sequence_;
  bool sequence_overflow_ = false;
  // Alt held for the sequence being collected (ESC ESC [ ...).
  bool alt_prefix_ = false;
  // Multi-byte character being collected.
  unsigned char utf8_[4] = {};
  int utf8_length_ = 0;
  int utf8_expected_ = 0;
  bool in_paste_ = false;
  bool paste_after_cr_ = false;
  std::deque<InputEvent> events_;
};

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_CONSOLE_KEY_DECODER_H_
