// TARNEVOS: the settlement summary of communities of owners.
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "console/form_screen.h"
#include "console/keyboard.h"
#include "console/messages.h"
#include "console/windows.h"
#include "platform/console/console.h"
#include "platform/console/terminal_console.h"
#include "platform/system/paths.h"
#include "report/form_file.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "util/codepage.h"

namespace tarnevos {
namespace {

// The program's own message when it finds no terminal, by language.
std::string NoTerminalMessage() {
  const std::string& language = Session().language;
  if (language == "SPA") return "TARNEVOS NECESITA UN TERMINAL";
  if (language == "GLG") return "TARNEVOS NECESITA UN TERMINAL";
  if (language == "OCI") return "TARNEVOS A BESONH D'UN TERMINAU";
  return "TARNEVOS NECESSITA UN TERMINAL";
}

void PrintToStandardError(std::string_view cp850) {
  std::fprintf(stderr, "%s\n", Utf8FromCp850(cp850).c_str());
}

// Shows a message that stops the program and waits for one key.
void ShowStopMessage(const std::string& message) {
  SetColour("n");
  const bool shown = MessageBox(12, message);
  platform::CurrentConsole().Beep();
  WaitKey();
  if (shown) PopWindow();
}

void ClearScreen() {
  SetColour("n");
  ScrollRegion(0, 0, static_cast<int16_t>(ScreenRows() - 1),
               static_cast<int16_t>(ScreenColumns() - 1), ScreenRows());
}

// Shows form 1 until the operator leaves it with Esc.
void RunFormLoop() {
  for (;;) {
    ClearScreen();
    int16_t form = 1;
    KeyCode key = 0;
    FormScreen(form, key);
    if (key == key::kEsc) return;
  }
}

}  // namespace
}  // namespace tarnevos

int main() {
  using namespace tarnevos;
  LoadSessionEnvironment();
  LoadAdministratorLines();
  if (!Session().root_dir.empty()) {
    platform::ChangeDirectory(Session().root_dir);
  }
  MutableRun().program_id = "TARNEVOS";

  std::string terminal_error;
  std::unique_ptr<platform::TerminalConsole> terminal =
      platform::TerminalConsole::Open(terminal_error);
  if (terminal == nullptr) {
    PrintToStandardError(NoTerminalMessage() + " (" + terminal_error + ")");
    return 0;
  }
  platform::SetConsole(terminal.get());

  std::string form_error;
  const bool forms_read = ReadFormFile(&form_error);
  if (forms_read) {
    RunFormLoop();
  } else {
    ShowStopMessage(form_error);
  }

  // Give the terminal back before anything more is printed.
  platform::SetConsole(nullptr);
  terminal.reset();
  if (!forms_read) PrintToStandardError(form_error);
  return 0;
}
