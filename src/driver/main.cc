// TARNEVOS: the settlement summary of communities of owners.
#include "platform/system/paths.h"
#include "settings/run_values.h"
#include "settings/session.h"

int main() {
  using namespace tarnevos;
  LoadSessionEnvironment();
  LoadAdministratorLines();
  if (!Session().root_dir.empty()) platform::ChangeDirectory(Session().root_dir);
  MutableRun().program_id = "TARNEVOS";
  return 0;
}
