// KELPRINT: renders the suite's print file on the device it names.
#include <iostream>
#include <string>
#include <vector>

#include "kelprint/kelprint_app.h"
#include "platform/console/terminal_console.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  auto open_terminal =
      [](std::string& error) -> std::unique_ptr<tarnevos::platform::Console> {
    return tarnevos::platform::TerminalConsole::Open(error);
  };
  return tarnevos::kelprint::KelprintMain(arguments, open_terminal, std::cout,
                                          std::cerr);
}
