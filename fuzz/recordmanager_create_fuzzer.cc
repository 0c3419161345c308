// Creates data files from arbitrary creation specifications and fills them
// with arbitrary records. Input: a 2-byte length L, L bytes of
// specification, then record bytes. Checks, besides "no crash": a refused
// specification leaves no file; stat gives back exactly the file description;
// every key walks all inserted records in key-image order, forwards and
// backwards.

#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/recordmanager/file_spec.h"
#include "platform/recordmanager/record_manager.h"

namespace {

using namespace tarnevos::platform;

struct Client {
  explicit Client(RecordManager& e) : engine(e) { block.fill(0); }
  int16_t Call(int16_t op, std::string data, std::string key,
               int8_t key_number = 0, uint32_t capacity = 1536) {
    data.resize(std::max<size_t>(capacity, data.size()));
    key.resize(255);
    uint32_t length = capacity;
    int16_t status = engine.Call(
        op, block.data(), reinterpret_cast<uint8_t*>(data.data()), &length,
        reinterpret_cast<uint8_t*>(key.data()), 255, key_number);
    returned.assign(data.data(), std::min<size_t>(length, data.size()));
    return status;
  }
  RecordManager& engine;
  std::array<uint8_t, kPositionBlockSize> block;
  std::string returned;
};

// Record bytes inserted at the most per input, so also the most records
// (of one byte each).
constexpr size_t kMostRecords = 40 * 64;

// Stops the run naming the broken check's line.
void Check(bool condition, int line) {
  if (condition) return;
  std::fprintf(stderr, "broken: check at line %d\n", line);
  std::abort();
}
#define CHECK(condition) Check((condition), __LINE__)

std::string WorkDir() {
  std::string base = std::filesystem::exists("/dev/shm")
                         ? std::string("/dev/shm")
                         : std::filesystem::temp_directory_path().string();
  std::string dir =
      base + "/tarnevos-rm-create-fuzz-" + std::to_string(::getpid()) + "/";
  std::filesystem::create_directories(dir);
  return dir;
}

// Walks key `key` from one end to the other; checks the images never go
// the wrong way and returns how many records it met.
size_t Walk(Client& client, const FileSpec& spec, int8_t key, bool forward) {
  size_t count = 0;
  std::string previous;
  int16_t status = client.Call(forward ? kOpGetFirst : kOpGetLast, "", "", key);
  // One step past the most records a run inserts: a walk that never ends
  // stops there and fails the count.
  while (status == kStatusOk && count <= kMostRecords) {
    std::string image = KeyImageOfRecord(spec, key, client.returned);
    if (count > 0) CHECK(forward ? previous <= image : image <= previous);
    previous = image;
    ++count;
    status = client.Call(forward ? kOpGetNext : kOpGetPrevious, "", "", key);
  }
  CHECK(status == kStatusEndOfFile);
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = WorkDir();
  static std::unique_ptr<RecordManager> engine = MakeSqliteRecordManager();
  if (size < 2) return 0;
  size_t spec_length = std::min<size_t>(data[0] | data[1] << 8, size - 2);
  std::string spec_bytes(reinterpret_cast<const char*>(data + 2), spec_length);
  std::string rest(reinterpret_cast<const char*>(data + 2 + spec_length),
                   size - 2 - spec_length);
  std::string path = dir + "created.dat";
  std::filesystem::remove(path);

  Client client(*engine);
  int16_t status = client.Call(kOpCreate, spec_bytes, path + '\0', -1,
                               static_cast<uint32_t>(spec_bytes.size()));
  std::optional<FileSpec> spec = ParseFileSpec(spec_bytes);
  CHECK((status == kStatusOk) == spec.has_value());
  CHECK(std::filesystem::exists(path) == spec.has_value());
  if (!spec) return 0;

  CHECK(client.Call(kOpOpen, "1234", path + '\0') == kStatusOk);
  CHECK(client.Call(kOpStat, "", "") == kStatusOk);
  CHECK(client.returned == spec->bytes);
  size_t inserted = 0;
  for (size_t at = 0;
       at + spec->record_length <= rest.size() && at < kMostRecords;
       at += spec->record_length) {
    status = client.Call(kOpInsert, rest.substr(at, spec->record_length), "", 0,
                         spec->record_length);
    CHECK(status == kStatusOk || status == kStatusDuplicateKey);
    if (status == kStatusOk) ++inserted;
  }
  for (size_t key = 0; key < spec->keys.size(); ++key) {
    CHECK(Walk(client, *spec, static_cast<int8_t>(key), true) == inserted);
    CHECK(Walk(client, *spec, static_cast<int8_t>(key), false) == inserted);
  }
  CHECK(client.Call(kOpClose, "", "") == kStatusOk);
  return 0;
}
