#include "platform/console/terminal_console.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/system/files.h"
#include "platform/system/system.h"
#include "util/codepage.h"

namespace tarnevos::platform {
namespace {

// Taking the terminal: alternate screen, no autowrap (so the bottom-right
// cell never scrolls), mouse presses in SGR form, bracketed paste.
constexpr std::string_view kEnterSequence =
    "\x1b[?1049h\x1b[?7l\x1b[?1000h\x1b[?1006h\x1b[?2004h";
// Giving it back: everything above undone, default colours and cursor.
constexpr std::string_view kLeaveSequence =
    "\x1b[?2004l\x1b[?1006l\x1b[?1000l\x1b[0m\x1b[0 q\x1b[?25h\x1b[?7h"
    "\x1b[?1049l";

// State the signal handlers use; only async-signal-safe calls touch it.
int g_fd = -1;
struct termios g_saved_mode;
struct termios g_raw_mode;
volatile sig_atomic_t g_owned = 0;    // a terminal console exists
volatile sig_atomic_t g_entered = 0;  // raw mode and alternate screen on
volatile sig_atomic_t g_program_suspended = 0;  // handed to a child
volatile sig_atomic_t g_resized = 0;
volatile sig_atomic_t g_continued = 0;

constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV,
                                 SIGBUS, SIGFPE,  SIGILL, SIGABRT};
constexpr int kOtherSignals[] = {SIGTSTP, SIGCONT, SIGWINCH};
struct sigaction g_previous[NSIG];
bool g_installed[NSIG];

void WriteAllSignalSafe(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      struct pollfd p = {fd, POLLOUT, 0};
      poll(&p, 1, 100);
    } else {
      return;  // the terminal is gone: nothing more can be shown
    }
  }
}

void LeaveTerminal() {
  if (!g_entered || g_fd < 0) return;
  g_entered = 0;
  WriteAllSignalSafe(g_fd, kLeaveSequence);
  tcsetattr(g_fd, TCSADRAIN, &g_saved_mode);
}

void EnterTerminal() {
  if (g_fd < 0) return;
  tcsetattr(g_fd, TCSADRAIN, &g_raw_mode);
  WriteAllSignalSafe(g_fd, kEnterSequence);
  g_entered = 1;
}

// A background process may not change the terminal (it would be stopped
// by SIGTTOU). A descriptor that is not our controlling terminal has no
// foreground group to ask about and counts as ours.
bool InForeground() {
  pid_t group = tcgetpgrp(g_fd);
  return group < 0 || group == getpgrp();
}

void OnFatalSignal(int signal_number) {
  const int saved_errno = errno;
  // A program started from here (the print program) ends first: it must
  // not go on drawing on the terminal, or reading the keys meant for the
  // shell, once this program is gone.
  if (EndRunningProgram(signal_number) && g_program_suspended && g_fd >= 0) {
    // It may have left the terminal in its own state.
    WriteAllSignalSafe(g_fd, kLeaveSequence);
    tcsetattr(g_fd, TCSADRAIN, &g_saved_mode);
  }
  LeaveTerminal();
  RemoveTemporaryFiles();
  // Raised again with whatever handled it before (by default: terminate,
  // with a core dump for the crash signals) once this handler returns.
  sigaction(signal_number, &g_previous[signal_number], nullptr);
  raise(signal_number);
  errno = saved_errno;
}

void OnStop(int) {
  const int saved_errno = errno;
  LeaveTerminal();
  struct sigaction stop = {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  struct sigaction mine;
  sigaction(SIGTSTP, &stop, &mine);
  sigset_t tstp;
  sigemptyset(&tstp);
  sigaddset(&tstp, SIGTSTP);
  sigset_t before;
  raise(SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &tstp, &before);  // stops here
  sigprocmask(SIG_SETMASK, &before, nullptr);
  sigaction(SIGTSTP, &mine, nullptr);
  // Continued. SIGCONT's handler normally took the terminal already; when
  // the stop did not happen (an orphaned process group) it did not run.
  if (g_owned && !g_entered && !g_program_suspended && InForeground()) {
    EnterTerminal();
  }
  if (g_entered) g_continued = 1;
  errno = saved_errno;
}

void OnContinue(int) {
  const int saved_errno = errno;
  // Also after SIGSTOP, which could not be caught: the shell may have
  // reset the terminal meanwhile, so raw mode is set again either way.
  if (g_owned && !g_program_suspended && InForeground()) {
    EnterTerminal();
    g_continued = 1;
  }
  errno = saved_errno;
}

void OnResize(int) { g_resized = 1; }

void Install(int signal_number, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  struct sigaction previous;
  if (sigaction(signal_number, nullptr, &previous) != 0) return;
  // A signal the user's shell told us to ignore (nohup, no job control)
  // stays ignored.
  const bool ignorable = signal_number == SIGINT || signal_number == SIGHUP ||
                         signal_number == SIGQUIT || signal_number == SIGTERM ||
                         signal_number == SIGTSTP;
  if (ignorable && previous.sa_handler == SIG_IGN) return;
  if (sigaction(signal_number, &action, &g_previous[signal_number]) == 0) {
    g_installed[signal_number] = true;
  }
}

void InstallHandlers() {
  for (int s : kFatalSignals) Install(s, OnFatalSignal);
  Install(SIGTSTP, OnStop);
  Install(SIGCONT, OnContinue);
  Install(SIGWINCH, OnResize);
}

void RestoreHandlers() {
  auto restore = [](int s) {
    if (!g_installed[s]) return;
    sigaction(s, &g_previous[s], nullptr);
    g_installed[s] = false;
  };
  for (int s : kFatalSignals) restore(s);
  for (int s : kOtherSignals) restore(s);
}

void LeaveAtExit() { LeaveTerminal(); }

struct termios RawMode(const struct termios& saved) {
  struct termios raw = saved;
  raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP |
                                        INLCR | IGNCR | ICRNL | IXON | IXOFF);
  raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  raw.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
  raw.c_cflag |= CS8;
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  return raw;
}

}  // namespace

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned value = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[(value >> 18) & 63];
    out += kDigits[(value >> 12) & 63];
    out += kDigits[(value >> 6) & 63];
    out += kDigits[value & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kDigits[(value >> 18) & 63];
    out += kDigits[(value >> 12) & 63];
    out += rest == 2 ? kDigits[(value >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::unique_ptr<TerminalConsole> TerminalConsole::Open(std::string& error,
                                                       Options options) {
  const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error =
        std::string("no terminal to use (/dev/tty): ") + std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<TerminalConsole> console(
      new TerminalConsole(fd, true, std::move(options)));
  if (!console->TakeOver(error)) return nullptr;
  return console;
}

std::unique_ptr<TerminalConsole> TerminalConsole::OpenOn(int fd,
                                                         std::string& error,
                                                         Options options) {
  std::unique_ptr<TerminalConsole> console(
      new TerminalConsole(fd, false, std::move(options)));
  if (!console->TakeOver(error)) return nullptr;
  return console;
}

TerminalConsole::TerminalConsole(int fd, bool owns_fd, Options options)
    : fd_(fd),
      owns_fd_(owns_fd),
      fill_window_(options.fill_window),
      last_input_(std::chrono::steady_clock::now()) {
  renderer_.SetSmallWindowNotice(std::move(options.small_window_notice));
}

bool TerminalConsole::TakeOver(std::string& error) {
  if (g_owned) {
    error = "the terminal is already in use by another console";
    return false;
  }
  struct termios saved;
  if (!isatty(fd_) || tcgetattr(fd_, &saved) != 0) {
    error = "not a terminal";
    return false;
  }
  g_fd = fd_;
  g_saved_mode = saved;
  g_raw_mode = RawMode(saved);
  g_program_suspended = 0;
  g_resized = 0;
  g_continued = 0;
  g_owned = 1;
  taken_ = true;
  InstallHandlers();
  static const bool registered = std::atexit(LeaveAtExit) == 0;
  (void)registered;
  EnterTerminal();
  UpdateSize();
  renderer_.Invalidate();
  Flush();
  return true;
}

TerminalConsole::~TerminalConsole() {
  if (taken_) {
    LeaveTerminal();
    RestoreHandlers();
    g_owned = 0;
    g_program_suspended = 0;
    g_fd = -1;
  }
  if (owns_fd_ && fd_ >= 0) close(fd_);
}

void TerminalConsole::Write(int row, int column, std::string_view text,
                            unsigned char colour) {
  back_.Write(row, column, text, colour);
}

Cell TerminalConsole::ReadCell(int row, int column) const {
  return back_.At(row, column);
}

void TerminalConsole::SetCursor(int row, int column) {
  cursor_.row = std::clamp(row, 1, rows_);
  cursor_.column = std::clamp(column, 1, columns_);
}

void TerminalConsole::GetCursor(int& row, int& column) const {
  row = cursor_.row;
  column = cursor_.column;
}

void TerminalConsole::Scroll(int top, int left, int bottom, int right,
                             int lines, unsigned char colour) {
  back_.Scroll(top, left, bottom, right, lines, colour);
}

bool TerminalConsole::DecodedEvent(InputEvent& event) {
  while (decoder_.Next(event)) {
    if (event.kind != InputEvent::Kind::kMouse) return true;
    if (mouse_enabled_ && event.row <= rows_ && event.column <= columns_) {
      return true;
    }
  }
  return false;
}

InputEvent TerminalConsole::PollEvent() {
  HandleSignals();
  InputEvent event;
  if (suspended_) return event;
  if (DecodedEvent(event)) return event;
  ReadInput();
  if (decoder_.Pending() &&
      std::chrono::steady_clock::now() - last_input_ >=
          std::chrono::milliseconds(KeyDecoder::kEscTimeoutMs)) {
    decoder_.Flush();
  }
  if (DecodedEvent(event)) return event;
  if (input_lost_) {
    // The terminal hung up: Esc closes every screen, so the program ends
    // instead of waiting for keys that cannot come.
    event.kind = InputEvent::Kind::kKey;
    event.key = 27;
  }
  return event;
}

void TerminalConsole::WaitForInput(int timeout_ms) {
  HandleSignals();
  if (decoder_.HasEvents() || input_lost_) return;
  int wait = timeout_ms < 0 ? -1 : timeout_ms;
  if (decoder_.Pending() && !suspended_) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - last_input_)
                             .count();
    const int remaining = static_cast<int>(std::clamp<long long>(
        KeyDecoder::kEscTimeoutMs - elapsed, 0, KeyDecoder::kEscTimeoutMs));
    wait = wait < 0 ? remaining : std::min(wait, remaining);
  }
  struct pollfd p = {fd_, POLLIN, 0};
  // While a child program has the terminal its keys are not ours.
  poll(&p, suspended_ ? 0 : 1, wait);  // interrupted by a signal: fine
}

void TerminalConsole::ReadInput() {
  char buffer[4096];
  // Bounded, so a flood of input cannot keep the program from drawing.
  for (int round = 0; round < 16; ++round) {
    struct pollfd p = {fd_, POLLIN, 0};
    const int ready = poll(&p, 1, 0);
    if (ready < 0) {
      if (errno == EINTR) continue;
      input_lost_ = true;
      return;
    }
    if (ready == 0) return;
    if ((p.revents & (POLLERR | POLLNVAL)) != 0) {
      input_lost_ = true;
      return;
    }
    if ((p.revents & POLLIN) == 0) {
      if ((p.revents & POLLHUP) != 0) input_lost_ = true;
      return;
    }
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      decoder_.Feed(std::string_view(buffer, static_cast<size_t>(n)));
      last_input_ = std::chrono::steady_clock::now();
    } else if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    } else {
      input_lost_ = true;  // readable but nothing there: hung up
      return;
    }
  }
}

void TerminalConsole::HandleSignals() {
  bool repaint = false;
  if (g_resized) {
    g_resized = 0;
    UpdateSize();
    repaint = true;
  }
  if (g_continued) {
    g_continued = 0;
    decoder_.Reset();  // a sequence cut by the stop is stale
    UpdateSize();
    repaint = true;
  }
  if (!repaint) return;
  renderer_.Invalidate();
  if (suspended_ || !g_entered) return;
  std::string out;
  renderer_.Render(back_, cursor_, terminal_rows_, terminal_columns_, out);
  Send(out);
}

void TerminalConsole::UpdateSize() {
  struct winsize size = {};
  if (ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 &&
      size.ws_col > 0) {
    terminal_rows_ = size.ws_row;
    terminal_columns_ = size.ws_col;
  } else {
    // Size unknown (a serial line): assume it fits.
    terminal_rows_ = kRows;
    terminal_columns_ = kColumns;
  }
  if (!fill_window_) return;
  const int rows = std::clamp(terminal_rows_, kRows, kMaxRows);
  const int columns = std::clamp(terminal_columns_, kColumns, kMaxColumns);
  if (rows == rows_ && columns == columns_) return;
  rows_ = rows;
  columns_ = columns;
  back_.Resize(rows, columns);
  renderer_.Resize(rows, columns);
  cursor_.row = std::min(cursor_.row, rows);
  cursor_.column = std::min(cursor_.column, columns);
}

void TerminalConsole::Send(std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    ++writes_;
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      struct pollfd p = {fd_, POLLOUT, 0};
      poll(&p, 1, 100);
    } else {
      return;
    }
  }
}

void TerminalConsole::Flush() {
  HandleSignals();
  // Continued in the background, the terminal is not ours to draw on; the
  // continue that brings the program back to the foreground repaints.
  if (suspended_ || !g_entered) return;
  std::string out;
  renderer_.Render(back_, cursor_, terminal_rows_, terminal_columns_, out);
  Send(out);
}

void TerminalConsole::Beep() {
  if (!suspended_) Send("\a");
}

void TerminalConsole::SetClipboardText(std::string_view text) {
  clipboard_.assign(text);
  if (suspended_) return;
  Send("\x1b]52;c;" + Base64(Utf8FromCp850(text)) + "\x07");
}

void TerminalConsole::Suspend() {
  if (suspended_) return;
  Flush();
  suspended_ = true;
  g_program_suspended = 1;
  LeaveTerminal();
}

void TerminalConsole::Resume() {
  if (!suspended_) return;
  suspended_ = false;
  g_program_suspended = 0;
  if (InForeground()) EnterTerminal();
  decoder_.Reset();
  UpdateSize();
  renderer_.Invalidate();
  Flush();
}

}  // namespace tarnevos::platform
