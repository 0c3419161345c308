// The demo installation's settings files, read as the program reads them.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "settings/ini_reader.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"
#include "util/dates.h"
#include "util/numbers.h"

namespace tarnevos {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;
using testing::SourceDir;

// The demo's sources are UTF-8 with LF; the installation has CP850 with
// CR LF, as the build lays it out.
std::string Installed(const std::string& relative) {
  std::ifstream in(SourceDir() + "/demo/" + relative, std::ios::binary);
  std::ostringstream utf8;
  utf8 << in.rdbuf();
  std::string crlf;
  for (char c : Cp850(utf8.str())) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

class DemoSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("ROOT/Orvo.ini", Installed("root/Orvo.ini"));
    dir_.Write("SESSIO/Sessio.ini", Installed("session/Sessio.ini"));
    dir_.Write("SESSIO/OrvoTerm.ini", Installed("session/OrvoTerm.ini"));
    testing::ResetRunState();
  }
  void TearDown() override { testing::ResetRunState(); }
  ScratchDir dir_;
  ScopedEnv env_{{"KELROOT", dir_.path() + "ROOT/"},
                 {"KELTMP", dir_.path() + "SESSIO/"},
                 {"KELEXE", dir_.path() + "BIN/"}};
};

TEST_F(DemoSettingsTest, TheSessionIsComplete) {
  LoadSessionEnvironment();
  const SessionSettings& s = Session();
  EXPECT_NE(s.menu_title, "  ");
  EXPECT_EQ(s.menu_name, "TARNEVOS");
  EXPECT_EQ(s.language, "CAT");
  EXPECT_EQ(UnpackDigits(s.work_date), "20261130");
  EXPECT_EQ(s.output_target, "PANTALLA");
  // The terminal directory is the session's own, seen from the root.
  EXPECT_EQ(s.terminal_dir, "..\\SESSIO\\");
  for (const auto& role : s.screen_colours) {
    for (int16_t colour : role) {
      EXPECT_GE(colour, 0);
      EXPECT_LE(colour, 15);
    }
  }
  EXPECT_NE(s.screen_colours[0], s.screen_colours[4]);
}

TEST_F(DemoSettingsTest, TheAdministratorAndTheFeesAreSet) {
  LoadAdministratorLines();
  LoadFeeSettings();
  const RunValues& run = tarnevos::Run();
  for (int line = 1; line <= 5; ++line) {
    EXPECT_FALSE(run.administrator_lines[line].empty()) << line;
    EXPECT_NE(run.administrator_lines[line].back(), ' ') << line;
  }
  EXPECT_EQ(run.administrator_lines[7].substr(0, 2), "ES");
  EXPECT_EQ(run.administrator_lines[7].size(), 11u);
  EXPECT_EQ(run.letterhead_mode, "S");
  EXPECT_EQ(run.fee_vat_rate[0], 0);
  EXPECT_EQ(run.fee_vat_rate[1], 21);
  EXPECT_EQ(run.fee_withholding_rate[0], 0);
  EXPECT_EQ(run.fee_withholding_rate[1], 15);
}

// The same three files written in UTF-8, as a Linux editor saves them (LF,
// with and without the byte-order mark), give the same session, the same
// administrator's lines and the same fees.
TEST_F(DemoSettingsTest, SettingsWrittenInUtf8ReadAsTheirCp850Originals) {
  LoadSessionEnvironment();
  LoadAdministratorLines();
  LoadFeeSettings();
  const SessionSettings cp850_session = Session();
  const RunValues cp850_run = tarnevos::Run();
  ASSERT_NE(cp850_run.administrator_lines[6].find('\xFA'), std::string::npos)
      << "the demo's line 6 holds a CP850 middle dot";

  auto source = [](const std::string& relative) {
    std::ifstream in(SourceDir() + "/demo/" + relative, std::ios::binary);
    std::ostringstream utf8;
    utf8 << in.rdbuf();
    return utf8.str();
  };
  dir_.Write("ROOT/Orvo.ini", "\xEF\xBB\xBF" + source("root/Orvo.ini"));
  dir_.Write("SESSIO/Sessio.ini", source("session/Sessio.ini"));
  dir_.Write("SESSIO/OrvoTerm.ini", source("session/OrvoTerm.ini"));
  testing::ResetRunState();
  LoadSessionEnvironment();
  LoadAdministratorLines();
  LoadFeeSettings();
  const SessionSettings& s = Session();
  EXPECT_EQ(s.menu_title, cp850_session.menu_title);
  EXPECT_EQ(s.menu_name, cp850_session.menu_name);
  EXPECT_EQ(s.terminal_dir, cp850_session.terminal_dir);
  EXPECT_EQ(s.screen_colours, cp850_session.screen_colours);
  EXPECT_EQ(s.work_date, cp850_session.work_date);
  EXPECT_EQ(s.output_target, cp850_session.output_target);
  EXPECT_EQ(s.language, cp850_session.language);
  const RunValues& run = tarnevos::Run();
  for (int line = 1; line <= 7; ++line) {
    EXPECT_EQ(run.administrator_lines[line],
              cp850_run.administrator_lines[line])
        << line;
  }
  EXPECT_EQ(run.letterhead_mode, cp850_run.letterhead_mode);
  EXPECT_EQ(run.fee_vat_rate, cp850_run.fee_vat_rate);
  EXPECT_EQ(run.fee_withholding_rate, cp850_run.fee_withholding_rate);
  SelectCurrency("a,E");
  EXPECT_EQ(FormatAmount("ZZ,ZZZ,ZZ9", 123456), "  1.234,56");
}

TEST_F(DemoSettingsTest, NumbersAndDatesUseTheDemosCharacters) {
  SelectCurrency("a,E");
  EXPECT_EQ(FormatAmount("ZZ,ZZZ,ZZ9", 123456), "  1.234,56");
  TEST_MutableSession().language = "CAT";
  EXPECT_EQ(FormatDate(PackDigits("20261130"), 0, "DMA"), "30/11/2026");
}

}  // namespace
}  // namespace tarnevos
