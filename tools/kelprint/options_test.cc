#include "kelprint/options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "kelprint/kelprint_app.h"
#include "platform/system/system.h"
#include "settings/session.h"
#include "support/run_state.h"
#include "support/scratch.h"

namespace tarnevos::kelprint {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

TEST(KelprintOptionsTest, ReadsTheCommandLine) {
  KelprintArguments parsed = ParseKelprintArguments(
      {"--output", "PDF:a.pdf", "--session=/s", "--root", "/r", "file.tmp"});
  EXPECT_EQ(parsed.action, KelprintAction::kRun);
  EXPECT_EQ(parsed.device, "PDF:a.pdf");
  EXPECT_EQ(parsed.session, "/s");
  EXPECT_EQ(parsed.root, "/r");
  EXPECT_EQ(parsed.file, "file.tmp");
  // --device is the older name; an empty device is the preview.
  parsed = ParseKelprintArguments({"--device="});
  EXPECT_EQ(parsed.device, "");
  EXPECT_FALSE(ParseKelprintArguments({}).device.has_value());

  const struct {
    std::vector<std::string> arguments;
    KelprintAction action;
    std::string error;
  } cases[] = {
      {{"--help"}, KelprintAction::kHelp, ""},
      {{"a.tmp", "--version"}, KelprintAction::kVersion, ""},
      {{"--frobnicate"},
       KelprintAction::kUsageError,
       "unknown option --frobnicate"},
      {{"a", "b"}, KelprintAction::kUsageError, "more than one print file"},
      {{"--session"}, KelprintAction::kUsageError, "--session needs a value"},
      {{"--root="}, KelprintAction::kUsageError, "--root needs a folder"},
  };
  for (const auto& c : cases) {
    parsed = ParseKelprintArguments(c.arguments);
    EXPECT_EQ(parsed.action, c.action) << c.arguments[0];
    EXPECT_EQ(parsed.error, c.error) << c.arguments[0];
  }
}

class KelprintLocationsTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetRunState(); }
  void TearDown() override { testing::ResetRunState(); }

  int Run(const std::vector<std::string>& arguments) {
    out_.str("");
    err_.str("");
    return KelprintMain(arguments, nullptr, out_, err_);
  }

  ScratchDir scratch_;
  ScopedEnv env_{{"KELTMP", scratch_.path() + "suite/"},
                 {"KELROOT", std::nullopt},
                 {"XDG_RUNTIME_DIR", std::nullopt},
                 {"HOME", scratch_.path() + "home"}};
  std::ostringstream out_;
  std::ostringstream err_;
};

constexpr const char* kOnePage = "DEVICETXT\r\nPAGE 66 \r\n 1 ,mine, 1 \r\n";

TEST_F(KelprintLocationsTest, TheSessionComesFromOptionVariableOrDefault) {
  scratch_.Write("suite/kelprint.tmp", kOnePage);
  scratch_.Write("other/kelprint.tmp", kOnePage);
  scratch_.Write("home/.local/state/tarnevos/kelprint.tmp", kOnePage);

  ASSERT_EQ(Run({"--session", scratch_.path() + "other"}), kExitOk)
      << err_.str();
  EXPECT_EQ(scratch_.Read("other/kelprint.txt"), "mine\n");
  EXPECT_FALSE(scratch_.Exists("suite/kelprint.txt"));

  // (A run exports what it decided, for the programs it would start.)
  EXPECT_EQ(platform::GetEnv("KELTMP"), scratch_.path() + "other/");
  ScopedEnv suite{{"KELTMP", scratch_.path() + "suite/"}};
  ASSERT_EQ(Run({}), kExitOk) << err_.str();
  EXPECT_EQ(scratch_.Read("suite/kelprint.txt"), "mine\n");

  // No variable: the private session tarnevos keeps, nothing made there.
  ScopedEnv env{{"KELTMP", std::nullopt}};
  ASSERT_EQ(Run({"--output", "TXT:" + scratch_.path() + "out.txt"}), kExitOk)
      << err_.str();
  EXPECT_EQ(scratch_.Read("out.txt"), "mine\n");
  EXPECT_FALSE(scratch_.Exists("home/.local/state/tarnevos/Sessio.ini"));
}

TEST_F(KelprintLocationsTest, HelpVersionAndBadArgumentsEndAtOnce) {
  EXPECT_EQ(Run({"--help"}), kExitOk);
  EXPECT_EQ(out_.str(), KelprintUsage());
  EXPECT_EQ(Run({"--version"}), kExitOk);
  EXPECT_EQ(out_.str(), KelprintVersion());
  EXPECT_EQ(out_.str().rfind("kelprint ", 0), 0u);

  EXPECT_EQ(Run({"--colour"}), kExitUsage);
  EXPECT_EQ(out_.str(), "");
  EXPECT_NE(err_.str().find("unknown option --colour"), std::string::npos);
  EXPECT_NE(err_.str().find("usage: kelprint"), std::string::npos);

  EXPECT_EQ(Run({"--root", scratch_.path()}), kExitUsage);
  EXPECT_NE(err_.str().find("not an installation"), std::string::npos)
      << err_.str();
  EXPECT_EQ(platform::GetEnv("KELTMP"), scratch_.path() + "suite/");
}

}  // namespace
}  // namespace tarnevos::kelprint
