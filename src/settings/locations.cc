#include "settings/locations.h"

#include <memory>

#include "platform/system/files.h"
#include "platform/system/system.h"
#include "settings/ini_reader.h"
#include "settings/language.h"

namespace tarnevos {
namespace {

constexpr std::string_view kSystemSettings = "Orvo.ini";
constexpr std::string_view kPrintProgram = "KELPRINT";

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/' && dir.back() != '\\' &&
      dir.back() != ':') {
    dir += '/';
  }
  return dir;
}

// A folder named on the command line, absolute and ending with "/".
std::string OptionDirectory(const std::string& value) {
  std::string dir = value;
  if (!dir.empty() && dir.front() != '/') {
    const std::string current = platform::CurrentDirectory();
    if (!current.empty()) {
      dir = current + (current.back() == '/' ? "" : "/") + dir;
    }
  }
  return WithSlash(dir);
}

bool HoldsSystemSettings(const std::string& dir) {
  return platform::Files().Exists(dir + std::string(kSystemSettings));
}

void ResolveRoot(const LocationRequest& request, Locations& locations) {
  if (!request.root_option.empty()) {
    const std::string dir = OptionDirectory(request.root_option);
    if (!platform::IsDirectory(dir)) {
      locations.root_problem =
          "--root " + request.root_option + ": no such folder";
    } else if (!HoldsSystemSettings(dir)) {
      locations.root_problem = "--root " + request.root_option +
                               ": not an installation (it holds no " +
                               std::string(kSystemSettings) + ")";
    } else {
      locations.root_dir = dir;
      locations.root_origin = LocationOrigin::kOption;
    }
    return;
  }
  const std::string variable = platform::GetEnv("KELROOT");
  if (!variable.empty()) {
    locations.root_dir = WithSlash(variable);
    locations.root_origin = LocationOrigin::kVariable;
    return;
  }
  const std::string here = platform::CurrentDirectory();
  if (!here.empty() && HoldsSystemSettings(WithSlash(here))) {
    locations.root_dir = WithSlash(here);
    locations.root_origin = LocationOrigin::kDefault;
    return;
  }
  locations.root_problem =
      (here.empty() ? std::string("the current folder") : here) + " holds no " +
      std::string(kSystemSettings) +
      ", and neither --root nor KELROOT names an installation";
}

void ResolveSession(const LocationRequest& request, Locations& locations) {
  if (!request.session_option.empty()) {
    locations.session_dir = OptionDirectory(request.session_option);
    locations.session_origin = LocationOrigin::kOption;
    return;
  }
  const std::string variable = platform::GetEnv("KELTMP");
  if (!variable.empty()) {
    locations.session_dir = WithSlash(variable);
    locations.session_origin = LocationOrigin::kVariable;
    return;
  }
  locations.session_dir = DefaultSessionDirectory();
  if (!locations.session_dir.empty()) {
    locations.session_origin = LocationOrigin::kDefault;
  }
}

void ResolvePrograms(const LocationRequest& request, Locations& locations) {
  const std::string variable = platform::GetEnv("KELEXE");
  if (!variable.empty()) {
    locations.program_dir = WithSlash(variable);
    locations.program_origin = LocationOrigin::kVariable;
    return;
  }
  for (const std::string& dir : request.program_dirs) {
    if (platform::Files().Exists(dir + std::string(kPrintProgram))) {
      locations.program_dir = dir;
      locations.program_origin = LocationOrigin::kDefault;
      return;
    }
  }
  // None holds it: the first one, so that the message at printing time
  // names where the print program was expected.
  if (!request.program_dirs.empty()) {
    locations.program_dir = request.program_dirs.front();
    locations.program_origin = LocationOrigin::kDefault;
  }
}

// Writes a settings file unless something already stands at the path.
bool WriteIfMissing(const std::string& path, const std::string& contents,
                    std::string& error) {
  if (platform::Files().Exists(path)) return true;
  std::unique_ptr<platform::File> file =
      platform::OpenFile(path, platform::OpenMode::kCreateNew);
  if (file == nullptr || !file->Append(contents) || !file->Flush()) {
    if (platform::Files().Exists(path) && file == nullptr) return true;
    error = path + ": cannot be written";
    return false;
  }
  return true;
}

std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

}  // namespace

Locations ResolveLocations(const LocationRequest& request) {
  Locations locations;
  ResolveRoot(request, locations);
  ResolveSession(request, locations);
  ResolvePrograms(request, locations);
  return locations;
}

std::string MissingInstallationMessage(std::string_view program,
                                       const Locations& locations) {
  const std::string name(program);
  return name + ": no installation found: " + locations.root_problem +
         ".\n"
         "Make one with \"keldades new FOLDER [DATASET.json]\", then start " +
         name + " inside it (cd FOLDER; " + name + ") or with \"" + name +
         " --root FOLDER\".\n";
}

std::string DefaultSessionDirectory() {
  const std::string runtime = platform::GetEnv("XDG_RUNTIME_DIR");
  if (!runtime.empty() && runtime.front() == '/' &&
      platform::IsDirectory(runtime)) {
    return WithSlash(runtime) + "tarnevos/";
  }
  const std::string home = platform::HomeDirectory();
  if (home.empty()) return "";
  return WithSlash(home) + ".local/state/tarnevos/";
}

bool PrepareSession(const Locations& locations, std::string& error) {
  const std::string& dir = locations.session_dir;
  switch (locations.session_origin) {
    case LocationOrigin::kVariable:
      return true;
    case LocationOrigin::kNone:
      error =
          "no folder for the session: there is no home folder; name one with "
          "--session";
      return false;
    case LocationOrigin::kOption:
      if (platform::IsDirectory(dir)) break;
      [[fallthrough]];
    case LocationOrigin::kDefault:
      if (!platform::MakePrivateDirectory(dir, error)) {
        error = "the session folder cannot be used: " + error;
        return false;
      }
      break;
  }
  const std::string language = ReadSetting(
      locations.root_dir + std::string(kSystemSettings), "Usuari", "Idioma");
  return WriteIfMissing(dir + "Sessio.ini", DefaultSessionSettings(language),
                        error) &&
         WriteIfMissing(dir + "OrvoTerm.ini", DefaultTerminalSettings(), error);
}

std::string DefaultSessionSettings(std::string_view language_code) {
  constexpr PerLanguage<const char*> kTitles = {
      "COMUNITATS DE PROPIETARIS", "COMUNIDADES DE PROPIETARIOS",
      "COMUNIDADES DE PROPIETARIOS", "COMUNITATS DE PROPRIETARIS"};
  const std::string title =
      ForLanguage(kTitles, ParseLanguage(language_code.substr(0, 3)));
  return Lines({
      "; Sessio.ini - the session of TARNEVOS, written by the program because",
      "; it was missing (the suite's menu writes it for its own sessions).",
      "; A \";\" starts a comment; a value is everything after \"=\".",
      "",
      "[Menu]",
      "; Title shown at the top of the screen.",
      "Titol=" + title,
      "; The menu entry that started the program: F1 shows its help,",
      "; AJUDA/<entry>.HLP in the installation.",
      "NomMenu=TARNEVOS",
      "; The calling menu (used by the suite's menu).",
      "Menu=",
      "; The menu to go back to (used by the suite's menu).",
      "ChnMenu=",
      "; The operator's name.",
      "Operador=",
      "; The operator's type, a number.",
      "KelTipOper=0",
      "",
      "[Terminal]",
      "; The terminal's own folder, where the calculator keeps its tape",
      "; KELCALC.TMP; empty: the session's folder.",
      "Dir=",
  });
}

std::string DefaultTerminalSettings() {
  return Lines({
      "; OrvoTerm.ini - this terminal's settings, written by the program",
      "; because they were missing.",
      "; A \";\" starts a comment; a value is everything after \"=\".",
      "",
      "[Pantalla]",
      "; Which colour set to use: the key Col followed by this number.",
      "Seleccio=0",
      "; Five pairs of two digits, foreground then background (console",
      "; colours 0-15), for highlighted, normal and reverse text, reverse",
      "; normal text and the field being edited.",
      "Col0=15000700000700070007",
      "; Yellow and white on blue, black and white on cyan.",
      "Col1=14011501000315030007",
      "",
      "[Sistema]",
      "; The working date offered as the cut-off date, YYYYMMDD; empty:",
      "; the computer's date on the day the program starts.",
      "Data=",
      "; Where reports go: PANTALLA (preview on the screen), PDF or",
      "; PDF:file, TXT or TXT:file, LP or LP:queue (the printer).",
      "; The option --output replaces it for one run.",
      "Sortida=PANTALLA",
      "; The terminal's language (CAT, SPA, GLG, OCI); empty: the",
      "; installation's (Orvo.ini).",
      "Idioma=",
  });
}

void ExportLocations(const Locations& locations) {
  if (!locations.root_dir.empty()) {
    platform::SetEnv("KELROOT", locations.root_dir);
  }
  if (!locations.session_dir.empty()) {
    platform::SetEnv("KELTMP", locations.session_dir);
  }
  if (!locations.program_dir.empty()) {
    platform::SetEnv("KELEXE", locations.program_dir);
  }
}

}  // namespace tarnevos
