#include "print/print_file.h"

#include <cstdlib>
#include <limits>
#include <memory>

#include "console/keyboard.h"
#include "console/messages.h"
#include "console/windows.h"
#include "platform/console/console.h"
#include "platform/system/files.h"
#include "platform/system/system.h"
#include "settings/session.h"
#include "util/codepage.h"

namespace tarnevos {
namespace {

constexpr std::string_view kPrintFileName = "kelprint.tmp";
constexpr std::string_view kPrintProgramName = "KELPRINT";
constexpr std::string_view kLineEnd = "\r\n";
// Message boxes sit in the middle of the screen.
constexpr int16_t kMessageRow = 12;

// Everything the print operations keep between calls.
struct PrintState {
  std::unique_ptr<platform::File> file;
  std::string path;           // suite path of the file last opened
  bool write_failed = false;  // open or some write of the current file failed
  bool unusable = false;      // the last file is not worth printing
  int16_t line = 0;
  int16_t column = 0;
  int16_t page_length = 0;
  PrintOutcome outcome;
  PrintFailureReporter reporter;  // nullptr: a message box
};

PrintState& State() {
  static PrintState state;
  return state;
}

int16_t Saturate(long long value) {
  if (value > std::numeric_limits<int16_t>::max()) {
    return std::numeric_limits<int16_t>::max();
  }
  if (value < std::numeric_limits<int16_t>::min()) {
    return std::numeric_limits<int16_t>::min();
  }
  return static_cast<int16_t>(value);
}

// The print file's way of writing a number: sign position, digits, blank.
std::string NumberItem(long long value) {
  std::string item = value < 0 ? "-" : " ";
  item += std::to_string(value < 0 ? -value : value);
  item += ' ';
  return item;
}

// Line ends inside a command would split it into two lines of the file.
std::string OnOneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return line;
}

void WriteLine(std::string_view line) {
  PrintState& state = State();
  if (state.file == nullptr) return;
  if (!state.file->Append(line) || !state.file->Append(kLineEnd)) {
    state.write_failed = true;
  }
}

// Texts of the two failures, in the session's language.
struct FailureTexts {
  const char* file;
  const char* program;
};
constexpr PerLanguage<FailureTexts> kFailureTexts = {{
    {"NO ES POT ESCRIURE EL FITXER D'IMPRESSIÓ ",
     "NO ES POT EXECUTAR EL PROGRAMA D'IMPRESSIÓ "},
    {"NO SE PUEDE ESCRIBIR EL FICHERO DE IMPRESIÓN ",
     "NO SE PUEDE EJECUTAR EL PROGRAMA DE IMPRESIÓN "},
    {"NON SE PODE ESCRIBIR O FICHEIRO DE IMPRESIÓN ",
     "NON SE PODE EXECUTAR O PROGRAMA DE IMPRESIÓN "},
    {"NON SE POT ESCRIUER ER ARXIU D'IMPRESSION ",
     "NON SE POT EXECUTAR ETH PROGRAMA D'IMPRESSION "},
}};

const FailureTexts& TextsForSession() {
  return ForLanguage(kFailureTexts, SessionLanguage());
}

// Shows the message until a key is pressed (the screen is left as it was),
// or hands it to the reporter of a run without a terminal.
void ReportFailure(const std::string& cp850_text) {
  if (State().reporter) {
    State().reporter(cp850_text);
    return;
  }
  if (MessageBox(kMessageRow, cp850_text)) {
    WaitKey();
    PopWindow();
  } else {
    platform::CurrentConsole().Beep();
  }
}

// Closes the file and reports, once, a file that could not be written.
void CloseAndReport() {
  PrintState& state = State();
  if (state.file != nullptr) {
    if (!state.file->Flush()) state.write_failed = true;
    state.file.reset();
    state.outcome.file_complete = !state.write_failed;
  }
  if (state.write_failed) {
    state.outcome.file_complete = false;
    state.write_failed = false;
    state.unusable = true;
    ReportFailure(Cp850(TextsForSession().file) + state.path);
  }
}

}  // namespace

void OpenPrintFile(std::string_view target) {
  PrintState& state = State();
  state.file.reset();
  state.path = Session().tmp_dir + std::string(kPrintFileName);
  state.unusable = false;
  state.outcome = PrintOutcome{};
  state.file = platform::OpenFile(state.path, platform::OpenMode::kCreate);
  state.write_failed = state.file == nullptr;
  WriteLine("DEVICE" + OnOneLine(target));
}

void ClosePrintFile() {
  PrintState& state = State();
  if (state.file == nullptr && !state.write_failed) return;
  CloseAndReport();
}

void PrintPage(int16_t length) {
  PrintState& state = State();
  WriteLine("PAGE" + NumberItem(length));
  state.page_length = length;
  state.line = 0;
  state.column = 0;
}

void PrintControl(std::string_view code) { WriteLine("*" + OnOneLine(code)); }

void PrintJustify(std::string& code) {
  size_t first = code.find_first_not_of(' ');
  char letter = first == std::string::npos ? ' ' : code[first];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 32);
  std::string normalised;
  switch (letter) {
    case 'C':
      normalised = "C";
      break;
    case 'D':
    case 'R':
      normalised = "D";
      break;
    case 'A':
    case 'B':
      normalised = "A";
      break;
    case 'N': {
      // The number after the N: blanks skipped, an optional sign, the
      // integer digits (a decimal part is dropped).
      size_t pos = code.find_first_not_of(' ', first + 1);
      if (pos != std::string::npos && (code[pos] == '-' || code[pos] == '+')) {
        ++pos;
      }
      long long value = 0;
      while (pos != std::string::npos && pos < code.size() &&
             code[pos] >= '0' && code[pos] <= '9') {
        value = value * 10 + (code[pos] - '0');
        if (value > std::numeric_limits<int16_t>::max()) {
          value = std::numeric_limits<int16_t>::max();
        }
        ++pos;
      }
      normalised = "N" + NumberItem(value);
      // The picture between backslashes; an unclosed one runs to the end.
      size_t open = code.find('\\');
      if (open != std::string::npos) {
        size_t close = code.find('\\', open + 1);
        normalised += close == std::string::npos
                          ? code.substr(open)
                          : code.substr(open, close - open + 1);
      }
      break;
    }
    default:
      normalised = "E";
  }
  code = OnOneLine(normalised);
  WriteLine("JUS" + code);
}

void PrintText(int16_t column, std::string_view text, int16_t line_feeds) {
  PrintState& state = State();
  std::string copy(text);
  for (char& c : copy) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127 || byte == 255) c = ' ';
  }
  // No page length is known before the first page line; breaking then
  // would start a page of no lines before every text.
  if (state.page_length > 0 && state.line >= state.page_length) {
    PrintPage(state.page_length);
  }
  WriteLine(NumberItem(column) + "," + copy + "," + NumberItem(line_feeds));
  if (line_feeds != 0) {
    state.line = Saturate(static_cast<long long>(state.line) + line_feeds);
    state.column = 0;
  } else {
    if (column != 0) state.column = column;
    state.column = Saturate(static_cast<long long>(state.column) +
                            static_cast<long long>(text.size()));
  }
}

void RunPrintProgram() {
  PrintState& state = State();
  if (state.file != nullptr || state.write_failed) CloseAndReport();
  // A print file that could not be written was reported when it was
  // closed; printing what is left of it would print a wrong report.
  if (state.unusable) return;
  std::string program = Session().exe_dir + std::string(kPrintProgramName);
  platform::Console& console = platform::CurrentConsole();
  console.Suspend();
  platform::ProgramResult result = platform::RunProgram(program, {});
  console.Resume();
  state.outcome.program_run = result.started;
  state.outcome.program_exit_code = result.started ? result.exit_code : 0;
  if (!result.started) {
    ReportFailure(Cp850(TextsForSession().program) + program);
  }
}

void SetPrintFailureReporter(PrintFailureReporter reporter) {
  State().reporter = std::move(reporter);
}

PrintOutcome LastPrintOutcome() { return State().outcome; }

void DiscardPrintFile() {
  PrintState& state = State();
  state.file.reset();
  state.write_failed = false;
  state.unusable = true;
  if (!state.path.empty()) platform::Files().Remove(state.path);
}

int16_t PrintLine() { return State().line; }
int16_t PrintColumn() { return State().column; }
int16_t PrintPageLength() { return State().page_length; }

void TEST_ResetPrintFile() { State() = PrintState{}; }

}  // namespace tarnevos
