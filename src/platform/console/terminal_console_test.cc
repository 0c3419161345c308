#include "platform/console/terminal_console.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/system/files.h"
#include "platform/system/system.h"
#include "util/codepage.h"

namespace tarnevos::platform {
namespace {

constexpr std::string_view kEnter =
    "\x1b[?1049h\x1b[?7l\x1b[?1000h\x1b[?1006h\x1b[?2004h";
constexpr std::string_view kLeave =
    "\x1b[?2004l\x1b[?1006l\x1b[?1000l\x1b[0m\x1b[0 q\x1b[?25h\x1b[?7h"
    "\x1b[?1049l";

// A pseudo-terminal: the console runs on its slave side, the test plays
// the terminal on the master side.
class Pty {
 public:
  Pty(int rows = 25, int columns = 80) {
    struct winsize size = {};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(columns);
    ok_ = openpty(&master_, &slave_, nullptr, nullptr, &size) == 0;
  }
  ~Pty() {
    if (ok_) {
      close(master_);
      close(slave_);
    }
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return ok_; }
  int slave() const { return slave_; }

  // What the console sent, read until the line stays quiet for quiet_ms.
  std::string Output(int quiet_ms = 60) {
    std::string out;
    char buffer[8192];
    for (;;) {
      struct pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, quiet_ms) <= 0) break;
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }
  void Type(std::string_view bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }
  void Resize(int rows, int columns) {
    struct winsize size = {};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(columns);
    ioctl(master_, TIOCSWINSZ, &size);
  }
  // True when the slave side is in raw mode (no line editing or echo).
  bool Raw() const {
    struct termios mode;
    tcgetattr(slave_, &mode);
    return (mode.c_lflag & (ICANON | ECHO | ISIG)) == 0;
  }

 private:
  bool ok_ = false;
  int master_ = -1;
  int slave_ = -1;
};

// Polls with waits until an event arrives or a second passes.
InputEvent NextEvent(TerminalConsole& console) {
  const auto give_up =
      std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < give_up) {
    InputEvent event = console.PollEvent();
    if (event.kind != InputEvent::Kind::kNone) return event;
    console.WaitForInput(50);
  }
  return InputEvent{};
}

TEST(Base64Test, KnownValues) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"", ""},
               {"f", "Zg=="},
               {"fo", "Zm8="},
               {"foo", "Zm9v"},
               {"foob", "Zm9vYg=="},
               {"fooba", "Zm9vYmE="},
               {"foobar", "Zm9vYmFy"},
               {"\xff\xfe", "//4="}};
  for (const auto& c : cases) EXPECT_EQ(Base64(c.in), c.out) << c.in;
}

TEST(TerminalConsoleTest, TakesTheTerminalAndGivesItBack) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  std::string error;
  auto console = TerminalConsole::OpenOn(pty.slave(), error);
  ASSERT_NE(console, nullptr) << error;
  EXPECT_TRUE(pty.Raw());
  const std::string start = pty.Output();
  EXPECT_EQ(start.substr(0, kEnter.size()), kEnter);
  EXPECT_NE(start.find("\x1b[2J"), std::string::npos);

  // A second console cannot take the same terminal.
  std::string second_error;
  EXPECT_EQ(TerminalConsole::OpenOn(pty.slave(), second_error), nullptr);
  EXPECT_FALSE(second_error.empty());
  EXPECT_TRUE(pty.Raw());

  console.reset();
  EXPECT_FALSE(pty.Raw());
  EXPECT_EQ(pty.Output(), kLeave);
}

TEST(TerminalConsoleTest, FlushSendsOnlyChangesInOneWrite) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  std::string error;
  auto console = TerminalConsole::OpenOn(pty.slave(), error);
  ASSERT_NE(console, nullptr) << error;
  pty.Output();
  console->Write(3, 5, Cp850("Més"), 0x1F);
  console->SetCursor(3, 8);
  const int writes = console->writes();
  console->Flush();
  EXPECT_EQ(console->writes(), writes + 1);
  EXPECT_EQ(pty.Output(), "\x1b[3;5H\x1b[97;44mMés");
  console->Flush();
  EXPECT_EQ(console->writes(), writes + 1);  // nothing changed, nothing sent
  EXPECT_EQ(console->ReadCell(3, 6).character, 0x82);  // é
  EXPECT_EQ(console->ReadCell(3, 6).colour, 0x1F);
}

TEST(TerminalConsoleTest, KeysArriveDecodedAndLoneEscAfterSilence) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  std::string error;
  auto console = TerminalConsole::OpenOn(pty.slave(), error);
  ASSERT_NE(console, nullptr) << error;
  pty.Type("\x1b[1;5D\x03");
  InputEvent event = NextEvent(*console);
  EXPECT_TRUE(event.extended);
  EXPECT_EQ(event.key, 0x4B00);
  EXPECT_TRUE(event.modifiers.ctrl);
  EXPECT_EQ(NextEvent(*console).key, 3);  // Ctrl+C is a key, not a signal

  pty.Type("\x1b");
  const auto typed = std::chrono::steady_clock::now();
  event = NextEvent(*console);
  EXPECT_EQ(event.kind, InputEvent::Kind::kKey);
  EXPECT_EQ(event.key, 27);
  EXPECT_GE(std::chrono::steady_clock::now() - typed,
            std::chrono::milliseconds(KeyDecoder::kEscTimeoutMs));
}

TEST(TerminalConsoleTest, MousePressesOnlyWhenEnabledAndOnTheScreen) {
  Pty pty(30, 100);
  ASSERT_TRUE(pty.ok());
  std::string error;
  auto console = TerminalConsole::OpenOn(pty.slave(), error);
  ASSERT_NE(console, nullptr) << error;
  pty.Type(
      "\x1b[<0;10;3M"
      "a");
  EXPECT_EQ(NextEvent(*console).key, 'a');  // mouse off: the press is dropped
  console->EnableMouse(true);
  pty.Type("\x1b[<0;90;3M\x1b[<2;80;25M");
  InputEvent event = NextEvent(*console);  // column 90 is off the screen
  EXPECT_EQ(event.kind, InputEvent::Kind::kMouse);
  EXPECT_EQ(event.button, 2);
  EXPECT_EQ(event.row, 25);
  EXPECT_EQ(event.column, 80);
}

TEST(TerminalConsoleTest, ResizeShowsNoticeThenRepaints) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  std::string error;
  TerminalConsole::Options options;
  options.small_window_notice = Cp850("Amplíe la ventana a 80x25");
  auto console = TerminalConsole::OpenOn(pty.slave(), error, options);
  ASSERT_NE(console, nullptr) << error;
  console->Write(1, 1, "Hola", 0x07);
  console->Flush();
  pty.Output();
  pty.Resize(24, 80);
  raise(SIGWINCH);
  console->PollEvent();
  const std::string notice = pty.Output();
  EXPECT_NE(notice.find("Amplíe la ventana a 80x25"), std::string::npos);
  EXPECT_EQ(console->terminal_rows(), 24);
  console->Write(2, 1, "Adeu", 0x07);
  console->Flush();
  EXPECT_EQ(pty.Output(), "");  // nothing drawn while too small
  pty.Resize(40, 120);
  raise(SIGWINCH);
  console->PollEvent();
  const std::string repaint = pty.Output();
  EXPECT_NE(repaint.find("\x1b[2J"), std::string::npos);
  EXPECT_NE(repaint.find("Hola"), std::string::npos);
  EXPECT_NE(repaint.find("Adeu"), std::string::npos);
  // An 80x25 console stays 80x25 on a larger window.
  EXPECT_EQ(console->Rows(), 25);
  EXPECT_EQ(console->Columns(), 80);
}

TEST(TerminalConsoleTest, FillingConsoleFollowsTheWindow) {
  Pty pty(40, 140);
  ASSERT_TRUE(pty.ok());
  std::string error;
  TerminalConsole::Options options;
  options.fill_window = true;
  options.small_window_notice = "Amplieu la finestra a 80x25";
  auto console = TerminalConsole::OpenOn(pty.slave(), error, options);
  ASSERT_NE(console, nullptr) << error;
  EXPECT_EQ(console->Rows(), 40);
  EXPECT_EQ(console->Columns(), 140);
  console->Write(40, 135, "edge", 0x07);
  console->SetCursor(40, 140);
  console->Flush();
  EXPECT_NE(pty.Output().find("\x1b[40;135Hedge"), std::string::npos);
  console->EnableMouse(true);
  pty.Type("\x1b[<0;130;38M");
  InputEvent click = NextEvent(*console);
  EXPECT_EQ(click.kind, InputEvent::Kind::kMouse);
  EXPECT_EQ(click.column, 130);

  // Smaller: what still fits keeps its place, the cursor comes inside.
  pty.Resize(30, 100);
  raise(SIGWINCH);
  console->PollEvent();
  EXPECT_EQ(console->Rows(), 30);
  EXPECT_EQ(console->Columns(), 100);
  int row = 0, column = 0;
  console->GetCursor(row, column);
  EXPECT_EQ(row, 30);
  EXPECT_EQ(column, 100);
  console->Write(30, 1, "bottom", 0x07);
  console->Flush();
  EXPECT_NE(pty.Output().find("bottom"), std::string::npos);

  // Below 80x25 the console keeps its smallest size and shows the notice.
  pty.Resize(20, 70);
  raise(SIGWINCH);
  console->PollEvent();
  EXPECT_EQ(console->Rows(), 25);
  EXPECT_EQ(console->Columns(), 80);
  EXPECT_NE(pty.Output().find("Amplieu la finestra a 80x25"),
            std::string::npos);
}

TEST(TerminalConsoleTest, ClipboardBeepAndInsertToggle) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  std::string error;
  auto console = TerminalConsole::OpenOn(pty.slave(), error);
  ASSERT_NE(console, nullptr) << error;
  pty.Output();
  console->SetClipboardText(Cp850("Això"));
  EXPECT_EQ(console->ClipboardText(), Cp850("Això"));
  console->Beep();
  EXPECT_EQ(pty.Output(), "\x1b]52;c;" + Base64("Això") + "\x07\x07");
  EXPECT_FALSE(console->InsertMode());
  console->SetInsertMode(true);
  EXPECT_TRUE(console->InsertMode());
}

TEST(TerminalConsoleTest, SuspendHandsTheTerminalOverAndResumeRepaints) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  std::string error;
  auto console = TerminalConsole::OpenOn(pty.slave(), error);
  ASSERT_NE(console, nullptr) << error;
  console->Write(5, 5, "form", 0x07);
  console->Suspend();
  EXPECT_FALSE(pty.Raw());
  const std::string left = pty.Output();
  ASSERT_GE(left.size(), kLeave.size());
  EXPECT_EQ(left.substr(left.size() - kLeave.size()), kLeave);
  // The child's keystrokes are not read by the console.
  pty.Type("x");
  EXPECT_EQ(console->PollEvent().kind, InputEvent::Kind::kNone);
  EXPECT_EQ(pty.Output(), "x");  // echoed: the line is in normal mode
  console->Resume();
  EXPECT_TRUE(pty.Raw());
  const std::string back = pty.Output();
  EXPECT_EQ(back.substr(0, kEnter.size()), kEnter);
  EXPECT_NE(back.find("form"), std::string::npos);
}

// Runs `body` in a child process that has taken the pty, and returns its
// wait status.
template <typename Body>
int RunChild(Pty& pty, Body body) {
  pid_t pid = fork();
  if (pid == 0) {
    struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    // Default handlers behind the console's own (a sanitizer's would report
    // and exit instead of dying by the signal).
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) signal(s, SIG_DFL);
    std::string error;
    auto console = TerminalConsole::OpenOn(pty.slave(), error);
    if (console == nullptr) _exit(99);
    console->Write(1, 1, "child", 0x07);
    console->Flush();
    body(*console);
    _exit(98);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

TEST(TerminalConsoleTest, EveryWayOutRestoresTheTerminal) {
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV,
                         SIGBUS, SIGFPE,  SIGILL, SIGABRT};
  for (int signal_number : signals) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const int status = RunChild(
        pty, [signal_number](TerminalConsole&) { raise(signal_number); });
    EXPECT_TRUE(WIFSIGNALED(status)) << signal_number;
    EXPECT_EQ(WTERMSIG(status), signal_number);
    const std::string out = pty.Output();
    EXPECT_NE(out.find("child"), std::string::npos) << signal_number;
    ASSERT_GE(out.size(), kLeave.size());
    EXPECT_EQ(out.substr(out.size() - kLeave.size()), kLeave) << signal_number;
    EXPECT_FALSE(pty.Raw()) << signal_number;
  }
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const int status = RunChild(pty, [](TerminalConsole&) { std::exit(7); });
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
  const std::string out = pty.Output();
  ASSERT_GE(out.size(), kLeave.size());
  EXPECT_EQ(out.substr(out.size() - kLeave.size()), kLeave);
  EXPECT_FALSE(pty.Raw());
}

TEST(TerminalConsoleTest, PreviousHandlerStillRunsAfterTheRestore) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGTERM, [](int) { _exit(42); });
    std::string error;
    auto console = TerminalConsole::OpenOn(pty.slave(), error);
    if (console == nullptr) _exit(99);
    raise(SIGTERM);
    _exit(98);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 42);
  const std::string out = pty.Output();
  ASSERT_GE(out.size(), kLeave.size());
  EXPECT_EQ(out.substr(out.size() - kLeave.size()), kLeave);
  EXPECT_FALSE(pty.Raw());
}

TEST(TerminalConsoleTest, StopAndContinue) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);  // its own group, so the stop is not discarded
    std::string error;
    auto console = TerminalConsole::OpenOn(pty.slave(), error);
    if (console == nullptr) _exit(99);
    console->Write(1, 1, "before", 0x07);
    console->Flush();
    raise(SIGTSTP);
    InputEvent event = NextEvent(*console);
    console.reset();
    _exit(event.key == 'q' ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
  ASSERT_TRUE(WIFSTOPPED(status));
  const std::string stopped = pty.Output();
  ASSERT_GE(stopped.size(), kLeave.size());
  EXPECT_EQ(stopped.substr(stopped.size() - kLeave.size()), kLeave);
  EXPECT_FALSE(pty.Raw());
  kill(pid, SIGCONT);
  const std::string resumed = pty.Output(200);
  EXPECT_EQ(resumed.substr(0, kEnter.size()), kEnter);
  EXPECT_NE(resumed.find("before"), std::string::npos);  // repainted
  EXPECT_TRUE(pty.Raw());
  pty.Type("q");
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(TerminalConsoleTest, HangUpEndsInEsc) {
  auto pty = std::make_unique<Pty>();
  ASSERT_TRUE(pty->ok());
  // Keep a second handle on the slave so closing the pty hangs the line up.
  const int slave = dup(pty->slave());
  std::string error;
  auto console = TerminalConsole::OpenOn(slave, error);
  ASSERT_NE(console, nullptr) << error;
  pty.reset();
  console->WaitForInput(100);
  EXPECT_EQ(console->PollEvent().key, 27);
  console.reset();
  close(slave);
}

// A signal that ends the program while the print program runs ends that
// program first and waits for it; the terminal is the shell's again after
// both, whatever state the child left it in.
TEST(TerminalConsoleTest, EndingSignalsEndTheRunningProgramFirst) {
  for (int signal_number : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    Pty pty;
    ASSERT_TRUE(pty.ok());
    char pid_file[] = "/tmp/tarnevos-child-XXXXXX";
    const int fd = mkstemp(pid_file);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string slave = ttyname(pty.slave());
    const std::string script = "echo $$ >" + std::string(pid_file) +
                               "; stty -F " + slave +
                               " raw -echo; exec sleep 30";
    pid_t pid = fork();
    if (pid == 0) {
      std::string error;
      auto console = TerminalConsole::OpenOn(pty.slave(), error);
      if (console == nullptr) _exit(99);
      console->Suspend();
      RunProgram("/bin/sh", {"-c", script});
      _exit(98);
    }
    // Until the child program runs and has set its own terminal mode.
    pid_t child = 0;
    for (int i = 0; i < 500 && child == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      FILE* in = fopen(pid_file, "r");
      if (in != nullptr) {
        int value = 0;
        if (fscanf(in, "%d", &value) == 1 && pty.Raw()) child = value;
        fclose(in);
      }
    }
    ASSERT_GT(child, 0);
    pty.Output();
    kill(pid, signal_number);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), signal_number);
    // Gone, and reaped by the program itself before it ended.
    const bool child_gone = kill(child, 0) != 0 && errno == ESRCH;
    EXPECT_TRUE(child_gone);
    if (!child_gone) kill(child, SIGKILL);
    EXPECT_FALSE(pty.Raw());
    const std::string out = pty.Output();
    ASSERT_GE(out.size(), kLeave.size());
    EXPECT_EQ(out.substr(out.size() - kLeave.size()), kLeave);
    unlink(pid_file);
  }
}

// The temporary files registered with the file seam go on every way out
// by a signal.
TEST(TerminalConsoleTest, EndingSignalsRemoveTheTemporaryFiles) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV}) {
    SCOPED_TRACE(signal_number);
    char folder[] = "/tmp/tarnevos-temporaries-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string window_stack = std::string(folder) + "/WinPush.tmp";
    const std::string kept = std::string(folder) + "/kelprint.tmp";
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const int status = RunChild(pty, [&](TerminalConsole&) {
      for (const std::string& path : {window_stack, kept}) {
        FILE* out = fopen(path.c_str(), "w");
        if (out != nullptr) fclose(out);
      }
      RegisterTemporaryFile(window_stack);
      raise(signal_number);
    });
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_NE(access(kept.c_str(), F_OK), -1);
    EXPECT_EQ(access(window_stack.c_str(), F_OK), -1);
    unlink(kept.c_str());
    unlink(window_stack.c_str());
    rmdir(folder);
  }
}

}  // namespace
}  // namespace tarnevos::platform
