#ifndef TARNEVOS_SETTINGS_LOCATIONS_H_
#define TARNEVOS_SETTINGS_LOCATIONS_H_

#include <string>
#include <string_view>
#include <vector>

// Where a program of the suite finds the installation (KELROOT), the
// session's folder (KELTMP) and the suite's programs (KELEXE). Each comes
// from the command line when given there, else from the suite's variable
// (as the suite's menu sets them), else from a default:
//   installation  the current folder when it holds Orvo.ini
//   session       a private folder of the user's (DefaultSessionDirectory)
//   programs      the first candidate folder that holds KELPRINT
// The programs read these through the variables, so ExportLocations puts
// the outcome back into them for this process and the programs it starts.
namespace tarnevos {

enum class LocationOrigin { kNone, kOption, kVariable, kDefault };

struct LocationRequest {
  std::string root_option;     // --root as given (native path), "" if not
  std::string session_option;  // --session as given, "" if not
  // Folders (native, ending with "/") where the installed print program
  // may be, best first; the default of KELEXE.
  std::vector<std::string> program_dirs;
};

// Native folder paths ending with "/"; an empty path has origin kNone.
struct Locations {
  std::string root_dir;
  LocationOrigin root_origin = LocationOrigin::kNone;
  // Why an installation given by option is refused, or what was looked at
  // when none was found ("" when root_dir is set).
  std::string root_problem;
  std::string session_dir;
  LocationOrigin session_origin = LocationOrigin::kNone;
  std::string program_dir;
  LocationOrigin program_origin = LocationOrigin::kNone;
};

// Decides the three folders. Values given on the command line are made
// absolute against the current folder and, like the variables' values, get
// a trailing "/" when they lack one. An installation named by --root or
// found by default must hold Orvo.ini; KELROOT is taken as the suite's menu
// sets it. Never fails: what is missing has origin kNone.
Locations ResolveLocations(const LocationRequest& request);

// The message for a missing installation (root_origin kNone): what is
// missing and how to make an installation. `program` names the program.
std::string MissingInstallationMessage(std::string_view program,
                                       const Locations& locations);

// $XDG_RUNTIME_DIR/tarnevos/ when that variable names an absolute folder
// that exists, else ~/.local/state/tarnevos/; "" when there is no home.
std::string DefaultSessionDirectory();

// Makes a session folder that is not the suite's (origin kOption or
// kDefault) ready: creates it when missing (mode 0700; the default folder
// is also narrowed to 0700 when it exists) and writes Sessio.ini and
// OrvoTerm.ini from defaults where they are missing (never over a file).
// A session from KELTMP is left as the suite's menu made it. False, with
// the reason in `error`, when the folder cannot be made or used.
bool PrepareSession(const Locations& locations, std::string& error);

// The default settings files of a session folder (ASCII, CR LF), every key
// with a comment: the menu entry TARNEVOS (whose help F1 shows), a title in
// `language_code`'s language, no terminal folder (the program takes the
// session's), no working date (the program takes the computer's date) and
// the preview as the output. See SessionOverrides.
std::string DefaultSessionSettings(std::string_view language_code);
std::string DefaultTerminalSettings();

// Sets KELROOT, KELTMP and KELEXE to the folders that are known.
void ExportLocations(const Locations& locations);

}  // namespace tarnevos

#endif  // TARNEVOS_SETTINGS_LOCATIONS_H_
