#include "kelprint/options.h"

#include <string_view>

#include "settings/locations.h"

namespace tarnevos::kelprint {
namespace {

#ifdef TARNEVOS_VERSION
constexpr std::string_view kVersion = TARNEVOS_VERSION;
#else
constexpr std::string_view kVersion = "unknown";
#endif

KelprintArguments UsageError(std::string error) {
  KelprintArguments parsed;
  parsed.action = KelprintAction::kUsageError;
  parsed.error = std::move(error);
  return parsed;
}

}  // namespace

KelprintArguments ParseKelprintArguments(
    const std::vector<std::string>& arguments) {
  KelprintArguments parsed;
  bool has_file = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      if (parsed.action == KelprintAction::kRun) {
        parsed.action = KelprintAction::kHelp;
      }
      continue;
    }
    if (argument == "--version") {
      if (parsed.action == KelprintAction::kRun) {
        parsed.action = KelprintAction::kVersion;
      }
      continue;
    }
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    if (name == "--output" || name == "--device" || name == "--root" ||
        name == "--session") {
      std::string value;
      if (equals != std::string::npos) {
        value = argument.substr(equals + 1);
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
      } else {
        return UsageError(name + " needs a value");
      }
      if (name == "--root" || name == "--session") {
        if (value.empty()) return UsageError(name + " needs a folder");
        (name == "--root" ? parsed.root : parsed.session) = value;
      } else {
        parsed.device = value;  // an empty device means the preview
      }
      continue;
    }
    if (argument.size() > 1 && argument[0] == '-') {
      return UsageError("unknown option " + argument);
    }
    if (has_file) return UsageError("more than one print file");
    parsed.file = argument;
    has_file = true;
  }
  return parsed;
}

const char* KelprintUsage() {
  return "usage: kelprint [--output DEVICE] [--session DIR] [--root DIR] "
         "[FILE]\n"
         "       kelprint --help | --version\n"
         "\n"
         "Renders the print file (default: kelprint.tmp in the session's\n"
         "folder) on the device its DEVICE line names: empty or PANTALLA\n"
         "(preview), PDF[:path], TXT[:path], LP[:queue].\n"
         "\n"
         "  --output DEVICE  the device, in place of the file's DEVICE line\n"
         "                   (also --device=DEVICE)\n"
         "  --session DIR    the session's folder (default: KELTMP, else your\n"
         "                   private session folder, as tarnevos keeps it)\n"
         "  --root DIR       the installation whose settings give the\n"
         "                   language (default: KELROOT, else the current\n"
         "                   folder when it holds Orvo.ini)\n"
         "  --help           this text\n"
         "  --version        the program's version\n"
         "\n"
         "More in kelprint(1).\n";
}

std::string KelprintVersion() {
  return "kelprint " + std::string(kVersion) + "\n";
}

bool ApplyKelprintLocations(const KelprintArguments& arguments,
                            std::ostream& err) {
  LocationRequest request;
  request.root_option = arguments.root;
  request.session_option = arguments.session;
  const Locations locations = ResolveLocations(request);
  if (!arguments.root.empty() &&
      locations.root_origin == LocationOrigin::kNone) {
    err << "kelprint: " << locations.root_problem << "\n";
    return false;
  }
  ExportLocations(locations);
  return true;
}

}  // namespace tarnevos::kelprint
