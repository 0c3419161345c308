// Browse.tmp as read back: a lookup list without a data file shows the
// lines prepared in Browse.tmp; here the file holds arbitrary bytes and
// the list is driven by arbitrary keys. No input may crash the list or
// make it loop; a choice is a line of the file, and the file is gone and
// no window left open when the list closes.
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "console/form_table.h"
#include "console/keyboard.h"
#include "console/windows.h"
#include "data/lookup_list.h"
#include "platform/console/memory_console.h"
#include "settings/session.h"

namespace {

using namespace tarnevos;

const std::string& TmpDir() {
  static const std::string dir = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tarnevos-browse-fuzz-XXXXXX")
            .string();
    const char* made = ::mkdtemp(pattern.data());
    return std::string(made == nullptr ? "." : made) + "/";
  }();
  return dir;
}

void Check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "browse_file_fuzzer: %s\n", what);
    std::abort();
  }
}

// Keys a list knows, picked by the input's bytes.
constexpr int kKeys[] = {0x5000, 0x4800, 0x5100, 0x4900, 0x4700, 0x4F00,
                         13,     27,     0x3E00, 'a',    ' ',    0x4B00};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  TEST_ResetWindows();
  TEST_ResetLookupList();
  TEST_ResetKeyboard();
  TEST_MutableSession().tmp_dir = TmpDir();
  platform::MemoryConsole& console = platform::BuiltInMemoryConsole();
  platform::SetConsole(&console);
  console.ClearScript();

  // The first byte: how many keys follow; then the keys; the rest is the
  // file.
  const size_t key_count = std::min<size_t>(data[0] % 16, size - 1);
  for (size_t i = 0; i < key_count; ++i) {
    console.PushKey(kKeys[data[1 + i] % (sizeof kKeys / sizeof kKeys[0])]);
  }
  console.PushKey(27);
  const std::string file(reinterpret_cast<const char*>(data) + 1 + key_count,
                         size - 1 - key_count);
  {
    std::ofstream out(TmpDir() + "Browse.tmp",
                      std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
  }

  FormTables& tables = Forms();
  tables = FormTables{};
  tables.lookup_count = 1;
  tables.lookup_attr.assign(2, {});
  tables.lookup_attr[1] = {0, 0, 3, 5, 20, 70, 0, 0};
  tables.lookup_text.assign(2, "");
  tables.lookup_text[1] = "LINIES";

  int16_t result = 99;
  RecordLookup(1, result);
  Check(result == -1 || result == 0, "an unknown result");
  if (result == 0) {
    Check(LookupChoiceText().size() <= file.size(), "a choice not in the file");
  }
  Check(WindowDepth() == 0, "a window left open");
  Check(!std::filesystem::exists(TmpDir() + "Browse.tmp"),
        "Browse.tmp outlived its list");
  return 0;
}
