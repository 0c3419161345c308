#ifndef TARNEVOS_PRINT_TRUETYPE_H_
#define TARNEVOS_PRINT_TRUETYPE_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A TrueType font cut down to the glyphs of the code page 850 characters,
// for embedding in PDF files. Every text of the program is CP850, so one
// fixed subset serves every document: its glyph numbers are the same in
// every file, and a page drawn once can be written into several files.
namespace tarnevos {

struct FontSubset {
  // The font's PostScript name ("DejaVuSans"), from its name table; "Font"
  // when it has none that can be read.
  std::string postscript_name;
  // The subset as a TrueType file: head, hhea, maxp, OS/2, hmtx, cmap, loca,
  // glyf and post. The outlines carry no hinting instructions (nor the
  // tables that serve them): they matter on coarse screens, not on paper,
  // and take much of a face's size.
  std::string program;
  // CP850 byte -> glyph of the subset; 0 (the missing glyph) for bytes
  // 0..31, 127 and characters the font lacks.
  std::array<uint16_t, 256> glyph{};
  // Per glyph of the subset: the advance in thousandths of the type size,
  // and the character it stands for (0 for the missing glyph and the
  // components of accented letters).
  std::vector<uint16_t> advance;
  std::vector<char32_t> unicode;
  // In thousandths of the type size: the font's box, ascent, descent
  // (negative), the height of capitals.
  std::array<int, 4> bbox{};
  int ascent = 0;
  int descent = 0;
  int cap_height = 0;

  // Advance of one CP850 byte, in thousandths of the type size.
  int Advance(unsigned char byte) const { return advance[glyph[byte]]; }
};

// Reads a TrueType font file (its whole contents) and makes the CP850
// subset. Returns false, with `error` saying why, when the bytes are not a
// TrueType font with glyph outlines and a Unicode character map (a
// PostScript-flavoured OpenType font, a collection, a truncated or
// inconsistent file); nothing outside `font_file` is read whatever its
// offsets say.
bool SubsetFontForCp850(std::string_view font_file, FontSubset& subset,
                        std::string& error);

}  // namespace tarnevos

#endif  // TARNEVOS_PRINT_TRUETYPE_H_
