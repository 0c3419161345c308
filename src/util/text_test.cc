#include "util/text.h"

#include <gtest/gtest.h>

#include "support/run_state.h"
#include "util/codepage.h"
#include "util/dates.h"

namespace tarnevos {
namespace {

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetRunState(); }
  void TearDown() override { testing::ResetRunState(); }
};

TEST_F(TextTest, FoldsThroughThePlainOrTheSearchTable) {
  struct Case {
    const char* text;
    bool search;
    const char* expected;
  };
  const Case cases[] = {
      {"Núñez, José", false, "NÚÑEZ, JOSÉ"},
      // The comma (code 44) lies below the tables and stays.
      {"Núñez, José", true, "NUNEZ, JOSE"},
      {"àéíòúçüïâêôäëöåæãõðý", false, "ÀÉÍÒÚÇÜÏÂÊÔÄËÖÅÆÃÕÐÝ"},
      {"àéíòúçüïâêôäëöåæãõðý", true, "AEIOUCUIAEOAEOAAAODY"},
      {"ÀÉÍÒÚÇÑ ªº ß þÞ øØ ÿ", true, "AEIOUCN AO S TT OO Y"},
      // ÿ and ø have no capital in the code page; other symbols stay.
      {"ÿø£ß@[_{~", false, "ÿø£ß@[_{~"},
      {"@[\\]^_`{|}~£×ƒ¿®¬½¼¡«»¢¥©¤¦µ─│┌", true,
       "                               "},
      // Codes below 64 never change, whatever the table.
      {"0123 ,.;:!?-+*/()", true, "0123 ,.;:!?-+*/()"},
  };
  for (const Case& c : cases) {
    SetSearchFolding(c.search);
    EXPECT_EQ(Utf8FromCp850(FoldText(Cp850(c.text))), c.expected)
        << c.text << " search=" << c.search;
  }
}

TEST_F(TextTest, FoldingLeavesCodesFrom238UpAndModeIsKept) {
  std::string high;
  for (int code = 238; code < 256; ++code) high += static_cast<char>(code);
  EXPECT_FALSE(SearchFolding());
  EXPECT_EQ(FoldText(high), high);
  SetSearchFolding(true);
  EXPECT_TRUE(SearchFolding());
  EXPECT_EQ(FoldText(high), high);
  // Code 213 (dotless i) is an E in searches.
  EXPECT_EQ(FoldText(std::string(1, static_cast<char>(213))), "E");
}

TEST_F(TextTest, ReordersStoredNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"GARCIA LOPEZ*JUAN", "JUAN GARCIA LOPEZ"},
      {"ARC*JOAN D'", "JOAN D'ARC"},
      {"ARC * JOAN D'   ", "JOAN D'ARC"},
      {"*JUAN", "*JUAN"},
      {" PUIG ", "PUIG"},
      {"  GARCIA  *  JUAN  ", "JUAN GARCIA"},
      {"", ""},
  };
  for (const auto& [stored, shown] : cases) {
    EXPECT_EQ(ReorderName(stored), shown) << stored;
  }
}

TEST_F(TextTest, ZeroPadsKeepingTheRightmostDigits) {
  struct Case {
    double number;
    int width;
    const char* expected;
  };
  const Case cases[] = {
      {7, 2, "07"},
      {2006, 2, "06"},
      {-15, 4, "0015"},
      {0, 3, "000"},
      {12.9, 4, "0012"},
      {5, 0, ""},
      {5, -3, ""},
      {1e20, 3, "000"},
      {123456789012.0, 12, "123456789012"},
      {1.0 / 0.0, 2, "00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ZeroPad(c.number, c.width), c.expected)
        << c.number << " width " << c.width;
  }
}

TEST_F(TextTest, PacksDottedCodesGroupByGroup) {
  const std::pair<const char*, const char*> cases[] = {
      {"12", "0012"},
      {"12.5", "00120005"},
      {"123456", "123456"},
      {"1234.56789", "12346789"},  // a group keeps its rightmost digits
      {"12.", "0012"},
      {"12.5   ", "00120005"},
      {" 07 .  3x", "00070003"},
      {"12345678901", "678901"},  // 11 characters, no point: first of six
      {"123456.0001", "1234560001"},
      {".5", "00000005"},
      {"", ""},
      {"   ", ""},
      {"A.B", "00000000"},
  };
  for (const auto& [code, digits] : cases) {
    EXPECT_EQ(UnpackDigits(PackDottedCode(code)), digits) << code;
  }
}

TEST_F(TextTest, ShowsPackedCodesDroppingZeroGroupsOnTheRight) {
  const std::pair<const char*, const char*> cases[] = {
      {"0012", "12"},
      {"00120005", "12.5"},
      {"00000005", "0.5"},
      {"00050000", "5"},
      {"000012", "12"},
      {"0000", ""},
      {"00", ""},
      {"07", "07"},
      {"", ""},
      {"0012340005", "1234.5"},
      {"000100000000", "1"},
      {"000100020003", "1.2.3"},
      {"0007000000030000", "7.0.3"},
  };
  for (const auto& [digits, shown] : cases) {
    EXPECT_EQ(FormatPackedCode(PackDigits(digits)), shown) << digits;
  }
}

TEST_F(TextTest, CodesSurviveAPackAndShowRoundTrip) {
  for (const char* code : {"1", "12.5", "3.7.9", "123456"}) {
    EXPECT_EQ(FormatPackedCode(PackDottedCode(code)), code);
  }
}

TEST_F(TextTest, TextStackIsLastInFirstOut) {
  PushText("A");
  PushText("BC");
  PushText(std::string("\0\1", 2));
  PushText("");
  EXPECT_EQ(PopText(), "");
  EXPECT_EQ(PopText(), std::string("\0\1", 2));
  EXPECT_EQ(PopText(), "BC");
  EXPECT_EQ(PopText(), "A");
  EXPECT_EQ(PopText(), "");  // empty stack: a caller's fault, no crash
  std::string big(70000, 'x');
  PushText(big);
  EXPECT_EQ(PopText(), big);
}

TEST_F(TextTest, MeasuresAndSmallHelpers) {
  EXPECT_TRUE(IsAllChar("", 'x'));
  EXPECT_TRUE(IsAllChar("   ", ' '));
  EXPECT_FALSE(IsAllChar("  x", ' '));
  EXPECT_TRUE(IsAllChar(std::string(3, static_cast<char>(0xC4)), 0xC4));
  EXPECT_FALSE(IsAllChar("a", 'a' + 256));

  EXPECT_EQ(CentreOffset("ABCD", 10), 3);
  EXPECT_EQ(CentreOffset("ABC", 10), 3);
  EXPECT_EQ(CentreOffset("ABCDEFGHIJKL", 9), -1);  // truncated toward zero
  EXPECT_EQ(CentreOffset("", -3), -1);

  const char area[] = {'a', '\0', 'b', 'c'};
  EXPECT_EQ(CopyBytes(area, 3), std::string("a\0b", 3));
  EXPECT_EQ(CopyBytes(area, 0), "");
  EXPECT_EQ(CopyBytes(area, -1), "");
  EXPECT_EQ(CopyBytes(nullptr, 5), "");

  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(TrimLeftBlanks("  a "), "a ");
  EXPECT_EQ(TrimRightBlanks("  a "), "  a");
  EXPECT_EQ(TrimBlanks("    "), "");
  EXPECT_EQ(UpperAscii("abz\x87Z"), "ABZ\x87Z");
  EXPECT_EQ(FitText("abcdef", 3), "abc");
  EXPECT_EQ(FitText("ab", 4), "ab  ");
  EXPECT_EQ(FitText("ab", -1), "");
}

}  // namespace
}  // namespace tarnevos
