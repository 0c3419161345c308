// KELPRINT: renders the suite's print file on the device it names.
#include <iostream>
#include <string>
#include <vector>

#include "console/window_notice.h"
#include "kelprint/kelprint_app.h"
#include "platform/console/terminal_console.h"
#include "settings/session.h"

int main(int argc, char** argv) {
  using tarnevos::platform::TerminalConsole;
  std::vector<std::string> arguments(argv + 1, argv + argc);
  // The preview and the messages use the whole window; the session is
  // loaded by the time the terminal is opened.
  auto open_terminal =
      [](std::string& error) -> std::unique_ptr<tarnevos::platform::Console> {
    TerminalConsole::Options options;
    options.fill_window = true;
    options.small_window_notice = tarnevos::SmallWindowNotice(
        tarnevos::SessionLanguage(), TerminalConsole::kColumns,
        TerminalConsole::kRows);
    return TerminalConsole::Open(error, options);
  };
  return tarnevos::kelprint::KelprintMain(arguments, open_terminal, std::cout,
                                          std::cerr);
}
