#include "settings/translate.h"

#include <gtest/gtest.h>

#include "settings/ini_reader.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"

namespace tarnevos {
namespace {

using testing::ScratchDir;

class TranslateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    TEST_MutableSession().root_dir = root_.path();
    MutableRun().program_id = "TARNEVOS";
  }
  void TearDown() override { testing::ResetRunState(); }
  void UseLanguage(const char* language) {
    TEST_MutableSession().language = language;
  }
  ScratchDir root_;
};

constexpr char kFile[] =
    "\"Data de tall\",\"Data de corte\",\"Data de talh\",\"Fecha de corte\"\r\n"
    "\"C\xa2pies\",\"Copias\",\"C\x95pias\",\"Copias\"\r\n"
    "Des de,Dende,Dempus,Desde\r\n"
    "Buit,,,\r\n"
    "\"Finca, unitat\"\r\n  \"Finca, unidade\"\r\n"
    "  \"Finca, unitat\", \"Finca, unidad\"\r\n"
    "Des de,segona,segona,segona\r\n"
    "Tallat,nom\xe9s,dos\r\n";

TEST_F(TranslateTest, PicksTheFieldOfTheSessionsLanguage) {
  root_.Write("LOCALE/TARNEVOS.LNG", kFile);
  struct Case {
    const char* language;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"SPA", "Data de tall", "Fecha de corte"},
      {"GLG", "Data de tall", "Data de corte"},
      {"OCI", "Data de tall", "Data de talh"},
      {"SPA", "C\xa2pies", "Copias"},
      {"OCI", "C\xa2pies", "C\x95pias"},
      {"SPA", "Des de", "Desde"},  // the first entry wins
      {"SPA", "Buit", ""},         // found, with an empty translation
      {"GLG", "Finca, unitat", "Finca, unidade"},
      {"SPA", "Finca, unitat", "Finca, unidad"},
      {"SPA", "Tallat", "Tallat"},  // cut short at the end: ignored
      {"SPA", "data de tall", "data de tall"},
      {"SPA", "Data de tall ", "Data de tall "},
      {"SPA", "No hi \xe9s", "No hi \xe9s"},
      {"ENG", "Data de tall", "Data de tall"},
      {"   ", "Data de tall", "Data de tall"},
      {"spa", "Data de tall", "Data de tall"},
  };
  for (const Case& c : cases) {
    UseLanguage(c.language);
    EXPECT_EQ(Translate(c.text), c.expected) << c.language << " " << c.text;
  }
}

TEST_F(TranslateTest, CatalanNeverTouchesTheFile) {
  UseLanguage("CAT");
  EXPECT_EQ(Translate("Data de tall"), "Data de tall");
  EXPECT_FALSE(root_.Exists("LOCALE/TARNEVOS.LNG"));
  EXPECT_FALSE(root_.Exists("LOCALE"));
}

TEST_F(TranslateTest, AMissingFileIsCreatedEmpty) {
  root_.Write("LOCALE/.keep", "");
  for (const char* language : {"SPA", "   ", "XYZ"}) {
    root_.Write("LOCALE/.keep", "");
    UseLanguage(language);
    EXPECT_EQ(Translate("Data de tall"), "Data de tall") << language;
    EXPECT_TRUE(root_.Exists("LOCALE/TARNEVOS.LNG")) << language;
    EXPECT_EQ(root_.Read("LOCALE/TARNEVOS.LNG"), "");
  }
  // Without the folder nothing can be created; the text stays.
  ScratchDir bare;
  TEST_MutableSession().root_dir = bare.path();
  UseLanguage("SPA");
  EXPECT_EQ(Translate("Data de tall"), "Data de tall");
  EXPECT_EQ(LanguageFilePath(), bare.path() + "LOCALE\\TARNEVOS.LNG");
}

TEST_F(TranslateTest, FindsTheFileWhateverTheCaseOfItsName) {
  root_.Write("locale/tarnevos.lng", kFile);
  UseLanguage("SPA");
  EXPECT_EQ(Translate("Data de tall"), "Fecha de corte");
  EXPECT_FALSE(root_.Exists("locale/TARNEVOS.LNG"));
}

// A language file larger than any real one is damage: the texts stay in
// Catalan, quickly, and the file is noted for the driver to name.
TEST_F(TranslateTest, AnOversizedFileIsNotReadAndIsNoted) {
  root_.Write("LOCALE/TARNEVOS.LNG",
              std::string(kFile) + std::string(kMaxSettingsFileBytes, ' '));
  UseLanguage("SPA");
  EXPECT_EQ(Translate("Des de"), "Des de");
  EXPECT_EQ(OversizedFile(), LanguageFilePath());
}

}  // namespace
}  // namespace tarnevos
