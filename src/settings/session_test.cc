#include "settings/session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/system/system.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/dates.h"
#include "util/numbers.h"

namespace tarnevos {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

// Runs a test in a scratch directory with every variable the session reads
// unset, and puts the current directory back afterwards.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    char buffer[4096];
    old_dir_ = ::getcwd(buffer, sizeof buffer) ? buffer : ".";
    ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(::chdir(old_dir_.c_str()), 0);
    testing::ResetRunState();
  }
  ScratchDir dir_;
  ScopedEnv env_{
      {"KELROOT", std::nullopt},         {"KELEXE", std::nullopt},
      {"KELTMP", std::nullopt},          {"TERM", std::nullopt},
      {"HTTP_USER_AGENT", std::nullopt}, {"HTTP_ACCEPT", std::nullopt},
      {"WINDIR", std::nullopt},          {"SYSTEMROOT", std::nullopt}};
  std::string old_dir_;
};

TEST_F(SessionTest, NormalisesTheSessionDirectory) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\TMP", "C:\\TMP\\"},   {"C:", "C:"},
      {"C:\\TMP\\", "C:\\TMP\\"}, {"/tmp/s/", "/tmp/s/"},
      {"/tmp/s", "/tmp/s\\"},     {"", ""},
  };
  for (const auto& [keltmp, tmp_dir] : cases) {
    ScopedEnv env{{"KELTMP", keltmp}};
    LoadSessionEnvironment();
    EXPECT_EQ(Session().tmp_dir, tmp_dir) << keltmp;
  }
}

TEST_F(SessionTest, ReadsEverySettingOfAFullSession) {
  dir_.Write("SESSIO/Sessio.ini",
             "[Menu]\r\nTitol=Liquidacions\r\nNomMenu=TARNEVOS\r\nMenu=M01\r\n"
             "ChnMenu=M00\r\nOperador=ANNA\r\nKelTipOper=3\r\n"
             "[Terminal]\r\nDir=T1\r\n");
  dir_.Write(
      "SESSIO/OrvoTerm.ini",
      "[Pantalla]\r\nSeleccio=2\r\nCol0=15000700000700070007\r\n"
      "Col2=14011501000315030007\r\n"
      "[Sistema]\r\nData=20261130\r\nSortida=PANTALLA\r\nIdioma=SPANISH\r\n");
  ScopedEnv env{{"KELROOT", dir_.path() + "ROOT/"},
                {"KELEXE", dir_.path() + "BIN/"},
                {"KELTMP", dir_.path() + "SESSIO/"},
                {"WINDIR", "C:\\WINDOWS"}};
  LoadSessionEnvironment();
  const SessionSettings& s = Session();
  EXPECT_EQ(s.root_dir, dir_.path() + "ROOT/");
  EXPECT_EQ(s.exe_dir, dir_.path() + "BIN/");
  EXPECT_EQ(s.tmp_dir, dir_.path() + "SESSIO/");
  EXPECT_EQ(s.menu_title, " Liquidacions ");
  EXPECT_EQ(s.menu_name, "TARNEVOS");
  EXPECT_EQ(s.menu_id, "M01");
  EXPECT_EQ(s.chain_menu, "M00");
  EXPECT_EQ(s.operator_name, "ANNA");
  EXPECT_EQ(s.operator_type, 3);
  EXPECT_EQ(s.terminal_dir, "T1\\");
  const std::array<std::array<int16_t, 2>, 5> colours = {
      {{14, 1}, {15, 1}, {0, 3}, {15, 3}, {0, 7}}};
  EXPECT_EQ(s.screen_colours, colours);
  EXPECT_EQ(UnpackDigits(s.work_date), "20261130");
  EXPECT_EQ(s.output_target, "PANTALLA");
  EXPECT_EQ(s.language, "SPA");
  EXPECT_EQ(s.host_kind, "WIN");
  EXPECT_EQ(CurrentCurrency(), 'E');
  EXPECT_EQ(CurrencyFor("A"), 'E');
}

TEST_F(SessionTest, MissingSettingsGiveTheDefaults) {
  LoadSessionEnvironment();
  const SessionSettings& s = Session();
  EXPECT_EQ(s.root_dir, "");
  EXPECT_EQ(s.tmp_dir, "");
  EXPECT_EQ(s.terminal_dir, "");
  EXPECT_EQ(s.menu_title, "  ");
  EXPECT_EQ(s.operator_type, 0);
  const std::array<std::array<int16_t, 2>, 5> colours = {
      {{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}}};
  EXPECT_EQ(s.screen_colours, colours);
  EXPECT_EQ(s.work_date, "");
  EXPECT_EQ(s.output_target, "");
  EXPECT_EQ(s.language, "   ");
  EXPECT_EQ(s.host_kind, "DOS");
}

TEST_F(SessionTest, TheTerminalDirectoryStandsInForAMissingKeltmp) {
  // Sessio.ini in the current directory names the terminal directory,
  // where OrvoTerm.ini is then read.
  dir_.Write("Sessio.ini", "[Terminal]\r\nDir=T1\r\n");
  dir_.Write("T1/OrvoTerm.ini", "[Sistema]\r\nIdioma=GLG\r\n");
  LoadSessionEnvironment();
  EXPECT_EQ(Session().terminal_dir, "T1\\");
  EXPECT_EQ(Session().tmp_dir, "T1\\");
  EXPECT_EQ(Session().language, "GLG");

  // Without a Dir key, TERM supplies it.
  dir_.Write("Sessio.ini", "[Menu]\r\nTitol=x\r\n");
  dir_.Write("T2/OrvoTerm.ini", "[Sistema]\r\nIdioma=OCI\r\n");
  ScopedEnv env{{"TERM", "T2"}};
  LoadSessionEnvironment();
  EXPECT_EQ(Session().terminal_dir, "T2\\");
  EXPECT_EQ(Session().language, "OCI");
}

TEST_F(SessionTest, OverridesStandInForTheSessionFilesValues) {
  platform::TEST_SetToday(platform::CalendarDay{2027, 3, 9});
  SessionOverrides overrides;
  overrides.today_when_no_work_date = true;
  overrides.terminal_dir_when_empty = dir_.path();
  overrides.output_target = "PDF:/tmp/x.pdf";
  ScopedEnv env{{"TERM", "xterm"}};

  // Empty date and folder: today's date and the given folder, not TERM.
  dir_.Write("OrvoTerm.ini", "[Sistema]\r\nData=\r\nSortida=PANTALLA\r\n");
  LoadSessionEnvironment(overrides);
  EXPECT_EQ(UnpackDigits(Session().work_date), "20270309");
  EXPECT_EQ(Session().terminal_dir, dir_.path());
  EXPECT_EQ(Session().output_target, "PDF:/tmp/x.pdf");

  // What the files say is kept, except the output the command line names.
  dir_.Write("Sessio.ini", "[Terminal]\r\nDir=T1\r\n");
  dir_.Write("T1/OrvoTerm.ini", "[Sistema]\r\nData=20261130\r\n");
  LoadSessionEnvironment(overrides);
  EXPECT_EQ(UnpackDigits(Session().work_date), "20261130");
  EXPECT_EQ(Session().terminal_dir, "T1\\");
  EXPECT_EQ(Session().output_target, "PDF:/tmp/x.pdf");

  // Without overrides, as the suite has it: TERM names the folder.
  dir_.Write("Sessio.ini", "");
  dir_.Write("xterm/OrvoTerm.ini", "[Sistema]\r\nSortida=PANTALLA\r\n");
  LoadSessionEnvironment();
  EXPECT_EQ(Session().work_date, "");
  EXPECT_EQ(Session().terminal_dir, "xterm\\");
  EXPECT_EQ(Session().output_target, "PANTALLA");
}

TEST_F(SessionTest, ColourSelectionAndShortColourStrings) {
  struct Case {
    const char* pantalla;
    std::array<std::array<int16_t, 2>, 5> colours;
  };
  const Case cases[] = {
      {"Col0=1400\r\nCol1=0101010101010101010\r\n",
       {{{14, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}}},
      {"Seleccio=1\r\nCol0=1400\r\nCol1=0101010101010101010\r\n",
       {{{1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 0}}}},
      {"Seleccio=1\r\nCol0=1400\r\n",  // Col1 missing: the default colours
       {{{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}}}},
      {"Col0=xx99 7  \r\n", {{{0, 99}, {7, 0}, {0, 0}, {0, 0}, {0, 0}}}},
      {"Seleccio=abc\r\nCol0=0102030405060708091\r\n",
       {{{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 1}}}},
  };
  for (const Case& c : cases) {
    dir_.Write("OrvoTerm.ini", std::string("[Pantalla]\r\n") + c.pantalla);
    LoadSessionEnvironment();
    EXPECT_EQ(Session().screen_colours, c.colours) << c.pantalla;
  }
}

TEST_F(SessionTest, TheLanguageFallsBackToTheSystemSettings) {
  dir_.Write("ROOT/Orvo.ini", "[Usuari]\r\nIdioma=SPA\r\n");
  ScopedEnv env{{"KELROOT", dir_.path() + "ROOT/"}};
  const std::pair<const char*, const char*> cases[] = {
      {"", "SPA"},                // no terminal setting
      {"Idioma=\r\n", "SPA"},     // empty
      {"Idioma=   \r\n", "SPA"},  // blank
      {"Idioma=GLG\r\n", "GLG"},
      {"Idioma= GLG\r\n", " GL"},  // a blank after "=" is kept
      {"Idioma=ca\r\n", "ca "},
  };
  for (const auto& [sistema, language] : cases) {
    dir_.Write("OrvoTerm.ini", std::string("[Sistema]\r\n") + sistema);
    LoadSessionEnvironment();
    EXPECT_EQ(Session().language, language) << sistema;
  }
  dir_.Write("ROOT/Orvo.ini", "");
  dir_.Write("OrvoTerm.ini", "");
  LoadSessionEnvironment();
  EXPECT_EQ(Session().language, "   ");  // Catalan
}

TEST_F(SessionTest, DetectsTheHostKind) {
  struct Case {
    const char* agent;
    const char* accept;
    const char* windir;
    const char* systemroot;
    const char* kind;
  };
  const Case cases[] = {
      {"", "", "", "", "DOS"},
      {"", "text/html", "C:\\WINDOWS", "", "CGI"},
      {"Mozilla", "", "", "", "CGI"},
      {"", "", "", "C:\\WINNT", "WIN"},
      {"", "", "C:\\WINDOWS", "", "WIN"},
  };
  for (const Case& c : cases) {
    ScopedEnv env{{"HTTP_USER_AGENT", c.agent},
                  {"HTTP_ACCEPT", c.accept},
                  {"WINDIR", c.windir},
                  {"SYSTEMROOT", c.systemroot}};
    LoadSessionEnvironment();
    EXPECT_EQ(Session().host_kind, c.kind)
        << c.agent << "|" << c.accept << "|" << c.windir << "|" << c.systemroot;
  }
}

TEST_F(SessionTest, OddValuesNeverOverflow) {
  dir_.Write("Sessio.ini",
             "[Menu]\r\nKelTipOper=99999999999999999999999\r\n"
             "Titol=\"Caf\x82\"\r\n");
  dir_.Write("OrvoTerm.ini",
             "[Pantalla]\r\nSeleccio=-99999999999\r\nCol-32768=0102\r\n"
             "[Sistema]\r\nData=2026\r\n");
  LoadSessionEnvironment();
  EXPECT_EQ(Session().operator_type, 32767);
  EXPECT_EQ(Session().menu_title, " Caf\x82 ");
  EXPECT_EQ(Session().screen_colours[0][1], 2);
  EXPECT_EQ(UnpackDigits(Session().work_date), "2026");
}

}  // namespace
}  // namespace tarnevos
