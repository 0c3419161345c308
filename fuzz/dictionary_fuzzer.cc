// Arbitrary bytes as a data file's dictionary (ddf\<name>.xdf), through the
// access layer on the SQLite record manager: a missing data file is created
// from it, and an existing one is compared with it at open. The first input
// byte chooses which. No input may crash the layer or the record manager;
// every outcome is an open file whose key and record lengths are those of
// its statistics, or the stop message.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/windows.h"
#include "data/access_layer.h"
#include "data/data_files.h"
#include "data/key_spec.h"
#include "platform/console/memory_console.h"
#include "platform/recordmanager/record_manager.h"
#include "settings/session.h"

namespace {

using namespace tarnevos;
namespace fs = std::filesystem;

int g_stops = 0;
void RecordStop() { ++g_stops; }

const std::string& Root() {
  static const std::string root = [] {
    const std::string base = fs::exists("/dev/shm")
                                 ? "/dev/shm"
                                 : fs::temp_directory_path().string();
    std::string pattern = base + "/tarnevos-ddf-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern.data());
    const std::string dir = std::string(made == nullptr ? "." : made) + "/";
    fs::create_directories(dir + "DADES");
    fs::create_directories(dir + "ddf");
    return dir;
  }();
  return root;
}

void Check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "dictionary_fuzzer: %s\n", what);
    std::abort();
  }
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string& root = Root();
  TEST_ResetAccessLayer();
  TEST_ResetWindows();
  TEST_MutableSession().root_dir = root;
  TEST_MutableSession().tmp_dir = root;
  platform::MemoryConsole& console = platform::BuiltInMemoryConsole();
  platform::SetConsole(&console);
  console.ClearScript();
  TEST_SetFatalStopHandler(RecordStop);
  g_stops = 0;

  const bool existing = (data[0] & 1) != 0;
  const std::string dictionary(reinterpret_cast<const char*>(data) + 1,
                               size - 1);
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm"}) {
    fs::remove(root + "DADES/CobramH.dat" + suffix, ec);
  }
  if (existing) {
    // A real CobramH file, made from its own dictionary.
    Write(root + "ddf/CobramH.xdf", DictionaryBytes(FileLayouts()[5]));
    std::vector<uint8_t> area(kCobramLength);
    int16_t status = -1;
    OpenDataFile(kCobramHandle, root + "DADES\\CobramH", area.data(),
                 area.size(), status);
    Check(status == 0 && g_stops == 0, "the real dictionary is refused");
    CloseAllDataFiles(status);
  }
  Write(root + "ddf/CobramH.xdf", dictionary);

  console.PushKey(13);  // for a stop message
  std::vector<uint8_t> area(kCobramLength + 8, 0xAA);
  int16_t status = -1;
  OpenDataFile(kCobramHandle, root + "DADES\\CobramH", area.data(),
               kCobramLength, status);
  if (g_stops == 0) {
    Check(status == 0, "neither open nor stopped");
    int16_t key_length = 0;
    int32_t record_length = 0;
    ReadKeyInfo(kCobramHandle, 0, key_length, record_length);
    Check(record_length >= 1 && record_length <= 1536, "record length");
    Check(key_length >= 1 && key_length <= 255, "key length");
    ReadByKey(kCobramHandle, 0, std::string(8, '\0'), 1, status);
    StepRecords(kCobramHandle, 2, status);
    for (size_t i = kCobramLength; i < area.size(); ++i) {
      Check(area[i] == 0xAA, "a read past the record area");
    }
    CloseAllDataFiles(status);
  }
  Check(WindowDepth() == 0, "a window left open");
  platform::TEST_ResetRecordManager();
  return 0;
}
