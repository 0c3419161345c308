#include "platform/console/key_decoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "util/codepage.h"

namespace tarnevos::platform {
namespace {

// One event as text: "65" an ordinary key, "65p" a pasted one, "x4800" an
// extended key with "+S", "+A", "+C" for the modifiers, "m1@3,7" a press of
// button 1 at row 3, column 7.
std::string Describe(const InputEvent& event) {
  char buffer[64];
  if (event.kind == InputEvent::Kind::kNone) return "none";
  std::string text;
  if (event.kind == InputEvent::Kind::kMouse) {
    std::snprintf(buffer, sizeof buffer, "m%d@%d,%d", event.button, event.row,
                  event.column);
  } else if (event.extended) {
    std::snprintf(buffer, sizeof buffer, "x%04X", event.key);
  } else {
    std::snprintf(buffer, sizeof buffer, "%d", event.key);
  }
  text = buffer;
  if (event.pasted) text += "p";
  if (event.modifiers.shift) text += "+S";
  if (event.modifiers.alt) text += "+A";
  if (event.modifiers.ctrl) text += "+C";
  return text;
}

std::string Drain(KeyDecoder& decoder) {
  std::string out;
  InputEvent event;
  while (decoder.Next(event)) {
    if (!out.empty()) out += " ";
    out += Describe(event);
  }
  return out;
}

// Feeds the bytes, then the silence that ends a lone Esc.
std::string Decode(std::string_view bytes) {
  KeyDecoder decoder;
  decoder.Feed(bytes);
  decoder.Flush();
  return Drain(decoder);
}

struct Case {
  const char* what;
  std::string bytes;
  const char* expected;
};

void RunTable(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(Decode(c.bytes), c.expected) << c.what;
    // The same bytes one at a time decode the same way.
    KeyDecoder split;
    for (char byte : c.bytes) split.Feed(std::string_view(&byte, 1));
    split.Flush();
    EXPECT_EQ(Drain(split), c.expected) << c.what << " (byte by byte)";
  }
}

TEST(KeyDecoderTest, XtermFunctionAndEditingKeys) {
  RunTable({
      {"F1", "\x1bOP", "x3B00"},
      {"F2", "\x1bOQ", "x3C00"},
      {"F3", "\x1bOR", "x3D00"},
      {"F4", "\x1bOS", "x3E00"},
      {"F5", "\x1b[15~", "x3F00"},
      {"F6", "\x1b[17~", "x4000"},
      {"F7", "\x1b[18~", "x4100"},
      {"F8", "\x1b[19~", "x4200"},
      {"F9", "\x1b[20~", "x4300"},
      {"F10", "\x1b[21~", "x4400"},
      {"F11", "\x1b[23~", "x8500"},
      {"F12", "\x1b[24~", "x8600"},
      {"Home 1~", "\x1b[1~", "x4700"},
      {"Ins", "\x1b[2~", "x5200"},
      {"Del", "\x1b[3~", "x5300"},
      {"End 4~", "\x1b[4~", "x4F00"},
      {"PgUp", "\x1b[5~", "x4900"},
      {"PgDn", "\x1b[6~", "x5100"},
      {"Up", "\x1b[A", "x4800"},
      {"Down", "\x1b[B", "x5000"},
      {"Right", "\x1b[C", "x4D00"},
      {"Left", "\x1b[D", "x4B00"},
      {"Home H", "\x1b[H", "x4700"},
      {"End F", "\x1b[F", "x4F00"},
      {"keypad centre", "\x1b[E", "x4C00"},
      {"cursor keys in application mode", "\x1bOA\x1bOB\x1bOC\x1bOD",
       "x4800 x5000 x4D00 x4B00"},
      {"Shift+Tab", "\x1b[Z", "x0F00+S"},
  });
}

TEST(KeyDecoderTest, ModifiersArriveWithTheUnmodifiedKey) {
  RunTable({
      {"Ctrl+Left", "\x1b[1;5D", "x4B00+C"},
      {"Ctrl+Right", "\x1b[1;5C", "x4D00+C"},
      {"Ctrl+Home", "\x1b[1;5H", "x4700+C"},
      {"Shift+F1", "\x1b[1;2P", "x3B00+S"},
      {"Alt+F4", "\x1b[1;3S", "x3E00+A"},
      {"Ctrl+F4", "\x1b[1;5S", "x3E00+C"},
      {"Ctrl+F5", "\x1b[15;5~", "x3F00+C"},
      {"Alt+F12", "\x1b[24;3~", "x8600+A"},
      {"Ctrl+Shift+Alt+Del", "\x1b[3;8~", "x5300+S+A+C"},
      {"Meta counts as Alt", "\x1b[1;9A", "x4800+A"},
      {"old xterm Shift+F1", "\x1bO2P", "x3B00+S"},
      {"SS3 with 1;m", "\x1bO1;5P", "x3B00+C"},
      {"Alt+Up as ESC ESC", "\x1b\x1b[A", "x4800+A"},
      {"Alt+F1 as ESC ESC", "\x1b\x1bOP", "x3B00+A"},
      {"rxvt Shift+Up", "\x1b[a", "x4800+S"},
      {"rxvt Ctrl+Left", "\x1bOd", "x4B00+C"},
      {"rxvt Ctrl+Home", "\x1b[7^", "x4700+C"},
      {"rxvt Shift+Del", "\x1b[3$", "x5300+S"},
      {"rxvt Ctrl+Shift+PgUp", "\x1b[5@", "x4900+S+C"},
      {"rxvt Shift+F3", "\x1b[25~", "x3D00+S"},
      {"rxvt Shift+F10", "\x1b[34~", "x4400+S"},
      {"modifier out of range", "\x1b[1;17A", ""},
      {"modifier zero", "\x1b[3;0~", ""},
  });
}

TEST(KeyDecoderTest, AltLetters) {
  RunTable({
      {"Alt+C",
       "\x1b"
       "c",
       "x2E00+A"},
      {"Alt+X", "\x1bx", "x2D00+A"},
      {"Alt+F",
       "\x1b"
       "f",
       "x2100+A"},
      {"Alt+E",
       "\x1b"
       "e",
       "x1200+A"},
      {"Alt+Q..P row", "\x1bq\x1bw\x1br\x1bt\x1by\x1bu\x1bi\x1bp",
       "x1000+A x1100+A x1300+A x1400+A x1500+A x1600+A x1700+A x1900+A"},
      {"Alt+A..L row",
       "\x1b"
       "a\x1bs\x1b"
       "d\x1bg\x1bh\x1bj\x1bk\x1bl",
       "x1E00+A x1F00+A x2000+A x2200+A x2300+A x2400+A x2500+A x2600+A"},
      {"Alt+Z..M row",
       "\x1bz\x1bv\x1b"
       "b\x1bn\x1bm",
       "x2C00+A x2F00+A x3000+A x3100+A x3200+A"},
      {"Alt+Shift+C",
       "\x1b"
       "C",
       "x2E00+S+A"},
      {"lone ESC O is Alt+Shift+O", "\x1bO", "x1800+S+A"},
      {"Alt+digit has no code",
       "\x1b"
       "1",
       ""},
      {"Alt+Enter has no code", "\x1b\r", ""},
      {"Alt+accented letter has no code", "\x1b\xc3\xa9x", "120"},
  });
}

TEST(KeyDecoderTest, OtherTerminals) {
  RunTable({
      {"Linux console F1", "\x1b[[A", "x3B00"},
      {"Linux console F5", "\x1b[[E", "x3F00"},
      {"Linux console F6", "\x1b[17~", "x4000"},
      {"Linux console keypad 5", "\x1b[G", "x4C00"},
      {"Linux console unknown", "\x1b[[Z", ""},
      {"tmux Home", "\x1b[1~", "x4700"},
      {"tmux End", "\x1b[4~", "x4F00"},
      {"screen Home SS3", "\x1bOH", "x4700"},
      {"screen End SS3", "\x1bOF", "x4F00"},
      {"rxvt Home", "\x1b[7~", "x4700"},
      {"rxvt End", "\x1b[8~", "x4F00"},
      {"rxvt F1..F4", "\x1b[11~\x1b[12~\x1b[13~\x1b[14~",
       "x3B00 x3C00 x3D00 x3E00"},
      {"keypad navigation keys",
       "\x1bOp\x1bOq\x1bOr\x1bOs\x1bOt\x1bOu\x1bOv\x1bOw\x1bOx\x1bOy\x1bOn",
       "x5200 x4F00 x5000 x5100 x4B00 x4C00 x4D00 x4700 x4800 x4900 x5300"},
      {"keypad operators and Enter", "\x1bOj\x1bOk\x1bOm\x1bOo\x1bOM",
       "42 43 45 47 13"},
  });
}

TEST(KeyDecoderTest, OrdinaryKeysAndText) {
  RunTable({
      {"letters", "aZ~ ", "97 90 126 32"},
      {"Enter CR and LF", "\r\n", "13 13"},
      {"Tab", "\t", "9"},
      {"Backspace DEL and BS", "\x7f\x08", "8 8"},
      {"Ctrl+C Ctrl+V Ctrl+Y Ctrl+B", "\x03\x16\x19\x02", "3 22 25 2"},
      {"Ctrl+Space is dropped", std::string("\0a", 2), "97"},
      {"lone Esc after silence", "\x1b", "27"},
      {"Esc twice", "\x1b\x1b", "27 27"},
      {"Esc then Alt+x", "\x1b\x1bx", "27 x2D00+A"},
      {"accented letters", "\xc3\xa7\xc3\x89\xc3\xb1", "135 144 164"},
      {"box drawing typed", "\xe2\x95\x94", "201"},
      {"euro sign lacks a code",
       "\xe2\x82\xac"
       "a",
       "97"},
      {"glyph of a control code is not a control key", "\xe2\x96\xba", ""},
      {"four-byte character lacks a code",
       "\xf0\x9f\x98\x80"
       "b",
       "98"},
      {"overlong NUL",
       "\xc0\x80"
       "c",
       "99"},
      {"surrogate",
       "\xed\xa0\x80"
       "d",
       "100"},
      {"stray continuation byte",
       "\x80\xbf"
       "e",
       "101"},
      {"character cut by another",
       "\xc3"
       "f",
       "102"},
      {"character cut by Esc", "\xe2\x95\x1b[A", "x4800"},
  });
}

TEST(KeyDecoderTest, MouseReports) {
  RunTable({
      {"SGR left", "\x1b[<0;12;5M", "m1@5,12"},
      {"SGR middle", "\x1b[<1;1;1M", "m4@1,1"},
      {"SGR right", "\x1b[<2;80;25M", "m2@25,80"},
      {"SGR with Ctrl", "\x1b[<16;3;4M", "m1@4,3+C"},
      {"SGR release", "\x1b[<0;12;5m", ""},
      {"SGR motion", "\x1b[<32;12;5M", ""},
      {"SGR wheel", "\x1b[<64;12;5M", ""},
      {"SGR zero cell", "\x1b[<0;0;5M", ""},
      {"SGR too few fields", "\x1b[<0;5M", ""},
      {"SGR huge number", "\x1b[<0;123456;5M", ""},
      {"classic press", "\x1b[M !&", "m1@6,1"},
      {"classic right press", "\x1b[M\"+$", "m2@4,11"},
      {"classic release", "\x1b[M#!!", ""},
      {"classic bytes are not typed",
       "\x1b[M AB"
       "x",
       "m1@34,33 120"},
  });
}

TEST(KeyDecoderTest, BracketedPasteIsTextOnly) {
  RunTable({
      {"plain paste", "\x1b[200~ab\x1b[201~c", "97p 98p 99"},
      {"line ends become one Enter each", "\x1b[200~a\r\nb\nc\rd\x1b[201~",
       "97p 13p 98p 13p 99p 13p 100p"},
      {"hot keys inside are plain text",
       "\x1b[200~\x1b"
       "c\x03\x16\tz\x1b[201~",
       "99p 32p 122p"},
      {"UTF-8 inside", "\x1b[200~\xc3\xa0\xe2\x82\xac\x1b[201~", "133p"},
      {"keys after the paste are keys again", "\x1b[200~x\x1b[201~\x1b[A",
       "120p x4800"},
      {"stray end marker", "\x1b[201~q", "113"},
  });
  // A paste stays open across reads and silences until its end marker.
  KeyDecoder decoder;
  decoder.Feed("\x1b[200~one");
  decoder.Flush();
  EXPECT_TRUE(decoder.InPaste());
  decoder.Feed("\x1b[20");
  decoder.Flush();  // cut marker: dropped, still pasting
  decoder.Feed("\r\x1b[201~\r");
  EXPECT_EQ(Drain(decoder), "111p 110p 101p 13p 13");
  EXPECT_FALSE(decoder.InPaste());
}

TEST(KeyDecoderTest, CutAndUnknownSequencesAreDropped) {
  RunTable({
      {"cut by the next sequence", "\x1b[1;\x1b[B", "x5000"},
      {"cut CSI at silence", "\x1b[15", ""},
      {"lone CSI at silence", "\x1b[", ""},
      {"cut SS3 with parameters", "\x1bO5", ""},
      {"unknown tilde number", "\x1b[99~", ""},
      {"three parameters", "\x1b[27;5;9~", ""},
      {"focus in and out", "\x1b[I\x1b[O", ""},
      {"private answer", "\x1b[?1;2c", ""},
      {"cursor report", "\x1b[12;40R", ""},
      {"sub-parameters", "\x1b[1:5A", ""},
      {"intermediate byte", "\x1b[1 q", ""},
      {"overlong parameters", "\x1b[" + std::string(200, '1') + "~" + "k",
       "107"},
      {"text after a dropped sequence survives", "\x1b[99~ok", "111 107"},
      {"control byte inside CSI", "\x1b[2\rx", "13 120"},
      {"Linux console sequence cut", "\x1b[[\x1b[A", "x4800"},
  });
  // Pending() tells the caller when to time the silence.
  KeyDecoder decoder;
  decoder.Feed("\x1b[1;5");
  EXPECT_TRUE(decoder.Pending());
  EXPECT_FALSE(decoder.HasEvents());
  decoder.Feed("D");
  EXPECT_FALSE(decoder.Pending());
  EXPECT_EQ(Drain(decoder), "x4B00+C");
  decoder.Feed("\xc3");
  EXPECT_TRUE(decoder.Pending());
  decoder.Flush();
  EXPECT_EQ(Drain(decoder), "");
}

}  // namespace
}  // namespace tarnevos::platform
