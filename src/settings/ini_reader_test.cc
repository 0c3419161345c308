#include "settings/ini_reader.h"

#include <gtest/gtest.h>

#include "support/scratch.h"
#include "util/codepage.h"

namespace tarnevos {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

struct Lookup {
  const char* contents;
  const char* section;
  const char* key;
  const char* expected;
};

void ExpectLookups(const std::vector<Lookup>& lookups) {
  for (const Lookup& l : lookups) {
    EXPECT_EQ(ReadSettingFromText(l.contents, l.section, l.key), l.expected)
        << "[" << l.section << "] " << l.key << " in:\n"
        << l.contents;
  }
}

TEST(IniReaderTest, KeepsValuesExactlyAsWritten) {
  ExpectLookups({
      {"[Menu]\r\nTitol = Hola\r\n", "Menu", "Titol", " Hola"},
      {"[Sistema]\r\nIdioma=SPA ;comment\r\n", "Sistema", "Idioma", "SPA "},
      {"[S]\r\nK=\"quoted value\"\r\n", "S", "K", "quoted value"},
      {"[S]\r\nK=\"\r\n", "S", "K", "\""},
      {"[S]\r\nK=\"\"\r\n", "S", "K", ""},
      {"[S]\r\nK= \"a\" \r\n", "S", "K", " \"a\" "},  // not at both ends
      {"[S]\r\nK=\"a;b\"\r\n", "S", "K", "\"a"},      // a ";" always cuts
      {"[S]\r\nK=a=b\r\n", "S", "K", "a=b"},
      {"[S]\r\nK=MixedCase\r\n", "S", "K", "MixedCase"},
      {"[S]\r\nK=\r\n", "S", "K", ""},
  });
}

TEST(IniReaderTest, MatchesSectionsAndKeysTrimmedIgnoringCase) {
  ExpectLookups({
      {"[ menu ]\r\ntitol=\r\nTitol=x\r\n", "Menu", "Titol", ""},
      {"[MENU]\r\n   TITOL   =x\r\n", " menu ", " titol ", "x"},
      {"\t[Menu]\r\n\tTitol=x\r\n", "Menu", "Titol", "x"},
      {"[Menu\r\nTitol=x\r\n", "Menu", "Titol", "x"},  // no "]"
      {"[Menu] trailing\r\nTitol=x\r\n", "Menu", "Titol", "x"},
      {"[Menu]\r\nTitol2=a\r\nTitol=b\r\n", "Menu", "Titol", "b"},
      {"[Menu]\r\nTitol=a\r\nTitol=b\r\n", "Menu", "Titol", "a"},
      {"[Menu]\r\n; Titol=a\r\nTitol=b\r\n", "Menu", "Titol", "b"},
      {"[Menú]\r\nK=v\r\n", "MENú", "K", "v"},  // only a-z are folded
      {"[Menú]\r\nK=v\r\n", "MENÚ", "K", ""},
  });
}

TEST(IniReaderTest, FindsOnlyKeysOfTheFirstSectionOfThatName) {
  ExpectLookups({
      {"[A]\r\nX=1\r\n[B]\r\nY=2\r\n[A]\r\nY=3\r\n", "A", "Y", ""},
      {"[A]\r\nX=1\r\n[B]\r\nY=2\r\n", "A", "Y", ""},
      {"K=top\r\n[A]\r\nX=1\r\n", "A", "K", ""},
      {"K=top\r\n[A]\r\n", "", "K", ""},
      {"[A]\r\nX=1\r\n", "B", "X", ""},
      {"[A]\r\nnot a key line\r\nX=1\r\n", "A", "X", "1"},
      {"; [A]\r\n[B]\r\nX=1\r\n", "A", "X", ""},
      {"", "A", "X", ""},
  });
}

TEST(IniReaderTest, AcceptsAnyLineEndAndOddBytes) {
  ExpectLookups({
      {"[A]\nX=lf\n", "A", "X", "lf"},
      {"[A]\rX=cr\r", "A", "X", "cr"},
      {"[A]\r\nX=last", "A", "X", "last"},
      {"[A]\r\n\r\n\n\rX=gaps\r\n", "A", "X", "gaps"},
      {"[A]\r\nX=a\tb \r\n", "A", "X", "a\tb "},
  });
  EXPECT_EQ(ReadSettingFromText(std::string("[A]\r\nX=a\0b\r\n", 12), "A", "X"),
            std::string("a\0b", 3));
  EXPECT_EQ(ReadSettingFromText(std::string("[A\0]\r\nX=1\r\n", 11),
                                std::string("A\0", 2), "X"),
            "1");
  std::string long_value(200000, 'v');
  EXPECT_EQ(ReadSettingFromText("[A]\r\n" + std::string(100000, ' ') +
                                    "X=" + long_value + "\r\n",
                                "A", "X"),
            long_value);
}

TEST(IniReaderTest, ReadsFilesAndTheSystemSettingsFile) {
  ScratchDir dir;
  dir.Write("Sessio.ini", "[Menu]\r\nTitol=Liquidacions\r\n");
  EXPECT_EQ(ReadSetting(dir.path() + "Sessio.ini", "Menu", "Titol"),
            "Liquidacions");
  // Suite paths: backslashes and names that differ in case are found.
  dir.Write("DADES/orvo.INI", "[Usuari]\r\nIdioma=SPA\r\n");
  EXPECT_EQ(ReadSetting(dir.path() + "dades\\Orvo.ini", "Usuari", "Idioma"),
            "SPA");
  EXPECT_EQ(ReadSetting(dir.path() + "missing.ini", "Menu", "Titol"), "");
  EXPECT_EQ(ReadSetting(dir.path(), "Menu", "Titol"), "");  // a directory
  EXPECT_EQ(ReadSetting("", "Menu", "Titol"), "");

  ScopedEnv env{{"KELROOT", dir.path() + "DADES\\"}};
  EXPECT_EQ(SystemSettingsFile(), dir.path() + "DADES\\Orvo.ini");
  EXPECT_EQ(ReadSetting(SystemSettingsFile(), "usuari", "IDIOMA"), "SPA");
}

// A settings file larger than any real one is damage: it reads as missing
// and is noted (the first such file) for the driver to name.
TEST(IniReaderTest, AnOversizedFileReadsAsMissingAndIsNoted) {
  ScratchDir dir;
  TEST_ResetOversizedFile();
  const std::string big = "[Menu]\r\nTitol=X\r\n" +
                          std::string(kMaxSettingsFileBytes, ';') + "\r\n";
  dir.Write("Sessio.ini", big);
  dir.Write("Orvo.ini", big);
  dir.Write("small.ini", "[Menu]\r\nTitol=Y\r\n");
  EXPECT_EQ(ReadSetting(dir.path() + "small.ini", "Menu", "Titol"), "Y");
  EXPECT_EQ(OversizedFile(), "");
  EXPECT_EQ(ReadSetting(dir.path() + "Sessio.ini", "Menu", "Titol"), "");
  EXPECT_EQ(ReadSetting(dir.path() + "Orvo.ini", "Menu", "Titol"), "");
  EXPECT_EQ(OversizedFile(), dir.path() + "Sessio.ini");
  EXPECT_EQ(
      OversizedFileMessage(OversizedFile()),
      Cp850("FITXER INCORRECTE: " + dir.path() + "Sessio.ini: ÉS MASSA GRAN"));
  TEST_ResetOversizedFile();
}

}  // namespace
}  // namespace tarnevos
