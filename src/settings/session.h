#ifndef TARNEVOS_SETTINGS_SESSION_H_
#define TARNEVOS_SETTINGS_SESSION_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "settings/language.h"

namespace tarnevos {

// What the program learns at start-up about the suite's directories, the
// session and the terminal. Filled once by LoadSessionEnvironment; read by
// everyone afterwards. Texts are CP850.
struct SessionSettings {
  std::string root_dir;       // KELROOT as given; ends with the separator
  std::string exe_dir;        // KELEXE as given
  std::string tmp_dir;        // KELTMP normalised, else terminal_dir
  std::string menu_title;     // " " + [Menu] Titol + " "
  std::string menu_name;      // [Menu] NomMenu
  std::string menu_id;        // [Menu] Menu
  std::string chain_menu;     // [Menu] ChnMenu
  std::string operator_name;  // [Menu] Operador
  int16_t operator_type = 0;  // [Menu] KelTipOper
  std::string terminal_dir;   // [Terminal] Dir, else TERM; normalised
  // Roles 0..4 x {foreground, background}, colours 0..15.
  std::array<std::array<int16_t, 2>, 5> screen_colours{};
  std::string work_date;          // packed date, or "" when not set
  std::string output_target;      // [Sistema] Sortida as given
  std::string language = "   ";   // 3 characters: SPA, GLG, OCI, else Catalan
  std::string host_kind = "DOS";  // CGI, WIN or DOS
};

// The session record. Empty (defaults) until LoadSessionEnvironment runs.
const SessionSettings& Session();

// The session's language, from its three-letter code.
Language SessionLanguage();

// What the command line puts in place of the session files' values.
struct SessionOverrides {
  // Replaces [Sistema] Sortida (CP850) when set.
  std::optional<std::string> output_target;
  // An empty [Sistema] Data stands for the computer's date (sessions the
  // program keeps itself; the suite's menu always writes the date).
  bool today_when_no_work_date = false;
  // Stands for an empty [Terminal] Dir instead of TERM, which on Linux
  // names no folder (sessions the program keeps itself).
  std::optional<std::string> terminal_dir_when_empty;
};

// Reads KELROOT, KELEXE, KELTMP, Sessio.ini, OrvoTerm.ini and Orvo.ini into
// the session record, selects the euro as primary and current currency and
// detects the host kind, then applies the overrides. Never fails: missing
// things give their defaults.
void LoadSessionEnvironment(const SessionOverrides& overrides);
inline void LoadSessionEnvironment() { LoadSessionEnvironment({}); }

// Tests set up a session directly.
SessionSettings& TEST_MutableSession();
// Back to the empty record of before LoadSessionEnvironment.
void TEST_ResetSession();

}  // namespace tarnevos

#endif  // TARNEVOS_SETTINGS_SESSION_H_
