#include "kelprint/paper.h"

#include <gtest/gtest.h>

#include "support/scratch.h"

namespace tarnevos::kelprint {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

TEST(PaperTest, NamesAreMatchedWithoutRegardToCase) {
  ASSERT_TRUE(PaperByName("A4"));
  EXPECT_EQ(PaperByName("A4")->name, "a4");
  EXPECT_NEAR(PaperByName("a4")->width, 595.276, 0.001);
  EXPECT_NEAR(PaperByName("a4")->height, 841.890, 0.001);
  EXPECT_EQ(PaperByName("Letter")->width, 612);
  EXPECT_EQ(PaperByName("letter")->height, 792);
  EXPECT_EQ(PaperByName("LEGAL")->height, 1008);
  EXPECT_FALSE(PaperByName(""));
  EXPECT_FALSE(PaperByName("a4 "));
  EXPECT_FALSE(PaperByName("quarto"));
  EXPECT_EQ(DefaultPaper().name, "a4");
}

TEST(PaperTest, SystemPaperComesFromTheVariableThenTheSettingsFile) {
  ScratchDir scratch;
  scratch.Write("papersize", "# the system's paper\n\n  letter   \n a3\n");
  scratch.Write("unknown", "quarto\n");
  scratch.Write("comments", "# letter\n#\n");
  struct Case {
    std::optional<std::string> papersize;
    std::optional<std::string> paperconf;
    const char* expected;
  };
  const std::string dir = scratch.path();
  const Case cases[] = {
      {"Letter", dir + "papersize", "letter"},  // the variable first
      {"", dir + "papersize", "letter"},        // empty: the file
      {std::nullopt, dir + "papersize", "letter"},
      {"a5", std::nullopt, "a5"},
      {"tabloid extra", std::nullopt, "tabloid"},  // its first word
      {"folio", dir + "papersize", "a4"},          // unknown name: A4
      {std::nullopt, dir + "unknown", "a4"},
      {std::nullopt, dir + "comments", "a4"},  // only comments
      {std::nullopt, dir + "missing", "a4"},   // no file
      {std::nullopt, dir, "a4"},               // a folder
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.papersize.value_or("(unset)") + " / " +
                 c.paperconf.value_or("(unset)"));
    ScopedEnv env({{"PAPERSIZE", c.papersize}, {"PAPERCONF", c.paperconf}});
    EXPECT_EQ(SystemPaper().name, c.expected);
  }
}

}  // namespace
}  // namespace tarnevos::kelprint
