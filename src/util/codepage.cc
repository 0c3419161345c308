#include "util/codepage.h"

#include <array>

namespace tarnevos {
namespace {

// Code points of bytes 128-255.
constexpr std::array<char16_t, 128> kHighHalf = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA,
    0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6,
    0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC,
    0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC,
    0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1,
    0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5,
    0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4, 0x00F0,
    0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518,
    0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, 0x00D3, 0x00DF, 0x00D4,
    0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE, 0x00DE, 0x00DA, 0x00DB, 0x00D9,
    0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6,
    0x00A7, 0x00F7, 0x00B8, 0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2,
    0x25A0, 0x00A0,
};

// Console glyphs of the control bytes 0-31 (byte 0 draws as a blank).
constexpr std::array<char16_t, 32> kControlGlyphs = {
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
};

constexpr char16_t kDeleteGlyph = 0x2302;  // byte 127

}  // namespace

char32_t GlyphOf(unsigned char byte) {
  if (byte >= 128) return kHighHalf[byte - 128];
  if (byte == 0) return U' ';
  if (byte < 32) return kControlGlyphs[byte];
  if (byte == 127) return kDeleteGlyph;
  return byte;
}

int Cp850ByteOf(char32_t code_point) {
  if (code_point < 128) return static_cast<int>(code_point);
  for (int i = 0; i < 128; ++i) {
    if (kHighHalf[i] == code_point) return 128 + i;
  }
  for (int i = 1; i < 32; ++i) {
    if (kControlGlyphs[i] == code_point) return i;
  }
  if (code_point == kDeleteGlyph) return 127;
  return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

long DecodeUtf8(std::string_view text, size_t& pos) {
  unsigned char lead = static_cast<unsigned char>(text[pos]);
  int extra = 0;
  long cp = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
  } else {
    ++pos;
    return -1;
  }
  if (pos + extra >= text.size()) {
    ++pos;
    return -1;
  }
  for (int i = 1; i <= extra; ++i) {
    unsigned char next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return -1;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not characters:
  // skip the lead byte only, as for any other invalid sequence.
  constexpr long kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[extra] || cp > 0x10FFFF ||
      (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return -1;
  }
  pos += extra + 1;
  return cp;
}

std::string Cp850(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    long cp = DecodeUtf8(utf8, pos);
    if (cp < 0) continue;
    int byte = Cp850ByteOf(static_cast<char32_t>(cp));
    if (byte >= 0) out += static_cast<char>(byte);
  }
  return out;
}

TextEncoding DetectTextEncoding(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return TextEncoding::kUtf8WithMark;
  bool multi_byte = false;
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t start = pos;
    if (DecodeUtf8(bytes, pos) < 0) return TextEncoding::kCp850;
    multi_byte = multi_byte || pos - start > 1;
  }
  return multi_byte ? TextEncoding::kUtf8 : TextEncoding::kCp850;
}

std::string TextFileToCp850(std::string_view bytes) {
  const TextEncoding encoding = DetectTextEncoding(bytes);
  if (encoding == TextEncoding::kCp850) return std::string(bytes);
  if (encoding == TextEncoding::kUtf8WithMark) bytes.remove_prefix(3);
  struct LookAlike {
    char32_t code_point;
    std::string_view text;
  };
  static constexpr LookAlike kLookAlikes[] = {
      {U'\u2018', "'"},   {U'\u2019', "'"},  {U'\u201A', "'"},
      {U'\u201C', "\""},  {U'\u201D', "\""}, {U'\u201E', "\""},
      {U'\u2013', "-"},   {U'\u2014', "-"},  {U'\u2212', "-"},
      {U'\u2026', "..."}, {U'\u20AC', "EUR"}};
  std::string out;
  out.reserve(bytes.size());
  size_t pos = 0;
  while (pos < bytes.size()) {
    const long cp = DecodeUtf8(bytes, pos);
    const int byte = cp < 0 ? -1 : Cp850ByteOf(static_cast<char32_t>(cp));
    if (byte >= 0) {
      out += static_cast<char>(byte);
      continue;
    }
    std::string_view replacement = "?";
    for (const LookAlike& look_alike : kLookAlikes) {
      if (static_cast<long>(look_alike.code_point) == cp) {
        replacement = look_alike.text;
      }
    }
    out += replacement;
  }
  return out;
}

std::string Utf8FromCp850(std::string_view cp850) {
  std::string out;
  out.reserve(cp850.size() * 2);
  for (char c : cp850) {
    unsigned char byte = static_cast<unsigned char>(c);
    AppendUtf8(out, byte < 128 ? byte : kHighHalf[byte - 128]);
  }
  return out;
}

std::string Utf8GlyphsFromCp850(std::string_view cp850) {
  std::string out;
  out.reserve(cp850.size() * 2);
  for (char c : cp850) AppendUtf8(out, GlyphOf(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace tarnevos
