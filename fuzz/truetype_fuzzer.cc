// Font files of any content: the TrueType reader and the CP850 subset it
// makes. A font it accepts must give a subset that it reads back to the
// same glyphs, and the PDF fonts built on it must measure any text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "print/pdf_document.h"
#include "print/truetype.h"

namespace {

using namespace tarnevos;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  FontSubset subset;
  std::string error;
  if (!SubsetFontForCp850(bytes, subset, error)) {
    Check(!error.empty(), "a refusal names its reason");
    return 0;
  }
  Check(subset.advance.size() == subset.unicode.size(), "one advance a glyph");
  for (uint16_t glyph : subset.glyph)
    Check(glyph < subset.advance.size(), "glyphs inside the subset");
  FontSubset again;
  Check(SubsetFontForCp850(subset.program, again, error), "subset reads back");
  Check(again.glyph == subset.glyph, "same glyphs read back");

  PdfFonts fonts;
  if (fonts.Load(bytes, bytes, error)) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    Check(fonts.Width(PdfFace::kBold, 10, all) >= 0, "widths are measured");
  }
  return 0;
}
