// Opens arbitrary bytes as a data file and reads it: no input may crash the
// record manager. The first input byte chooses how the file is made:
//   even: the remaining bytes are the whole file;
//   odd:  a valid data file (built at start-up) with the remaining bytes
//         applied as patches (3 bytes each: 2-byte offset, new byte), which
//         gets past SQLite's header checks into damaged pages.
// Every file that opens is then read along both keys, by key, by position,
// and written to.

#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/recordmanager/record_manager.h"
#include "util/little_endian.h"

namespace {

using namespace tarnevos::platform;

constexpr uint16_t kRecordLength = 20;

std::string WorkDir() {
  std::string base = std::filesystem::exists("/dev/shm")
                         ? std::string("/dev/shm")
                         : std::filesystem::temp_directory_path().string();
  std::string dir =
      base + "/tarnevos-rm-open-fuzz-" + std::to_string(::getpid()) + "/";
  std::filesystem::create_directories(dir);
  return dir;
}

void Put16(std::string& bytes, size_t at, uint16_t value) {
  tarnevos::le::StoreU16(bytes.data() + at, value);
}

// Two keys: a 2-byte binary number plus 4 text bytes (unique), and 6
// collated bytes with duplicates.
std::string Spec() {
  std::string spec(16 + 3 * 16, '\0');
  Put16(spec, 0, kRecordLength);
  Put16(spec, 2, 4096);
  Put16(spec, 4, 2);
  Put16(spec, 16, 1);
  Put16(spec, 18, 2);
  Put16(spec, 20, 0x0004 | 0x0010);
  Put16(spec, 32, 3);
  Put16(spec, 34, 4);
  Put16(spec, 48, 7);
  Put16(spec, 50, 6);
  Put16(spec, 52, 0x0020 | 0x0001);
  spec.push_back(static_cast<char>(0xAC));
  spec += "UPPER   ";
  for (int b = 0; b < 256; ++b) {
    spec.push_back(static_cast<char>(b >= 'a' && b <= 'z' ? b - 32 : b));
  }
  return spec;
}

struct Client {
  explicit Client(RecordManager& e) : engine(e) { block.fill(0); }
  int16_t Call(int16_t op, std::string data, std::string key,
               int8_t key_number = 0, uint32_t capacity = 1536) {
    data.resize(std::max<size_t>(capacity, data.size()));
    key.resize(255);
    uint32_t length = capacity;
    return engine.Call(op, block.data(),
                       reinterpret_cast<uint8_t*>(data.data()), &length,
                       reinterpret_cast<uint8_t*>(key.data()), 255, key_number);
  }
  RecordManager& engine;
  std::array<uint8_t, kPositionBlockSize> block;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Fixture {
  Fixture() : dir(WorkDir()), engine(MakeSqliteRecordManager()) {
    std::string path = dir + "template.dat";
    Client client(*engine);
    client.Call(kOpCreate, Spec(), path + '\0', -1);
    client.Call(kOpOpen, "1234", path + '\0');
    for (int i = 0; i < 60; ++i) {
      std::string record(kRecordLength, static_cast<char>('a' + i % 26));
      record[0] = static_cast<char>(i * 7);
      record[1] = static_cast<char>(i % 3);
      record[6] = static_cast<char>('A' + i % 5);
      client.Call(kOpInsert, record, "", 0, kRecordLength);
    }
    client.Call(kOpClose, "", "");
    valid_file = ReadAll(path);
  }
  ~Fixture() { std::filesystem::remove_all(dir); }
  std::string dir;
  std::unique_ptr<RecordManager> engine;
  std::string valid_file;
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

void Exercise(RecordManager& engine, const std::string& path,
              const uint8_t* bytes, size_t size) {
  Client client(engine);
  if (client.Call(kOpOpen, "1234", path + '\0') != kStatusOk) return;
  client.Call(kOpStat, "", "", 0);
  std::string key(reinterpret_cast<const char*>(bytes),
                  std::min<size_t>(size, 10));
  for (int8_t k = -1; k <= 2; ++k) {
    client.Call(kOpGetFirst, "", "", k);
    for (int i = 0; i < 4; ++i) client.Call(kOpGetNext, "", "", k);
    client.Call(kOpGetLast, "", "", k);
    client.Call(kOpGetPrevious, "", "", k, 3);
    client.Call(kOpGetEqual, "", key, k);
    client.Call(kOpGetGreaterOrEqual, "", key, k);
    client.Call(kOpGetLessOrEqual, "", key, k);
  }
  client.Call(kOpGetPosition, "", "", 0, 4);
  for (uint32_t position : {1u, 2u, 59u, 0xFFFFFFFFu}) {
    std::string data(4, '\0');
    std::memcpy(data.data(), &position, 4);
    client.Call(kOpGetDirect, data, "", 1);
  }
  std::string record(kRecordLength, 'z');
  std::memcpy(record.data(), key.data(), std::min<size_t>(key.size(), 8));
  client.Call(kOpInsert, record, "", 1, kRecordLength);
  client.Call(kOpUpdate, record, "", 0, kRecordLength);
  client.Call(kOpGetNext, "", "", 1);
  client.Call(kOpDelete, "", "");
  client.Call(kOpClose, "", "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& fixture = TheFixture();
  if (size == 0) return 0;
  std::string path = fixture.dir + "input.dat";
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::filesystem::remove(path + suffix);
  }
  std::string file;
  if (data[0] % 2 == 0) {
    file.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  } else {
    file = fixture.valid_file;
    for (size_t i = 1; i + 3 <= size && !file.empty(); i += 3) {
      size_t offset = tarnevos::le::LoadU16(data + i) % file.size();
      file[offset] = static_cast<char>(data[i + 2]);
    }
  }
  std::ofstream(path, std::ios::binary).write(file.data(), file.size());
  Exercise(*fixture.engine, path, data, size);
  return 0;
}
