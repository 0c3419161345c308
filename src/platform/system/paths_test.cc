#include "platform/system/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/system/files.h"
#include "support/scratch.h"

namespace tarnevos::platform {
namespace {

using testing::ScratchDir;

class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("DADES/THRebut.dat", "records");
    dir_.Write("Orvo.ini", "[Usuari]\r\n");
    dir_.Write("FORMS/TARNEVOS.KPN", "2,10\r\n");
  }
  ScratchDir dir_;
};

TEST_F(PathsTest, MatchesMissingComponentsIgnoringCase) {
  const std::string& root = dir_.path();
  const std::pair<std::string, std::string> cases[] = {
      // Backslashes become slashes.
      {root + "DADES\\THRebut.dat", root + "DADES/THRebut.dat"},
      // Components spelt differently are found.
      {root + "dades/threbut.dat", root + "DADES/THRebut.dat"},
      {root + "dades\\THREBUT.DAT", root + "DADES/THRebut.dat"},
      {root + "Orvo.INI", root + "Orvo.ini"},
      {root + "forms\\tarnevos.kpn", root + "FORMS/TARNEVOS.KPN"},
      // What does not exist keeps its spelling, below what does.
      {root + "dades\\FinquesH.dat", root + "DADES/FinquesH.dat"},
      {root + "NoDir\\sub\\File.TXT", root + "NoDir/sub/File.TXT"},
      {root + "dades\\", root + "DADES/"},
      {"", ""},
  };
  for (const auto& [suite, native] : cases) {
    EXPECT_EQ(NativePath(suite), native) << suite;
  }
}

TEST_F(PathsTest, PrefersTheExactSpellingAndKeepsDotComponents) {
  dir_.Write("Case/name.txt", "lower");
  dir_.Write("Case/NAME.TXT", "upper");
  const std::string& root = dir_.path();
  EXPECT_EQ(NativePath(root + "Case\\name.txt"), root + "Case/name.txt");
  EXPECT_EQ(NativePath(root + "Case\\NAME.TXT"), root + "Case/NAME.TXT");
  std::string either = NativePath(root + "case\\Name.Txt");
  EXPECT_TRUE(either == root + "Case/name.txt" ||
              either == root + "Case/NAME.TXT")
      << either;
  EXPECT_EQ(NativePath(root + "dades\\..\\orvo.ini"),
            root + "DADES/../Orvo.ini");
  EXPECT_EQ(NativePath(root + ".\\dades\\.\\threbut.dat"),
            root + "./DADES/./THRebut.dat");
}

TEST_F(PathsTest, ResolvesRelativePathsFromTheCurrentDirectory) {
  char buffer[4096];
  std::string old_dir = ::getcwd(buffer, sizeof buffer) ? buffer : ".";
  ASSERT_TRUE(ChangeDirectory(dir_.path() + "dades\\"));
  EXPECT_EQ(NativePath("threbut.DAT"), "THRebut.dat");
  EXPECT_EQ(NativePath("..\\orvo.ini"), "../Orvo.ini");
  EXPECT_EQ(NativePath("nothing.dat"), "nothing.dat");
  ASSERT_EQ(::chdir(old_dir.c_str()), 0);
  EXPECT_FALSE(ChangeDirectory(dir_.path() + "NoDir\\"));
  EXPECT_FALSE(ChangeDirectory(""));
}

TEST_F(PathsTest, ExistsAndRemoveWorkOnSuitePaths) {
  const std::string& root = dir_.path();
  EXPECT_TRUE(Files().Exists(root + "dades\\threbut.dat"));
  EXPECT_TRUE(Files().Exists(root + "DADES"));
  EXPECT_FALSE(Files().Exists(root + "dades\\finquesh.dat"));
  EXPECT_FALSE(Files().Exists(""));
  EXPECT_TRUE(Files().Remove(root + "dades\\THREBUT.dat"));
  EXPECT_FALSE(dir_.Exists("DADES/THRebut.dat"));
  EXPECT_FALSE(Files().Remove(root + "dades\\THREBUT.dat"));
  EXPECT_FALSE(Files().Remove(""));
}

}  // namespace
}  // namespace tarnevos::platform
