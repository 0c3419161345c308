#include "settings/translate.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/system/paths.h"
#include "settings/csv_reader.h"
#include "settings/run_values.h"
#include "settings/session.h"

namespace tarnevos {
namespace {

// Field of an entry holding the language's text: 2 Galician, 3 Aranese,
// 4 Spanish; 0 for a language the file does not hold.
int FieldFor(Language language) {
  constexpr PerLanguage<int> kFields = {0, 4, 2, 3};
  return ForLanguage(kFields, language);
}

std::string ReadWholeFile(const std::string& native) {
  std::ifstream in(native, std::ios::binary);
  if (!in) return "";
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
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
  const std::string native = platform::NativePath(LanguageFilePath());
  if (std::FILE* created = std::fopen(native.c_str(), "ab")) {
    std::fclose(created);
  }

  CsvReader reader(ReadWholeFile(native));
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
