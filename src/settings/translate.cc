#include "settings/translate.h"

#include "platform/system/files.h"
#include "settings/csv_reader.h"
#include "settings/ini_reader.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "util/codepage.h"

namespace tarnevos {
namespace {

// Field of an entry holding the language's text: 2 Galician, 3 Aranese,
// 4 Spanish; 0 for a language the file does not hold.
int FieldFor(Language language) {
  constexpr PerLanguage<int> kFields = {0, 4, 2, 3};
  return ForLanguage(kFields, language);
}

// Language files hold a few hundred entries: a larger one is damaged and
// read as missing (see kMaxSettingsFileBytes).
std::string ReadLanguageFile(const std::string& path) {
  std::string contents;
  const platform::ReadStatus status =
      platform::ReadWholeFile(path, kMaxSettingsFileBytes, contents);
  if (status == platform::ReadStatus::kTooLarge) NoteOversizedFile(path);
  if (status != platform::ReadStatus::kOk) return "";
  return TextFileToCp850(contents);
}

}  // namespace

std::string LanguageFilePath() {
  return Session().root_dir + "LOCALE\\" + Run().program_id + ".LNG";
}

std::string Translate(std::string_view text) {
  // An explicit "CAT" needs no file; any other code reads it, so that a
  // missing file gets created for the translators.
  if (Session().language == "CAT") return std::string(text);

  // The file is created empty when it is missing, so that translators find
  // it in place.
  const std::string path = LanguageFilePath();
  if (!platform::Files().Exists(path)) {
    platform::OpenFile(path, platform::OpenMode::kCreateNew);
  }

  CsvReader reader(ReadLanguageFile(path));
  const int wanted = FieldFor(SessionLanguage());
  std::string fields[4];
  while (reader.ReadField(fields[0])) {
    // An entry cut short at the end of the file is ignored.
    if (!reader.ReadField(fields[1]) || !reader.ReadField(fields[2]) ||
        !reader.ReadField(fields[3])) {
      break;
    }
    if (fields[0] == text) {
      return wanted == 0 ? std::string(text) : fields[wanted - 1];
    }
  }
  return std::string(text);
}

}  // namespace tarnevos
