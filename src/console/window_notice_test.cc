#include "console/window_notice.h"

#include <gtest/gtest.h>

#include <set>

#include "util/codepage.h"

namespace tarnevos {
namespace {

TEST(WindowNoticeTest, OneLineInEachLanguage) {
  // The Catalan line is the one the program has always shown.
  EXPECT_EQ(SmallWindowNotice(Language::kCatalan, 80, 25),
            "Amplieu la finestra a 80x25");
  EXPECT_EQ(SmallWindowNotice(Language::kSpanish, 80, 25),
            Cp850("Amplíe la ventana a 80x25"));
  std::set<std::string> lines;
  for (int i = 0; i < kLanguageCount; ++i) {
    const std::string line =
        SmallWindowNotice(static_cast<Language>(i), 132, 43);
    EXPECT_EQ(line.substr(line.size() - 7), " 132x43") << line;
    // Short enough for an 80-column line that is still too small.
    EXPECT_LT(line.size(), 40u);
    lines.insert(line);
  }
  EXPECT_EQ(lines.size(), static_cast<size_t>(kLanguageCount));
}

}  // namespace
}  // namespace tarnevos
