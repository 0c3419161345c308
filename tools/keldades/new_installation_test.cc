#include "keldades/new_installation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "data/data_files.h"
#include "keldades/cli.h"
#include "keldades/cli_testing.h"
#include "keldades/records.h"
#include "settings/ini_reader.h"
#include "support/run_state.h"
#include "support/scratch.h"

namespace tarnevos::keldades {
namespace {

using tool_test::Keldades;
using tool_test::Outcome;
using tool_test::SamplePath;

namespace fs = std::filesystem;

// The files below a folder, relative and sorted.
std::vector<std::string> FilesBelow(const std::string& dir) {
  std::vector<std::string> files;
  if (!fs::exists(dir)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) {
      files.push_back(entry.path().lexically_relative(dir).string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

constexpr char kOrvo[] =
    "; the installation's settings\r\n"
    "[Usuari]\r\n"
    "; the language\r\n"
    "Idioma=CAT\r\n"
    "DecCaracter=,\r\n"
    "[Administrador]\r\n"
    "Linia1=\r\n";

// A small but complete set of templates, made as the build makes them.
class NewInstallationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    templates_.Write("Orvo.ini", kOrvo);
    templates_.Write("FORMS/TARNEVOS.KPN", "1,1\r\n");
    templates_.Write("LOCALE/TARNEVOS.LNG", "a,b,c,d\r\n");
    templates_.Write("AJUDA/TARNEVOS.HLP", std::string(80, 'h'));
    templates_.Write("AJUDA/QAVIMENU.HLP", std::string(80, 'q'));
    std::string error;
    ASSERT_TRUE(WriteDictionaries(templates_.path(), error)) << error;
  }
  void TearDown() override { testing::ResetRunState(); }

  Outcome New(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "new");
    arguments.push_back("--templates=" + templates_.path());
    return Keldades(arguments);
  }

  testing::ScratchDir templates_;
  testing::ScratchDir scratch_;
};

TEST_F(NewInstallationTest, LaysOutAnInstallationLoadedFromADataset) {
  const std::string root = scratch_.path() + "finques/nova";
  const Outcome run = New({root, SamplePath(), "--language", "spa"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("new installation in " + root + "/"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("AJUDA/ (2 files)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("3 units"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("cd " + root + " && tarnevos"), std::string::npos);

  // The templates' files, the language set, and the six data files.
  std::vector<std::string> expected = FilesBelow(templates_.path());
  for (const FileLayout& layout : FileLayouts()) {
    expected.push_back(std::string("DADES/") + layout.name + ".dat");
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesBelow(root), expected);
  std::ifstream in(root + "/Orvo.ini", std::ios::binary);
  std::ostringstream orvo;
  orvo << in.rdbuf();
  std::string want = kOrvo;
  want.replace(want.find("Idioma=CAT"), 10, "Idioma=SPA");
  EXPECT_EQ(orvo.str(), want);

  // The data are the dataset's, as `load` would have written them.
  testing::ScratchDir loaded;
  ASSERT_EQ(Keldades({"load", loaded.path(), SamplePath()}).code, 0);
  EXPECT_EQ(Keldades({"dump", root}).out,
            Keldades({"dump", loaded.path()}).out);

  // Without a dataset: six empty data files, the template's language.
  const std::string empty = scratch_.path() + "buida";
  ASSERT_EQ(New({empty}).code, 0);
  EXPECT_EQ(FilesBelow(empty), expected);
  EXPECT_EQ(ReadSetting(empty + "/Orvo.ini", "Usuari", "Idioma"), "CAT");
  EXPECT_NE(Keldades({"dump", empty}).out.find("\"units\": []"),
            std::string::npos);
}

TEST_F(NewInstallationTest, NeverTouchesAFolderThatHoldsAnInstallation) {
  scratch_.Write("a/orvo.INI", "mine");
  scratch_.Write("b/dades/finquesh.dat", "data");
  scratch_.Write("c/notes.txt", "unrelated");
  for (const char* folder : {"a", "b"}) {
    const std::vector<std::string> before =
        FilesBelow(scratch_.path() + folder);
    const Outcome run = New({scratch_.path() + folder, SamplePath()});
    EXPECT_EQ(run.code, 1) << folder;
    EXPECT_NE(run.err.find("already holds an installation"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("keldades load"), std::string::npos);
    EXPECT_NE(run.err.find("nothing was written"), std::string::npos);
    EXPECT_EQ(FilesBelow(scratch_.path() + folder), before);
  }
  EXPECT_NE(New({scratch_.path() + "a"}).err.find("(Orvo.ini)"),
            std::string::npos);
  EXPECT_NE(New({scratch_.path() + "b"}).err.find("(DADES/FinquesH.dat)"),
            std::string::npos);
  // A folder with other files takes a new installation beside them.
  ASSERT_EQ(New({scratch_.path() + "c"}).code, 0);
  EXPECT_EQ(scratch_.Read("c/notes.txt"), "unrelated");
  // ...and only once.
  EXPECT_EQ(New({scratch_.path() + "c"}).code, 1);
}

TEST_F(NewInstallationTest, AFailureLeavesNothingBehind) {
  // A bad dataset is found before anything is written.
  scratch_.Write("bad.json", "{\"units\": [{\"code\": \"9.1\"}]}");
  Outcome run = New({scratch_.path() + "x", scratch_.path() + "bad.json"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("bad.json: "), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(scratch_.path() + "x"));

  // Templates lacking a file are refused by name.
  fs::remove(templates_.path() + "LOCALE/TARNEVOS.LNG");
  run = New({scratch_.path() + "x"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("LOCALE/TARNEVOS.LNG missing"), std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(scratch_.path() + "x"));
  templates_.Write("LOCALE/TARNEVOS.LNG", "a,b,c,d\r\n");

  // The data files cannot be made after the templates were copied (a
  // dictionary of the wrong record length): all of it is removed again,
  // the folders made for it too, and what was there before stays.
  templates_.Write("ddf/PagamH.xdf", DictionaryBytes(LayoutOf(kCobramFile)));
  run = New({scratch_.path() + "deep/x", SamplePath()});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("PagamH.xdf"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(scratch_.path() + "deep"));
  scratch_.Write("kept/notes.txt", "mine");
  EXPECT_EQ(New({scratch_.path() + "kept", SamplePath()}).code, 1);
  EXPECT_EQ(FilesBelow(scratch_.path() + "kept"),
            std::vector<std::string>{"notes.txt"});
}

TEST_F(NewInstallationTest, TheFirstCompleteTemplatesAreFound) {
  testing::ScratchDir partial;
  partial.Write("Orvo.ini", kOrvo);
  std::string error;
  EXPECT_EQ(FindTemplates({partial.path(), templates_.path()}, error),
            templates_.path());
  EXPECT_EQ(FindTemplates({partial.path()}, error), "");
  EXPECT_NE(error.find(partial.path()), std::string::npos) << error;
  EXPECT_NE(error.find("--templates"), std::string::npos) << error;
}

TEST(WithSettingTest, SetsOneKeyOfOneSection) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      // Replaced in place, line end and comment lines kept.
      {"[Usuari]\r\n; c\r\nIdioma=CAT\r\nX=1\r\n",
       "[Usuari]\r\n; c\r\nIdioma=SPA\r\nX=1\r\n"},
      {"[ usuari ]\nidioma =CAT ; comment\n", "[ usuari ]\nidioma =SPA\n"},
      // Only in the first section of that name.
      {"[Altres]\r\nIdioma=CAT\r\n[Usuari]\r\nIdioma=CAT\r\n[Usuari]\r\n"
       "Idioma=CAT\r\n",
       "[Altres]\r\nIdioma=CAT\r\n[Usuari]\r\nIdioma=SPA\r\n[Usuari]\r\n"
       "Idioma=CAT\r\n"},
      // Added to its section, or with a new section at the end.
      {"[Usuari]\r\nX=1\r\n[Rebut]\r\n",
       "[Usuari]\r\nX=1\r\nIdioma=SPA\r\n"
       "[Rebut]\r\n"},
      {"[Usuari]\nX=1", "[Usuari]\nX=1\nIdioma=SPA\n"},
      {"[Rebut]\r\nMembret=S\r\n",
       "[Rebut]\r\nMembret=S\r\n\r\n[Usuari]\r\nIdioma=SPA\r\n"},
      {"", "\n[Usuari]\nIdioma=SPA\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WithSetting(c.text, "Usuari", "Idioma", "SPA"), c.expected)
        << c.text;
  }
}

}  // namespace
}  // namespace tarnevos::keldades
