#include "kelprint/kelprint_app.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/console/memory_console.h"
#include "settings/session.h"
#include "support/scratch.h"

namespace tarnevos::kelprint {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

// A memory console that leaves its last screen behind when it goes, so the
// test can look at what the preview showed.
class RecordingConsole : public platform::MemoryConsole {
 public:
  explicit RecordingConsole(std::string* screen) : screen_(screen) {}
  ~RecordingConsole() override { *screen_ = Dump(); }

 private:
  std::string* screen_;
};

class KelprintAppTest : public ::testing::Test {
 protected:
  KelprintAppTest()
      : env_({{"KELTMP", scratch_.path()},
              {"KELROOT", scratch_.path()},
              {"KELEXE", std::nullopt}}) {}
  ~KelprintAppTest() override { TEST_ResetSession(); }

  int Run(const std::vector<std::string>& arguments,
          const TerminalOpener& opener = nullptr) {
    out_.str("");
    err_.str("");
    return KelprintMain(arguments, opener, out_, err_);
  }

  // A script standing in for the spooler's lp command.
  void FakeLp(int exit_code) {
    std::string script = "#!/bin/sh\necho \"$@\" > '" + scratch_.path() +
                         "lp-args'\nexit " + std::to_string(exit_code) + "\n";
    scratch_.Write("bin/lp", script);
    ::chmod((scratch_.path() + "bin/lp").c_str(), 0755);
  }

  ScratchDir scratch_;
  ScopedEnv env_;
  std::ostringstream out_;
  std::ostringstream err_;
};

constexpr const char* kTwoPages =
    "DEVICETXT\r\nPAGE 66 \r\n 3 ,one, 1 \r\nPAGE 66 \r\n 1 ,two, 1 \r\n";

TEST_F(KelprintAppTest, DefaultPrintFileAndDeviceDefaults) {
  scratch_.Write("kelprint.tmp", kTwoPages);
  EXPECT_EQ(Run({}), kExitOk) << err_.str();
  EXPECT_EQ(scratch_.Read("kelprint.txt"), "  one\n\ftwo\n");
  EXPECT_NE(
      out_.str().find("2 pages written to " + scratch_.path() + "kelprint.txt"),
      std::string::npos)
      << out_.str();
  EXPECT_EQ(err_.str(), "");

  EXPECT_EQ(Run({"--device=pdf"}), kExitOk) << err_.str();
  EXPECT_EQ(scratch_.Read("kelprint.pdf").substr(0, 5), "%PDF-");

  EXPECT_EQ(Run({"--device= TXT:" + scratch_.path() + "named.txt "}), kExitOk);
  EXPECT_EQ(scratch_.Read("named.txt"), "  one\n\ftwo\n");
}

TEST_F(KelprintAppTest, ExplicitFileWithItsOwnDevice) {
  scratch_.Write("other.tmp",
                 "DEVICEtxt:" + scratch_.path() + "other.txt\r\n 2 ,x, 1 \r\n");
  EXPECT_EQ(Run({scratch_.path() + "other.tmp"}), kExitOk) << err_.str();
  EXPECT_EQ(scratch_.Read("other.txt"), " x\n");
}

TEST_F(KelprintAppTest, UnreadablePrintFileFailsWithItsName) {
  EXPECT_EQ(Run({}), kExitNoPrintFile);
  EXPECT_NE(err_.str().find(scratch_.path() + "kelprint.tmp"),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(Run({scratch_.path()}), kExitNoPrintFile);  // a directory
  EXPECT_EQ(Run({"a", "b"}), kExitUsage);
  EXPECT_EQ(Run({"--bogus"}), kExitUsage);
}

TEST_F(KelprintAppTest, BadLinesAreNamedAndTheRestIsRendered) {
  scratch_.Write("kelprint.tmp",
                 "DEVICETXT\r\n 1 ,ok, 1 \r\nFOO\r\n x ,y, 1 \r\n");
  EXPECT_EQ(Run({}), kExitOk);
  EXPECT_NE(err_.str().find("kelprint.tmp line 3: unknown command (1 more"),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(scratch_.Read("kelprint.txt"), "ok\ny\n");
}

TEST_F(KelprintAppTest, OutputThatCannotBeWrittenFails) {
  scratch_.Write("kelprint.tmp", kTwoPages);
  for (std::string device : {"TXT:", "PDF:"}) {
    SCOPED_TRACE(device);
    EXPECT_EQ(Run({"--device=" + device + scratch_.path() + "no/such/file"}),
              kExitNoOutput);
    EXPECT_NE(err_.str().find("cannot write"), std::string::npos);
  }
}

TEST_F(KelprintAppTest, PreviewShowsPagesAndNotices) {
  scratch_.Write("kelprint.tmp",
                 "DEVICELPT9\r\nPAGE 66 \r\n 1 ,hello, 1 \r\n???\r\n");
  std::string screen;
  auto opener = [&](std::string&) -> std::unique_ptr<platform::Console> {
    auto console = std::make_unique<RecordingConsole>(&screen);
    console->PushKey(27);
    return console;
  };
  EXPECT_EQ(Run({}, opener), kExitOk);
  EXPECT_EQ(screen.substr(0, 5), "hello");
  EXPECT_NE(screen.find("Unknown device \"LPT9\""), std::string::npos)
      << screen;
  EXPECT_NE(screen.find("line 4: unknown command"), std::string::npos);
  EXPECT_NE(err_.str().find("Unknown device"), std::string::npos);

  auto no_terminal =
      [](std::string& error) -> std::unique_ptr<platform::Console> {
    error = "not a tty";
    return nullptr;
  };
  EXPECT_EQ(Run({"--device=PANTALLA"}, no_terminal), kExitNoOutput);
  EXPECT_NE(err_.str().find("no terminal for the preview: not a tty"),
            std::string::npos);
}

TEST_F(KelprintAppTest, SpoolerGetsThePdf) {
  scratch_.Write("kelprint.tmp", kTwoPages);
  ScopedEnv path({{"PATH", scratch_.path() + "bin"}});
  FakeLp(0);
  EXPECT_EQ(Run({"--device=LP:office"}), kExitOk) << err_.str();
  EXPECT_EQ(scratch_.Read("lp-args"),
            "-d office " + scratch_.path() + "kelprint.pdf\n");
  EXPECT_EQ(scratch_.Read("kelprint.pdf").substr(0, 5), "%PDF-");

  EXPECT_EQ(Run({"--device=lpt1"}), kExitOk);
  EXPECT_EQ(scratch_.Read("lp-args"), scratch_.path() + "kelprint.pdf\n");

  FakeLp(3);
  EXPECT_EQ(Run({"--device=LP"}), kExitNoOutput);
  EXPECT_NE(err_.str().find("lp failed with exit code 3"), std::string::npos)
      << err_.str();
}

TEST_F(KelprintAppTest, MissingSpoolerIsExplained) {
  scratch_.Write("kelprint.tmp", kTwoPages);
  ScopedEnv path({{"PATH", scratch_.path() + "empty-bin"}});
  EXPECT_EQ(Run({"--device=LP"}), kExitNoOutput);
  EXPECT_NE(err_.str().find("lp is not available"), std::string::npos);
  EXPECT_NE(err_.str().find(scratch_.path() + "kelprint.pdf"),
            std::string::npos);
}

}  // namespace
}  // namespace tarnevos::kelprint
