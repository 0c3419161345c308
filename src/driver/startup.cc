#include "driver/startup.h"

#include "platform/system/system.h"
#include "util/codepage.h"

namespace tarnevos {

std::vector<std::string> PrintProgramFolders() {
  std::vector<std::string> folders;
  const std::string own = platform::ExecutableDirectory();
  if (!own.empty()) {
#ifdef TARNEVOS_PRINT_PROGRAM_FROM_BIN
    folders.push_back(own + TARNEVOS_PRINT_PROGRAM_FROM_BIN);
#endif
    folders.push_back(own);
  }
#ifdef TARNEVOS_BUILD_PRINT_PROGRAM_DIR
  folders.push_back(TARNEVOS_BUILD_PRINT_PROGRAM_DIR "/");
#endif
  return folders;
}

bool PrepareStart(const DriverOptions& options,
                  const std::vector<std::string>& program_dirs, StartPlan& plan,
                  std::string& message) {
  LocationRequest request;
  request.root_option = options.root;
  request.session_option = options.session;
  request.program_dirs = program_dirs;
  plan = StartPlan{};
  plan.locations = ResolveLocations(request);
  const Locations& locations = plan.locations;
  if (locations.root_origin == LocationOrigin::kNone) {
    message = MissingInstallationMessage("tarnevos", locations);
    return false;
  }
  // The session files are written in the installation's language, which
  // is read through KELROOT.
  ExportLocations(locations);
  std::string error;
  if (!PrepareSession(locations, error)) {
    message = "tarnevos: " + error + "\n";
    return false;
  }
  if (locations.session_origin != LocationOrigin::kVariable) {
    plan.overrides.today_when_no_work_date = true;
    plan.overrides.terminal_dir_when_empty = locations.session_dir;
  }
  if (options.output) plan.overrides.output_target = Cp850(*options.output);
  return true;
}

}  // namespace tarnevos
