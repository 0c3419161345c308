#include "print/truetype.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace tarnevos {
namespace {

constexpr char kFontPath[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

std::string ReadFont() {
  std::ifstream in(kFontPath, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

uint32_t U32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i)
    value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

uint32_t WholeFileChecksum(const std::string& bytes) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) sum += U32(bytes, i);
  return sum;
}

class TrueTypeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    font_ = ReadFont();
    if (font_.empty()) GTEST_SKIP() << "no " << kFontPath;
  }
  std::string font_;
};

// The subset keeps every CP850 character the face draws, with its advance,
// and is itself a well-formed font that maps the same characters to the
// same glyphs.
TEST_F(TrueTypeTest, SubsetCarriesEveryCp850CharacterAndReadsBack) {
  FontSubset subset;
  std::string error;
  ASSERT_TRUE(SubsetFontForCp850(font_, subset, error)) << error;
  EXPECT_EQ(subset.postscript_name, "DejaVuSans");
  ASSERT_EQ(subset.advance.size(), subset.unicode.size());
  // Letters, accented letters, the middle dot of "l·l", the euro's
  // neighbours and box drawing are all there; controls are not.
  for (int byte : {int{'A'}, int{'z'}, int{'0'}, int{' '}, 0x87 /* ç */,
                   0x85 /* à */, 0xFA /* · */, 0xA5 /* Ñ */, 0xC4 /* ─ */}) {
    EXPECT_NE(subset.glyph[static_cast<size_t>(byte)], 0) << byte;
  }
  EXPECT_EQ(subset.glyph[10], 0);
  EXPECT_EQ(subset.glyph[127], 0);
  // DejaVu Sans: 'A' advances 1401 of 2048 units, the space 651.
  EXPECT_EQ(subset.Advance('A'), 684);
  EXPECT_EQ(subset.Advance(' '), 318);
  EXPECT_EQ(subset.unicode[subset.glyph[0x87]], U'ç');
  // Far smaller than the face, and only glyphs the code page needs (plus
  // the parts of composed letters).
  EXPECT_LT(subset.program.size(), font_.size() / 8);
  EXPECT_LT(subset.advance.size(), 300u);
  EXPECT_EQ(subset.ascent, 928);
  EXPECT_EQ(subset.descent, -236);

  // A well-formed font: the whole file sums to the magic number.
  EXPECT_EQ(WholeFileChecksum(subset.program), 0xB1B0AFBAu);
  FontSubset again;
  ASSERT_TRUE(SubsetFontForCp850(subset.program, again, error)) << error;
  EXPECT_EQ(again.glyph, subset.glyph);
  EXPECT_EQ(again.advance, subset.advance);
  EXPECT_EQ(again.program, subset.program);
}

// Whatever a damaged file says, the reader stays inside it and refuses it
// with a reason (the sanitizers watch the reads).
TEST_F(TrueTypeTest, DamagedFontsAreRefusedWithAReason) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::vector<Case> cases = {
      {"empty", ""},
      {"truncated header", font_.substr(0, 10)},
      {"truncated tables", font_.substr(0, 4096)},
      {"PostScript outlines", "OTTO" + font_.substr(4)},
      {"collection", "ttcf" + font_.substr(4)},
      {"not a font", std::string(2000, 'x')},
  };
  // A table offset beyond the end.
  std::string far = font_;
  far[12 + 8] = '\x7f';
  cases.push_back({"table outside", far});
  for (const Case& c : cases) {
    FontSubset subset;
    std::string error;
    EXPECT_FALSE(SubsetFontForCp850(c.bytes, subset, error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
    EXPECT_TRUE(subset.program.empty()) << c.what;
  }

  // Bytes overwritten all over the file: refused or subset, never a read
  // outside it.
  for (size_t at = 0; at < font_.size(); at += font_.size() / 97) {
    std::string damaged = font_;
    for (size_t i = at; i < std::min(damaged.size(), at + 64); ++i)
      damaged[i] = static_cast<char>(0xFF ^ i);
    FontSubset subset;
    std::string error;
    if (!SubsetFontForCp850(damaged, subset, error)) {
      EXPECT_FALSE(error.empty()) << at;
    }
  }
}

}  // namespace
}  // namespace tarnevos
