#include "util/codepage.h"

#include <gtest/gtest.h>

namespace tarnevos {
namespace {

TEST(CodepageTest, EveryByteRoundTripsThroughUtf8) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  EXPECT_EQ(Cp850(Utf8FromCp850(all)), all);
  // The console glyphs come back too, except where a glyph is shared with a
  // printable character (20 and 21 draw as the high half's ¶ and §) or is a
  // blank (byte 0).
  std::string glyphs = Cp850(Utf8GlyphsFromCp850(all));
  ASSERT_EQ(glyphs.size(), all.size());
  for (int byte = 0; byte < 256; ++byte) {
    unsigned char back = static_cast<unsigned char>(glyphs[byte]);
    if (byte == 0) {
      EXPECT_EQ(back, ' ');
    } else if (byte == 20) {
      EXPECT_EQ(back, 0xF4);
    } else if (byte == 21) {
      EXPECT_EQ(back, 0xF5);
    } else {
      EXPECT_EQ(back, byte) << byte;
    }
    EXPECT_EQ(Cp850ByteOf(GlyphOf(static_cast<unsigned char>(byte))),
              byte == 0    ? ' '
              : byte == 20 ? 0xF4
              : byte == 21 ? 0xF5
                           : byte);
  }
}

TEST(CodepageTest, ConvertsTheProgramsTexts) {
  const std::string title = Cp850("RESUM DE LIQUIDACIÓ");
  EXPECT_EQ(title.size(), 19u);
  EXPECT_EQ(static_cast<unsigned char>(title.back()), 0xE0);
  EXPECT_EQ(Utf8FromCp850(title), "RESUM DE LIQUIDACIÓ");

  EXPECT_EQ(Cp850("çÇñÑàèéíòóúüï·"),
            "\x87\x80\xA4\xA5\x85\x8A\x82\xA1\x95\xA2\xA3\x81\x8B\xFA");
  EXPECT_EQ(Cp850("┌─┐│└┘╔═╗║╚╝├┤┬┴┼░▒▓█"),
            "\xDA\xC4\xBF\xB3\xC0\xD9\xC9\xCD\xBB\xBA\xC8\xBC\xC3\xB4\xC2"
            "\xC1\xC5\xB0\xB1\xB2\xDB");
  // The pointers of choice fields are the control bytes 17 and 16.
  EXPECT_EQ(Cp850("◄ ►"), "\x11 \x10");
  EXPECT_EQ(Utf8GlyphsFromCp850("\x11\x10"), "◄►");
  EXPECT_EQ(Utf8FromCp850("\x11\x10"), "\x11\x10");
}

TEST(CodepageTest, DropsWhatTheCodePageLacks) {
  EXPECT_EQ(Cp850("a€b—c你d😀e"), "abcde");
  EXPECT_EQ(Cp850ByteOf(U'€'), -1);
  EXPECT_EQ(Cp850ByteOf(0x110000), -1);
}

TEST(CodepageTest, TextFilesAreTakenForUtf8OnlyWithAMarkOrMultiByteText) {
  struct Case {
    std::string bytes;
    TextEncoding encoding;
    std::string cp850;
  };
  const Case cases[] = {
      // Plain ASCII reads the same either way.
      {"Idioma=CAT\r\n", TextEncoding::kCp850, "Idioma=CAT\r\n"},
      {"", TextEncoding::kCp850, ""},
      // CP850 as the suite writes it: "Administració" (0xA2) is no UTF-8.
      {"Linia2=Administraci\xA2\r\n", TextEncoding::kCp850,
       "Linia2=Administraci\xA2\r\n"},
      // UTF-8 as Linux editors write it, with or without the mark.
      {"Linia2=Administració\n", TextEncoding::kUtf8,
       "Linia2=Administraci\xA2\n"},
      {"\xEF\xBB\xBFLinia2=Col·legiat\r\n", TextEncoding::kUtf8WithMark,
       "Linia2=Col\xFAlegiat\r\n"},
      {"\xEF\xBB\xBF", TextEncoding::kUtf8WithMark, ""},
      // With the mark the file is UTF-8 even when all of it is ASCII.
      {"\xEF\xBB\xBFNomMenu=TARNEVOS", TextEncoding::kUtf8WithMark,
       "NomMenu=TARNEVOS"},
      // What CP850 lacks: look-alikes for the usual typography, "?" else.
      {"Tel. 938 – “Finques” ’s … 12 €\n", TextEncoding::kUtf8,
       "Tel. 938 - \"Finques\" 's ... 12 EUR\n"},
      {"Ω你😀é", TextEncoding::kUtf8, "???\x82"},
      // Control bytes (the help files' style toggles) stay as they are.
      {"\x1e"
       "Ajuda\x1e ó\x10",
       TextEncoding::kUtf8,
       "\x1e"
       "Ajuda\x1e \xA2\x10"},
      // A mark followed by bytes that are not UTF-8: those become "?".
      {"\xEF\xBB\xBF"
       "a\xA2"
       "b",
       TextEncoding::kUtf8WithMark, "a?b"},
      // The one ambiguity: CP850 "Óé" (E0 82) is not valid UTF-8, but "Èà"
      // (D4 85) is U+0505, so a file holding only such pairs is taken for
      // UTF-8.
      {"x\xE0\x82", TextEncoding::kCp850, "x\xE0\x82"},
      {"x\xD4\x85", TextEncoding::kUtf8, "x?"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DetectTextEncoding(c.bytes), c.encoding) << c.bytes;
    EXPECT_EQ(TextFileToCp850(c.bytes), c.cp850) << c.bytes;
  }
  // Every CP850 character written in UTF-8 comes back as its byte.
  std::string all;
  for (int byte = 32; byte < 256; ++byte) {
    if (byte != 127) all += static_cast<char>(byte);
  }
  EXPECT_EQ(TextFileToCp850(Utf8FromCp850(all)), all);
}

TEST(CodepageTest, InvalidUtf8NeverCrashesAndKeepsTheValidRest) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\xC3", "a"},                // truncated at the end
      {"a\xC3(b", "a(b"},            // bad continuation
      {"\x80\xBFx", "x"},            // stray continuations
      {"\xFF\xFEy", "y"},            // bytes UTF-8 never uses
      {"\xE2\x94", ""},              // truncated three-byte sequence
      {"\xF0\x9F\x98", ""},          // truncated four-byte sequence
      {"\xE2\x94\x80\xE2", "\xC4"},  // ─ then a truncated lead
      {std::string("\0z", 2), std::string("\0z", 2)},
      {"\xC0\x80z", "z"},          // overlong NUL
      {"\xED\xA0\x80w", "w"},      // a surrogate
      {"\xF4\x90\x80\x80v", "v"},  // past U+10FFFF
  };
  for (const auto& [utf8, cp850] : cases) {
    EXPECT_EQ(Cp850(utf8), cp850);
  }
  // Every two-byte input, whatever it is, converts without trouble.
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      std::string text{static_cast<char>(a), static_cast<char>(b)};
      EXPECT_LE(Cp850(text).size(), 2u);
    }
  }
}

TEST(CodepageTest, EncodesAndDecodesUtf8) {
  for (char32_t cp : {U'A', U'Ó', U'─', U'😀'}) {
    std::string text;
    AppendUtf8(text, cp);
    size_t pos = 0;
    EXPECT_EQ(DecodeUtf8(text, pos), static_cast<long>(cp));
    EXPECT_EQ(pos, text.size());
  }
}

}  // namespace
}  // namespace tarnevos
