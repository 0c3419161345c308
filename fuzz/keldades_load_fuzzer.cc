// Feeds arbitrary bytes to the data tool's loader as a JSON dataset. No
// input may crash it; an input it refuses must leave no records and say
// why; an input it accepts must give records of their files' lengths, in key
// order, that turn into a dataset which loads again to the same records.
// Small accepted datasets are also written into a scratch root and dumped,
// and the dump must be the same dataset.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "data/data_files.h"
#include "keldades/cli.h"
#include "keldades/dataset.h"
#include "keldades/store.h"

namespace {

using namespace tarnevos;
using namespace tarnevos::keldades;

const std::string& ScratchRoot() {
  static const std::string root = [] {
    std::string base = std::filesystem::exists("/dev/shm")
                           ? std::string("/dev/shm")
                           : std::filesystem::temp_directory_path().string();
    std::string dir =
        base + "/tarnevos-keldades-fuzz-" + std::to_string(::getpid()) + "/";
    std::filesystem::create_directories(dir);
    return dir;
  }();
  return root;
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "keldades_load_fuzzer: %s\n", what);
    std::abort();
  }
}

size_t RecordCount(const RecordSet& records) {
  size_t count = 0;
  for (const auto& file : records.files) count += file.size();
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  RecordSet records;
  std::string error;
  if (!ParseDataset(text, records, error)) {
    Check(!error.empty(), "a refusal without a message");
    Check(RecordCount(records) == 0, "records left after a refusal");
    return 0;
  }
  for (int file = 0; file < kFileCount; ++file) {
    const auto& list = records.files[file];
    for (size_t i = 0; i < list.size(); ++i) {
      Check(list[i].size() == FileLayouts()[file].record_length,
            "a record of the wrong length");
      if (i > 0) {
        Check(KeyOf(static_cast<FileIndex>(file), list[i - 1]) <=
                  KeyOf(static_cast<FileIndex>(file), list[i]),
              "records out of key order");
      }
    }
  }
  Json dataset = DatasetFromRecords(records);
  RecordSet again;
  Check(RecordsFromDataset(dataset, again, error), "its own dump refused");
  Check(again.files == records.files, "its own dump reads differently");

  // Through the files and back, for datasets small enough to write quickly.
  if (RecordCount(records) <= 64) {
    WriteCounts counts;
    Check(WriteRecordSet(ScratchRoot(), records, counts, error),
          "an accepted dataset could not be written");
    std::ostringstream dump;
    Check(DumpInstallation(ScratchRoot(), "", dump, error),
          "the written files could not be dumped");
    Check(Json::parse(dump.str()) == dataset, "the files dump differently");
  }
  return 0;
}
