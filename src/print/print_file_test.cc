#include "print/print_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "console/keyboard.h"
#include "console/windows.h"
#include "platform/console/memory_console.h"
#include "platform/system/system.h"
#include "settings/session.h"
#include "support/failing_files.h"
#include "support/run_state.h"
#include "support/scratch.h"
#include "util/codepage.h"

namespace tarnevos {
namespace {

using platform::MemoryConsole;
using testing::ScratchDir;

// A memory console that remembers what the screen showed each time the
// program asked for a key, so that a message box closed by that key can
// still be checked.
class SnapshotConsole : public MemoryConsole {
 public:
  platform::InputEvent PollEvent() override {
    if (PendingEvents() > 0) shown_at_key_.push_back(Dump());
    return MemoryConsole::PollEvent();
  }
  std::string AllShown() const {
    std::string all;
    for (const std::string& screen : shown_at_key_) all += screen;
    return all;
  }

 private:
  std::vector<std::string> shown_at_key_;
};

class PrintFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetRunState();
    platform::SetConsole(&console_);
    TEST_MutableSession().tmp_dir = scratch_.path();
    TEST_MutableSession().exe_dir = "/opt/kel/";
  }
  void TearDown() override {
    testing::ResetRunState();
    platform::SetConsole(nullptr);
  }
  std::string Written() const { return scratch_.Read("kelprint.tmp"); }

  ScratchDir scratch_;
  SnapshotConsole console_;
};

struct LineCase {
  const char* what;
  std::function<void()> calls;
  std::string expected;  // after the device line
};

TEST_F(PrintFileTest, EachOperationWritesItsLineByteForByte) {
  const std::string control_bytes = std::string("A\tB") + '\0' + "\x1f\x7f" +
                                    "\xff" + "\x80\xfe" + Cp850("é");
  const std::vector<LineCase> cases = {
      {"text at 85, 9 line feeds", [] { PrintText(85, "ABC", 9); },
       " 85 ,ABC, 9 \r\n"},
      {"zero column and line feeds", [] { PrintText(0, "", 0); },
       " 0 ,, 0 \r\n"},
      {"negative column", [] { PrintText(-5, "X", 0); }, "-5 ,X, 0 \r\n"},
      {"texts keep their commas", [] { PrintText(1, "1,234,56", 1); },
       " 1 ,1,234,56, 1 \r\n"},
      {"controls, 127 and 255 become blanks; other bytes stay",
       [&] { PrintText(3, control_bytes, 0); },
       " 3 ,A B    \x80\xfe" + Cp850("é") + ", 0 \r\n"},
      {"page line", [] { PrintPage(66); }, "PAGE 66 \r\n"},
      {"control line", [] { PrintControl("@e"); }, "*@e\r\n"},
      {"control text unchanged", [] { PrintControl(" q\x1b"); }, "* q\x1b\r\n"},
      {"line ends in a control would split its line",
       [] { PrintControl("a\r\nb"); }, "*a  b\r\n"},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.what);
    OpenPrintFile("PDF:out.pdf");
    c.calls();
    ClosePrintFile();
    EXPECT_EQ(Written(), "DEVICEPDF:out.pdf\r\n" + c.expected);
  }
}

TEST_F(PrintFileTest, JustificationIsNormalisedInFileAndCallerVariable) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"r", "D"},
      {"  Dreta ", "D"},
      {"c", "C"},
      {"A", "A"},
      {"b", "A"},
      {"x", "E"},
      {"", "E"},
      {"   ", "E"},
      {"1", "E"},
      {"n2\\#,##0.00\\", "N 2 \\#,##0.00\\"},
      {" N-3.7 \\99\\ rest\\", "N 3 \\99\\"},
      {"N", "N 0 "},
      {"n 12 \\abc", "N 12 \\abc"},
      {"N99999999", "N 32767 "},
      {"N1\\a\r\nb\\", "N 1 \\a  b\\"},
  };
  for (const auto& [given, normalised] : cases) {
    SCOPED_TRACE("code '" + given + "'");
    OpenPrintFile("");
    std::string code = given;
    PrintJustify(code);
    ClosePrintFile();
    EXPECT_EQ(code, normalised);
    EXPECT_EQ(Written(), "DEVICE\r\nJUS" + normalised + "\r\n");
  }
}

TEST_F(PrintFileTest, ColumnBookkeepingFollowsTextsAndLineFeeds) {
  OpenPrintFile("");
  PrintPage(66);
  PrintText(16, "", 0);
  EXPECT_EQ(PrintColumn(), 16);
  PrintText(PrintColumn(), "0123456789", 0);
  EXPECT_EQ(PrintColumn(), 26);
  PrintText(0, "abc", 0);  // continues the line
  EXPECT_EQ(PrintColumn(), 29);
  EXPECT_EQ(PrintLine(), 0);
  PrintText(40, "xy", 2);
  EXPECT_EQ(PrintColumn(), 0);
  EXPECT_EQ(PrintLine(), 2);
  PrintText(5, "z", 0);
  EXPECT_EQ(PrintColumn(), 6);
  EXPECT_EQ(PrintPageLength(), 66);
  PrintPage(20);
  EXPECT_EQ(PrintLine(), 0);
  EXPECT_EQ(PrintColumn(), 0);
  EXPECT_EQ(PrintPageLength(), 20);
  ClosePrintFile();
}

TEST_F(PrintFileTest, FullPageBreaksAutomaticallyWithTheSameLength) {
  OpenPrintFile("");
  PrintPage(3);
  PrintText(1, "a", 1);
  PrintText(1, "b", 2);
  EXPECT_EQ(PrintLine(), 3);
  PrintText(7, "c", 0);  // breaks first, then stays on the new page's line
  EXPECT_EQ(PrintLine(), 0);
  EXPECT_EQ(PrintColumn(), 8);
  PrintText(0, "d", 4);  // goes past the end
  EXPECT_EQ(PrintLine(), 4);
  PrintText(1, "e", 1);
  EXPECT_EQ(PrintLine(), 1);
  EXPECT_EQ(PrintPageLength(), 3);
  ClosePrintFile();
  EXPECT_EQ(Written(),
            "DEVICE\r\nPAGE 3 \r\n 1 ,a, 1 \r\n 1 ,b, 2 \r\n"
            "PAGE 3 \r\n 7 ,c, 0 \r\n 0 ,d, 4 \r\n"
            "PAGE 3 \r\n 1 ,e, 1 \r\n");
}

TEST_F(PrintFileTest, NoAutomaticPageBeforeAnyPageLengthIsKnown) {
  OpenPrintFile("");
  PrintText(1, "a", 1);
  PrintText(1, "b", 1);
  ClosePrintFile();
  EXPECT_EQ(Written(), "DEVICE\r\n 1 ,a, 1 \r\n 1 ,b, 1 \r\n");
  EXPECT_EQ(PrintLine(), 2);
}

TEST_F(PrintFileTest, OpenEmptiesTheFileButKeepsTheBookkeeping) {
  scratch_.Write("kelprint.tmp", "old contents that are much longer\r\n");
  OpenPrintFile("PANTALLA");
  PrintPage(10);
  PrintText(1, "x", 4);
  ClosePrintFile();
  OpenPrintFile("PANTALLA");
  EXPECT_EQ(PrintLine(), 4);
  EXPECT_EQ(PrintPageLength(), 10);
  ClosePrintFile();
  EXPECT_EQ(Written(), "DEVICEPANTALLA\r\n");
  EXPECT_EQ(console_.AllShown(), "");
}

TEST_F(PrintFileTest, CountersSaturateInsteadOfWrapping) {
  OpenPrintFile("");
  PrintPage(32767);
  PrintText(1, "", 32000);
  PrintText(1, "", 32000);
  EXPECT_EQ(PrintLine(), 32767);
  PrintPage(1);
  PrintText(32767, std::string(100, 'x'), 0);
  EXPECT_EQ(PrintColumn(), 32767);
  ClosePrintFile();
}

TEST_F(PrintFileTest, RunStartsTheProgramWithTheTerminalHandedOver) {
  std::vector<std::string> started;
  bool suspended_while_running = false;
  platform::TEST_SetProgramRunner(
      [&](std::string_view path, const std::vector<std::string>& args) {
        started.push_back(std::string(path));
        EXPECT_TRUE(args.empty());
        suspended_while_running = console_.suspended();
        return platform::ProgramResult{true, 3, ""};
      });
  OpenPrintFile("");
  PrintText(1, "x", 1);
  ClosePrintFile();
  RunPrintProgram();
  EXPECT_EQ(started, std::vector<std::string>{"/opt/kel/KELPRINT"});
  EXPECT_TRUE(suspended_while_running);
  EXPECT_FALSE(console_.suspended());
  EXPECT_EQ(console_.AllShown(), "");  // an exit code is no failure
}

TEST_F(PrintFileTest, ProgramThatCannotStartIsReportedAndTheRunGoesOn) {
  platform::TEST_SetProgramRunner(
      [](std::string_view, const std::vector<std::string>&) {
        return platform::ProgramResult{false, 0, "No such file"};
      });
  console_.PushKey(13);
  OpenPrintFile("");
  ClosePrintFile();
  RunPrintProgram();
  EXPECT_NE(console_.AllShown().find("/opt/kel/KELPRINT"), std::string::npos)
      << console_.AllShown();
  EXPECT_EQ(console_.PendingEvents(), 0u);
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_FALSE(console_.suspended());
}

TEST_F(PrintFileTest, ARunWithoutTerminalHasFailuresToldAndTheOutcomeKept) {
  std::vector<std::string> told;
  SetPrintFailureReporter(
      [&told](const std::string& message) { told.push_back(message); });
  platform::ProgramResult result{true, 2, ""};
  platform::TEST_SetProgramRunner(
      [&result](std::string_view, const std::vector<std::string>&) {
        return result;
      });
  OpenPrintFile("TXT");
  PrintText(1, "x", 1);
  RunPrintProgram();
  PrintOutcome outcome = LastPrintOutcome();
  EXPECT_TRUE(outcome.file_complete);
  EXPECT_TRUE(outcome.program_run);
  EXPECT_EQ(outcome.program_exit_code, 2);
  EXPECT_TRUE(told.empty());

  result = {false, 0, "No such file"};
  OpenPrintFile("TXT");
  RunPrintProgram();
  outcome = LastPrintOutcome();
  EXPECT_TRUE(outcome.file_complete);
  EXPECT_FALSE(outcome.program_run);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("/opt/kel/KELPRINT"), std::string::npos);

  result = {true, 0, ""};
  TEST_MutableSession().tmp_dir = scratch_.path() + "missing/";
  OpenPrintFile("TXT");
  PrintText(1, "x", 1);
  RunPrintProgram();
  outcome = LastPrintOutcome();
  EXPECT_FALSE(outcome.file_complete);
  EXPECT_FALSE(outcome.program_run);
  ASSERT_EQ(told.size(), 2u);
  EXPECT_NE(told[1].find("missing/kelprint.tmp"), std::string::npos);
  // Nothing went to the screen, and no key was awaited.
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_EQ(console_.ExhaustedWaits(), 0);
}

TEST_F(PrintFileTest, FileThatCannotBeCreatedIsReportedOnceAndNotPrinted) {
  TEST_MutableSession().tmp_dir = scratch_.path() + "missing/";
  int runs = 0;
  platform::TEST_SetProgramRunner(
      [&](std::string_view, const std::vector<std::string>&) {
        ++runs;
        return platform::ProgramResult{true, 0, ""};
      });
  console_.PushKey(13);
  console_.PushKey(13);  // a second report would take this one
  OpenPrintFile("");
  PrintPage(2);
  for (int i = 0; i < 5; ++i) PrintText(1, "text", 1);
  std::string code = "D";
  PrintJustify(code);
  PrintControl("q");
  EXPECT_EQ(PrintLine(), 1);  // bookkeeping goes on without a file
  ClosePrintFile();
  ClosePrintFile();
  RunPrintProgram();
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(console_.PendingEvents(), 1u);
  EXPECT_NE(console_.AllShown().find("missing/kelprint.tmp"), std::string::npos)
      << console_.AllShown();
  EXPECT_EQ(WindowDepth(), 0);

  // The next report starts afresh once the directory is there.
  TEST_MutableSession().tmp_dir = scratch_.path();
  OpenPrintFile("");
  ClosePrintFile();
  RunPrintProgram();
  EXPECT_EQ(runs, 1);
}

TEST_F(PrintFileTest, WriteFailureFoundAtCloseIsReported) {
  testing::FailingFileSystem files;
  files.FillDiskAfter("kelprint.tmp", 0);
  int runs = 0;
  platform::TEST_SetProgramRunner(
      [&](std::string_view, const std::vector<std::string>&) {
        ++runs;
        return platform::ProgramResult{true, 0, ""};
      });
  console_.PushKey(13);
  OpenPrintFile("");
  PrintText(1, std::string(100000, 'x'), 1);
  ClosePrintFile();
  RunPrintProgram();
  EXPECT_EQ(runs, 0);
  EXPECT_NE(console_.AllShown().find("kelprint.tmp"), std::string::npos);
}

// A disk that fills in the middle of a report: the message names the file,
// the half-written file is not printed, and the next report, with room
// again, is written whole and printed.
TEST_F(PrintFileTest, DiskFillingInTheMiddleStopsThePrintOnly) {
  testing::FailingFileSystem files;
  files.FillDiskAfter("kelprint.tmp", 70000);
  int runs = 0;
  platform::TEST_SetProgramRunner(
      [&](std::string_view, const std::vector<std::string>&) {
        ++runs;
        return platform::ProgramResult{true, 0, ""};
      });
  console_.PushKey(13);
  OpenPrintFile("");
  for (int i = 0; i < 2000; ++i) PrintText(1, std::string(100, 'x'), 1);
  EXPECT_EQ(PrintLine(), 2000);  // the bookkeeping went on
  ClosePrintFile();
  RunPrintProgram();
  EXPECT_EQ(runs, 0);
  EXPECT_NE(console_.AllShown().find(scratch_.path() + "kelprint.tmp"),
            std::string::npos)
      << console_.AllShown();
  EXPECT_EQ(WindowDepth(), 0);
  EXPECT_LE(scratch_.Read("kelprint.tmp").size(), 70000u);

  files.FillDiskAfter("kelprint.tmp", int64_t{1} << 40);
  OpenPrintFile("");
  for (int i = 0; i < 2000; ++i) PrintText(1, std::string(100, 'x'), 1);
  RunPrintProgram();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(scratch_.Read("kelprint.tmp").size(), 8u + 2000u * 110u);
}

// A link planted where the print file goes is never followed: the file it
// points at keeps its contents and the report is not printed.
TEST_F(PrintFileTest, LinkInPlaceOfThePrintFileIsNotFollowed) {
  scratch_.Write("elsewhere.txt", "precious");
  ASSERT_EQ(::symlink((scratch_.path() + "elsewhere.txt").c_str(),
                      (scratch_.path() + "kelprint.tmp").c_str()),
            0);
  int runs = 0;
  platform::TEST_SetProgramRunner(
      [&](std::string_view, const std::vector<std::string>&) {
        ++runs;
        return platform::ProgramResult{true, 0, ""};
      });
  console_.PushKey(13);
  OpenPrintFile("");
  PrintText(1, "report", 1);
  RunPrintProgram();
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(scratch_.Read("elsewhere.txt"), "precious");
}

}  // namespace
}  // namespace tarnevos
