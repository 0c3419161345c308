#include "driver/options.h"

#include <string_view>

namespace tarnevos {
namespace {

#ifdef TARNEVOS_VERSION
constexpr std::string_view kVersion = TARNEVOS_VERSION;
#else
constexpr std::string_view kVersion = "unknown";
#endif

// An option that takes a value; `store` puts it in place.
struct ValueOption {
  std::string_view name;
  std::string_view value_name;  // for messages: "a folder", "a device"
  void (*store)(DriverOptions& options, const std::string& value);
};

constexpr ValueOption kValueOptions[] = {
    {"--root", "a folder",
     [](DriverOptions& o, const std::string& v) { o.root = v; }},
    {"--session", "a folder",
     [](DriverOptions& o, const std::string& v) { o.session = v; }},
    {"--output", "a device",
     [](DriverOptions& o, const std::string& v) { o.output = v; }},
};

// Options without a value that decide what the program does.
struct ActionOption {
  std::string_view name;
  DriverAction action;
};

constexpr ActionOption kActionOptions[] = {
    {"--help", DriverAction::kHelp},
    {"-h", DriverAction::kHelp},
    {"--version", DriverAction::kVersion},
};

ParsedArguments UsageError(std::string error) {
  ParsedArguments parsed;
  parsed.action = DriverAction::kUsageError;
  parsed.error = std::move(error);
  return parsed;
}

}  // namespace

ParsedArguments ParseDriverArguments(
    const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const size_t equals = argument.find('=');
    const std::string_view name = std::string_view(argument).substr(0, equals);

    bool known = false;
    for (const ActionOption& option : kActionOptions) {
      if (argument == option.name) {
        if (parsed.action == DriverAction::kRun) parsed.action = option.action;
        known = true;
      }
    }
    if (known) continue;

    for (const ValueOption& option : kValueOptions) {
      if (name != option.name) continue;
      known = true;
      std::string value;
      if (equals != std::string::npos) {
        value = argument.substr(equals + 1);
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
      }
      if (value.empty()) {
        return UsageError(std::string(option.name) + " needs " +
                          std::string(option.value_name));
      }
      option.store(parsed.options, value);
    }
    if (known) continue;

    if (!argument.empty() && argument[0] == '-') {
      return UsageError("unknown option " + argument);
    }
    return UsageError("unexpected argument " + argument);
  }
  return parsed;
}

void SplitDriverArguments(const std::vector<std::string>& arguments,
                          std::vector<std::string>& driver,
                          std::vector<std::string>& rest) {
  driver.clear();
  rest.clear();
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const size_t equals = argument.find('=');
    const std::string_view name = std::string_view(argument).substr(0, equals);
    bool action = false;
    for (const ActionOption& option : kActionOptions) {
      if (argument == option.name) action = true;
    }
    bool value = false;
    for (const ValueOption& option : kValueOptions) {
      if (name == option.name) value = true;
    }
    if (!action && !value) {
      rest.push_back(argument);
      continue;
    }
    driver.push_back(argument);
    // A value option's value is the next argument unless given after "=".
    if (value && equals == std::string::npos && i + 1 < arguments.size()) {
      driver.push_back(arguments[++i]);
    }
  }
}

std::string DriverUsage() {
  return "usage: tarnevos [--root DIR] [--session DIR] [--output DEVICE]\n"
         "       tarnevos --batch --cutoff DATE [--from C.U] [--to C.U]\n"
         "                [--copies N] [--xlsx FILE] [--csv DIR]\n"
         "                [--statements DIR] [--root DIR] [--session DIR]\n"
         "                [--output DEVICE]\n"
         "       tarnevos --help | --version\n"
         "\n"
         "Prints the settlement summary of communities of owners up to a\n"
         "cut-off date: a form on the terminal, then the report on the\n"
         "device of the session (a preview, a PDF, a text file, a printer).\n"
         "\n"
         "  --root DIR       the installation (default: KELROOT, else the\n"
         "                   current folder when it holds Orvo.ini)\n"
         "  --session DIR    the session's folder (default: KELTMP, else a\n"
         "                   private folder of yours under $XDG_RUNTIME_DIR\n"
         "                   or ~/.local/state)\n"
         "  --output DEVICE  where reports go for this run: PANTALLA\n"
         "                   (preview), PDF[:FILE], TXT[:FILE], LP[:QUEUE]\n"
         "  --batch          one report without the form or a terminal, for\n"
         "                   scripts: --cutoff DATE (YYYY-MM-DD), --from and\n"
         "                   --to C.U (default: every community and unit),\n"
         "                   --copies N, --xlsx FILE and --csv DIR for the\n"
         "                   settlement's figures as a spreadsheet,\n"
         "                   --statements DIR for the owners' statements\n"
         "  --help           this text\n"
         "  --version        the program's version\n"
         "\n"
         "Make an installation with: keldades new DIR [DATASET.json]\n"
         "More in tarnevos(1) and tarnevos(5).\n";
}

std::string DriverVersion() {
  return "tarnevos " + std::string(kVersion) + "\n";
}

}  // namespace tarnevos
