#include "layout/conversions.h"

#include <gtest/gtest.h>

namespace tarnevos::demo {
namespace {

std::string Text(const std::string& utf8) {
  std::string out, error;
  EXPECT_TRUE(ConvertText("f", utf8, out, error)) << error;
  return out;
}

TEST(DemoLayoutTest, ConvertsTextToTheCodePageWithCrLf) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\nb\n", "a\r\nb\r\n"},
      {"a\r\nb", "a\r\nb"},  // no final line end: none added
      {"a\rb\r\n\n", "a\r\nb\r\n\r\n"},
      {"", ""},
      {"[Usuari]\nIdioma=CAT\n", "[Usuari]\r\nIdioma=CAT\r\n"},
      {"RESUM DE LIQUIDACIÓ ─ ◄\n", "RESUM DE LIQUIDACI\xE0 \xC4 \x11\r\n"},
  };
  for (const auto& [utf8, cp850] : cases) {
    EXPECT_EQ(Text(utf8), cp850) << utf8;
  }
  // Not text: copied unchanged.
  const std::string binary("\x00\x01\n\xFF", 4);
  EXPECT_EQ(Text(binary), binary);
  EXPECT_EQ(Text("caf\xE9\n"), "caf\xE9\n");
}

TEST(DemoLayoutTest, RefusesCharactersTheCodePageLacks) {
  std::string out, error;
  EXPECT_FALSE(ConvertText("Orvo.ini", "a\nb\nPreu 5 €\n", out, error));
  EXPECT_EQ(error,
            "Orvo.ini:3: the character U+20AC has no form in code page 850");
}

TEST(DemoLayoutTest, MakesHelpRecordsWithToggleBytes) {
  std::string out, error;
  ASSERT_TRUE(ConvertHelp("H.txt", "{h}Ajuda{/h} i {u}més{/u}\n\n{r} x {/r}",
                          out, error))
      << error;
  ASSERT_EQ(out.size(), 3 * kHelpRecord);
  EXPECT_EQ(out.substr(0, kHelpRecord),
            "\x1E"
            "Ajuda\x1E i \x1Fm\x82s\x1F" +
                std::string(65, ' '));
  EXPECT_EQ(out.substr(kHelpRecord, kHelpRecord), std::string(80, ' '));
  EXPECT_EQ(out.substr(2 * kHelpRecord, 7), "\x10 x \x10  ");
  // Exactly one record of 80 bytes fits; other braces are plain text.
  ASSERT_TRUE(ConvertHelp("H.txt", std::string(80, 'x'), out, error));
  EXPECT_EQ(out, std::string(80, 'x'));
  ASSERT_TRUE(ConvertHelp("H.txt", "{x} {h", out, error));
  EXPECT_EQ(out.substr(0, 6), "{x} {h");
  ASSERT_TRUE(ConvertHelp("H.txt", "", out, error));
  EXPECT_EQ(out, "");
}

TEST(DemoLayoutTest, RefusesFaultyHelpLines) {
  const std::pair<std::string, std::string> cases[] = {
      {std::string(81, 'x'),
       "H.txt:1: the line takes 81 bytes; a help line holds at most 80"},
      {"ok\n{h}open", "H.txt:2: {h} is not closed on its line"},
      {"{h}a{h}b{/h}", "H.txt:1: {h} is already open"},
      {"a{/u}", "H.txt:1: {/u} closes nothing"},
      {"{h}a\n{/h}", "H.txt:1: {h} is not closed on its line"},
      {"a\n\xFF", "H.txt: not UTF-8 text"},
      {"5 €", "H.txt:1: the character U+20AC has no form in code page 850"},
  };
  for (const auto& [help, message] : cases) {
    std::string out, error;
    EXPECT_FALSE(ConvertHelp("H.txt", help, out, error)) << help;
    EXPECT_EQ(error, message);
  }
}

}  // namespace
}  // namespace tarnevos::demo
