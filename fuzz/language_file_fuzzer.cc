// Arbitrary bytes as the program's language file, read by Translate in each
// of the four languages. A translation is the text itself or one field of
// the file (never longer than the file); no input may crash the reader or
// make it read without end.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "settings/ini_reader.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "settings/translate.h"

namespace {

using namespace tarnevos;

const std::string& Root() {
  static const std::string root = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tarnevos-lng-fuzz-XXXXXX")
            .string();
    const char* made = ::mkdtemp(pattern.data());
    const std::string dir = std::string(made == nullptr ? "." : made) + "/";
    std::filesystem::create_directories(dir + "LOCALE");
    TEST_MutableSession().root_dir = dir;
    MutableRun().program_id = "TARNEVOS";
    return dir;
  }();
  return root;
}

void Check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "language_file_fuzzer: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = Root();
  const std::string contents(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(root + "LOCALE/TARNEVOS.LNG",
                      std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  }
  // Texts the program translates, and pieces of the file itself (so that
  // entries are found, not only missed).
  std::string texts[] = {"Data de tall", "", "\"", contents.substr(0, 12),
                         contents.substr(0, contents.find(','))};
  for (const char* language : {"SPA", "GLG", "OCI", "XYZ"}) {
    TEST_MutableSession().language = language;
    for (const std::string& text : texts) {
      const std::string translated = Translate(text);
      Check(translated == text || translated.size() <= contents.size(),
            "a translation longer than the file");
    }
  }
  TEST_ResetOversizedFile();
  return 0;
}
