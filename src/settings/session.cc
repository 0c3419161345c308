#include "settings/session.h"

#include <string>

#include "platform/system/system.h"
#include "settings/ini_reader.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

// Colours when OrvoTerm.ini gives none: role 0 bright white on black, role 1
// grey on black, roles 2 to 4 black on grey.
constexpr std::string_view kDefaultColours = "15000700000700070007";

SessionSettings& State() {
  static SessionSettings session;
  return session;
}

// A directory taken from the environment or a settings file gets a trailing
// separator unless it already ends with one (or with a drive's ":").
std::string WithSeparator(std::string dir) {
  if (!dir.empty() && dir.back() != ':' && dir.back() != '\\' &&
      dir.back() != '/') {
    dir += '\\';
  }
  return dir;
}

// The colour string holds five pairs of two-digit numbers, foreground then
// background; missing characters read as 0.
void ReadColours(std::string_view colours, SessionSettings& session) {
  for (size_t role = 0; role < session.screen_colours.size(); ++role) {
    for (size_t entry = 0; entry < 2; ++entry) {
      size_t start = 4 * role + 2 * entry;
      std::string_view text =
          start < colours.size() ? colours.substr(start, 2) : "";
      session.screen_colours[role][entry] = ToInt16(NumericValue(text));
    }
  }
}

}  // namespace

const SessionSettings& Session() { return State(); }

SessionSettings& TEST_MutableSession() { return State(); }

void TEST_ResetSession() { State() = SessionSettings{}; }

Language SessionLanguage() { return ParseLanguage(Session().language); }

void LoadSessionEnvironment(const SessionOverrides& overrides) {
  SessionSettings session;
  session.screen_colours = {};
  session.root_dir = platform::GetEnv("KELROOT");
  session.exe_dir = platform::GetEnv("KELEXE");
  session.tmp_dir = WithSeparator(platform::GetEnv("KELTMP"));

  const std::string sessio = session.tmp_dir + "Sessio.ini";
  session.menu_title = " " + ReadSetting(sessio, "Menu", "Titol") + " ";
  session.menu_name = ReadSetting(sessio, "Menu", "NomMenu");
  session.menu_id = ReadSetting(sessio, "Menu", "Menu");
  session.chain_menu = ReadSetting(sessio, "Menu", "ChnMenu");
  session.operator_name = ReadSetting(sessio, "Menu", "Operador");
  session.operator_type =
      ToInt16(NumericValue(ReadSetting(sessio, "Menu", "KelTipOper")));

  session.terminal_dir = ReadSetting(sessio, "Terminal", "Dir");
  if (session.terminal_dir.empty()) {
    session.terminal_dir =
        overrides.terminal_dir_when_empty.value_or(platform::GetEnv("TERM"));
  }
  session.terminal_dir = WithSeparator(session.terminal_dir);
  if (session.tmp_dir.empty()) session.tmp_dir = session.terminal_dir;

  SelectCurrency("a,E");

  const std::string terminal = session.tmp_dir + "OrvoTerm.ini";
  int selection =
      ToInt16(NumericValue(ReadSetting(terminal, "Pantalla", "Seleccio")));
  std::string colours =
      ReadSetting(terminal, "Pantalla", "Col" + std::to_string(selection));
  if (colours.empty()) colours = kDefaultColours;
  ReadColours(colours, session);

  session.work_date = PackDigits(ReadSetting(terminal, "Sistema", "Data"));
  if (session.work_date.empty() && overrides.today_when_no_work_date) {
    const platform::CalendarDay today = platform::LocalToday();
    session.work_date = PackDigits(
        std::to_string(today.year * 10000 + today.month * 100 + today.day));
  }
  session.output_target = overrides.output_target.value_or(
      ReadSetting(terminal, "Sistema", "Sortida"));
  session.language = FitText(ReadSetting(terminal, "Sistema", "Idioma"), 3);
  if (TrimRightBlanks(session.language).empty()) {
    session.language =
        FitText(ReadSetting(SystemSettingsFile(), "Usuari", "Idioma"), 3);
  }

  if (!platform::GetEnv("HTTP_USER_AGENT").empty() ||
      !platform::GetEnv("HTTP_ACCEPT").empty()) {
    session.host_kind = "CGI";
  } else if (!platform::GetEnv("WINDIR").empty() ||
             !platform::GetEnv("SYSTEMROOT").empty()) {
    session.host_kind = "WIN";
  } else {
    session.host_kind = "DOS";
  }
  State() = std::move(session);
}

}  // namespace tarnevos
