#include "driver/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/system/system.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/dates.h"

namespace tarnevos {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    char buffer[4096];
    old_dir_ = ::getcwd(buffer, sizeof buffer) ? buffer : ".";
    ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
    dir_.Write("ROOT/Orvo.ini", "[Usuari]\r\nIdioma=GLG\r\n");
    dir_.Write("libexec/KELPRINT", "");
  }
  void TearDown() override {
    EXPECT_EQ(::chdir(old_dir_.c_str()), 0);
    testing::ResetRunState();
  }

  ScratchDir dir_;
  ScopedEnv env_{
      {"KELROOT", std::nullopt},      {"KELTMP", std::nullopt},
      {"KELEXE", std::nullopt},       {"XDG_RUNTIME_DIR", std::nullopt},
      {"HOME", dir_.path() + "home"}, {"TERM", "xterm"}};
  std::string old_dir_;
};

// Started from inside an installation without any variable, the program
// runs on it with a private session it makes itself, and the print program
// it starts learns the same folders.
TEST_F(StartupTest, WithoutVariablesTheCurrentInstallationAndAPrivateSession) {
  ASSERT_EQ(::chdir((dir_.path() + "ROOT").c_str()), 0);
  platform::TEST_SetToday(platform::CalendarDay{2026, 12, 31});
  DriverOptions options;
  options.output = "PDF:/tmp/informe é.pdf";
  StartPlan plan;
  std::string message;
  ASSERT_TRUE(PrepareStart(options, {dir_.path() + "libexec/"}, plan, message))
      << message;
  const std::string session = dir_.path() + "home/.local/state/tarnevos/";
  EXPECT_EQ(platform::GetEnv("KELROOT"), dir_.path() + "ROOT/");
  EXPECT_EQ(platform::GetEnv("KELTMP"), session);
  EXPECT_EQ(platform::GetEnv("KELEXE"), dir_.path() + "libexec/");

  LoadSessionEnvironment(plan.overrides);
  EXPECT_EQ(Session().menu_name, "TARNEVOS");
  EXPECT_EQ(Session().menu_title, " COMUNIDADES DE PROPIETARIOS ");
  EXPECT_EQ(Session().tmp_dir, session);
  EXPECT_EQ(Session().terminal_dir, session);
  EXPECT_EQ(UnpackDigits(Session().work_date), "20261231");
  EXPECT_EQ(Session().output_target, "PDF:/tmp/informe \x82.pdf");
  EXPECT_EQ(Session().language, "GLG");
}

// Under the suite's menu the variables rule and the session is the menu's.
TEST_F(StartupTest, TheSuitesVariablesAreKeptAndOptionsComeFirst) {
  dir_.Write("SESSIO/OrvoTerm.ini", "[Sistema]\r\nSortida=PANTALLA\r\n");
  ScopedEnv env{{"KELROOT", dir_.path() + "ROOT/"},
                {"KELTMP", dir_.path() + "SESSIO/"},
                {"KELEXE", dir_.path() + "BIN/"}};
  StartPlan plan;
  std::string message;
  ASSERT_TRUE(PrepareStart({}, {dir_.path() + "libexec/"}, plan, message));
  EXPECT_FALSE(dir_.Exists("SESSIO/Sessio.ini"));
  EXPECT_FALSE(plan.overrides.today_when_no_work_date);
  EXPECT_FALSE(plan.overrides.output_target.has_value());
  LoadSessionEnvironment(plan.overrides);
  EXPECT_EQ(Session().terminal_dir, "xterm\\");
  EXPECT_EQ(Session().exe_dir, dir_.path() + "BIN/");

  dir_.Write("OTHER/Orvo.ini", "");
  DriverOptions options;
  options.root = dir_.path() + "OTHER";
  options.session = dir_.path() + "MINE";
  ASSERT_TRUE(PrepareStart(options, {}, plan, message)) << message;
  EXPECT_EQ(platform::GetEnv("KELROOT"), dir_.path() + "OTHER/");
  EXPECT_EQ(platform::GetEnv("KELTMP"), dir_.path() + "MINE/");
  EXPECT_TRUE(dir_.Exists("MINE/OrvoTerm.ini"));
}

TEST_F(StartupTest, NoInstallationOrNoSessionFolderStopsTheStart) {
  StartPlan plan;
  std::string message;
  EXPECT_FALSE(PrepareStart({}, {}, plan, message));
  EXPECT_EQ(message.find("tarnevos: no installation found: "), 0u) << message;
  EXPECT_NE(message.find("keldades new"), std::string::npos);
  EXPECT_EQ(platform::GetEnv("KELROOT"), "");
  EXPECT_EQ(platform::GetEnv("KELTMP"), "");

  dir_.Write("file", "");
  DriverOptions options;
  options.root = dir_.path() + "ROOT";
  options.session = dir_.path() + "file";
  EXPECT_FALSE(PrepareStart(options, {}, plan, message));
  EXPECT_EQ(message.find("tarnevos: the session folder cannot be used"), 0u)
      << message;
}

}  // namespace
}  // namespace tarnevos
