// TARNEVOS: the settlement summary of communities of owners.
//
// Start-up and shut-down, in this order: the command line (--help,
// --version and usage errors end here, on standard output or error); the
// installation, session and print program decided and exported (a missing
// installation ends here with exit code 1); the session environment and the
// administrator's identification; the root directory made current (when
// set; the files are named from RootDir anyway, so a directory that cannot
// be entered changes nothing else); the program identifier; the terminal;
// the form file (and a check that no settings or language file was found
// oversized); the report's work tables; the six data files; the letterhead
// mode and fee rates; the report loop; the data files closed.
// Every way out from there on ends with exit code 0 and the terminal given
// back.
//
// With "--batch" as its first argument the program runs one report for the
// options that follow, without the form and without a terminal, right after
// the program identifier, and ends with the batch run's exit code
// (report/batch.h). The driver's own options apply to it as well.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/hot_keys.h"
#include "console/keyboard.h"
#include "console/messages.h"
#include "console/window_notice.h"
#include "console/windows.h"
#include "data/access_layer.h"
#include "data/data_files.h"
#include "driver/options.h"
#include "driver/startup.h"
#include "platform/console/console.h"
#include "platform/console/terminal_console.h"
#include "platform/system/paths.h"
#include "report/batch.h"
#include "report/form_file.h"
#include "report/report_form.h"
#include "report/settlement.h"
#include "settings/ini_reader.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "util/codepage.h"

namespace tarnevos {
namespace {

// The program's own message when it finds no terminal, by language.
std::string NoTerminalMessage() {
  constexpr PerLanguage<const char*> kTexts = {
      "TARNEVOS NECESSITA UN TERMINAL", "TARNEVOS NECESITA UN TERMINAL",
      "TARNEVOS NECESITA UN TERMINAL", "TARNEVOS A BESONH D'UN TERMINAU"};
  return ForLanguage(kTexts, SessionLanguage());
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

// Everything between reading the form file and closing the data files:
// the work tables, the six data files (a file that cannot be opened stops
// the program inside the access layer, with exit code 0), the letterhead
// mode and fee rates, and the report loop until Esc on form 1.
void RunSettlementReport() {
  ResetWorkTables();
  OpenAllDataFiles();
  LoadFeeSettings();
  RunReport();
  // The print file is closed by each report; only the data files are left.
  int16_t status = 0;
  CloseAllDataFiles(status);
}

}  // namespace
}  // namespace tarnevos

int main(int argc, char** argv) {
  using namespace tarnevos;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const bool batch = !arguments.empty() && arguments[0] == "--batch";
  std::vector<std::string> driver_arguments = arguments;
  BatchOptions batch_options;
  if (batch) {
    std::vector<std::string> batch_arguments;
    SplitDriverArguments(
        std::vector<std::string>(arguments.begin() + 1, arguments.end()),
        driver_arguments, batch_arguments);
    std::string error;
    if (!ParseBatchOptions(batch_arguments, batch_options, error) &&
        ParseDriverArguments(driver_arguments).action == DriverAction::kRun) {
      std::fprintf(stderr, "tarnevos: %s\n%s", error.c_str(), BatchUsage());
      return kBatchUsage;
    }
  }
  const ParsedArguments parsed = ParseDriverArguments(driver_arguments);
  switch (parsed.action) {
    case DriverAction::kHelp:
      std::fputs(DriverUsage().c_str(), stdout);
      return 0;
    case DriverAction::kVersion:
      std::fputs(DriverVersion().c_str(), stdout);
      return 0;
    case DriverAction::kUsageError:
      std::fprintf(stderr, "tarnevos: %s\n%s", parsed.error.c_str(),
                   DriverUsage().c_str());
      return kExitUsage;
    case DriverAction::kRun:
      break;
  }
  StartPlan plan;
  std::string start_error;
  if (!PrepareStart(parsed.options, PrintProgramFolders(), plan, start_error)) {
    std::fputs(start_error.c_str(), stderr);
    return 1;
  }

  LoadSessionEnvironment(plan.overrides);
  LoadAdministratorLines();
  if (!Session().root_dir.empty()) {
    platform::ChangeDirectory(Session().root_dir);
  }
  MutableRun().program_id = "TARNEVOS";
  if (batch) return RunBatch(batch_options, std::cerr);

  std::string terminal_error;
  platform::TerminalConsole::Options terminal_options;
  terminal_options.small_window_notice =
      SmallWindowNotice(SessionLanguage(), platform::TerminalConsole::kColumns,
                        platform::TerminalConsole::kRows);
  std::unique_ptr<platform::TerminalConsole> terminal =
      platform::TerminalConsole::Open(terminal_error, terminal_options);
  if (terminal == nullptr) {
    PrintToStandardError(NoTerminalMessage() + " (" + terminal_error + ")");
    return 0;
  }
  platform::SetConsole(terminal.get());
  InstallHotKeyScreens();
  InstallReportHooks();

  // The form file is needed to show anything; a settings or language file
  // found oversized (read as missing so far) is named before any report
  // could be made with defaults the operator did not choose.
  std::string stop_error;
  bool ready = ReadFormFile(&stop_error);
  if (ready && !OversizedFile().empty()) {
    ready = false;
    stop_error = OversizedFileMessage(OversizedFile());
  }
  if (ready) {
    RunSettlementReport();
  } else {
    ShowStopMessage(stop_error);
  }

  // Give the terminal back before anything more is printed.
  platform::SetConsole(nullptr);
  terminal.reset();
  if (!ready) PrintToStandardError(stop_error);
  return 0;
}
