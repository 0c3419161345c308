// Record manager throughput: get equal, get greater-or-equal + get next, and
// a bare SQLite statement scanning the same rows in key order.
//
// Builds (once, through the engine) data files of N 24-byte records with an
// 8-byte key: 4 text bytes then a 4-byte binary number. N comes from
// TARNEVOS_BENCH_RECORDS (default 1,000,000); the files go to
// TARNEVOS_BENCH_DIR (default the system's temporary directory) and are
// removed at the end. "ordered" files get their records in key order,
// "shuffled" ones in random order (so key order and storage order differ).

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/recordmanager/record_manager.h"
#include "util/little_endian.h"

namespace tarnevos::platform {
namespace {

constexpr uint32_t kRecordLength = 24;
constexpr size_t kSmallFileRecords = 1000;

uint32_t RecordCount() {
  const char* text = std::getenv("TARNEVOS_BENCH_RECORDS");
  long value = text != nullptr ? std::atol(text) : 0;
  return value > 0 ? static_cast<uint32_t>(value) : 1000000;
}

std::string BenchDir() {
  const char* text = std::getenv("TARNEVOS_BENCH_DIR");
  std::string base = text != nullptr && *text
                         ? std::string(text)
                         : std::filesystem::temp_directory_path().string();
  return base + "/tarnevos-rm-bench-" + std::to_string(::getpid()) + "/";
}

// The key value of record n: "0042" + n as 4 little-endian bytes, where
// 0042 = n / 1000, so that key order is numeric order of n.
std::string KeyValue(uint32_t n) {
  char text[8];
  std::snprintf(text, sizeof text, "%04u", (n / 1000) % 10000);
  std::string key(text, 4);
  le::AppendU32(key, n);
  return key;
}

std::string Record(uint32_t n) {
  std::string record = KeyValue(n);
  record.resize(kRecordLength, static_cast<char>('a' + n % 26));
  return record;
}

std::string Spec() {
  std::string spec(16 + 32, '\0');
  auto put = [&](size_t at, uint16_t value) {
    le::StoreU16(spec.data() + at, value);
  };
  put(0, kRecordLength);
  put(2, 4096);
  put(4, 1);
  put(16, 1);  // text segment: bytes 1-4, another segment follows
  put(18, 4);
  put(20, 0x0010);
  put(32, 5);  // binary segment: bytes 5-8
  put(34, 4);
  put(36, 0x0004);
  return spec;
}

struct Client {
  explicit Client(RecordManager& e) : engine(e) { block.fill(0); }
  int16_t Call(int16_t op, std::string* data, std::string* key,
               int8_t key_number = 0) {
    uint32_t length = static_cast<uint32_t>(data->size());
    return engine.Call(op, block.data(),
                       reinterpret_cast<uint8_t*>(data->data()), &length,
                       reinterpret_cast<uint8_t*>(key->data()),
                       static_cast<uint8_t>(key->size()), key_number);
  }
  RecordManager& engine;
  std::array<uint8_t, kPositionBlockSize> block;
};

int16_t OpenFile(Client& client, const std::string& path) {
  std::string data = "1234";
  std::string key = path + '\0';
  return client.Call(kOpOpen, &data, &key);
}

// Builds a data file of `count` records through the engine, in batches.
double BuildFile(const std::string& path, uint32_t count, bool shuffled) {
  auto started = std::chrono::steady_clock::now();
  std::unique_ptr<RecordManager> engine = MakeSqliteRecordManager();
  Client client(*engine);
  std::string spec = Spec();
  std::string name = path + '\0';
  if (client.Call(kOpCreate, &spec, &name, 0) != kStatusOk ||
      OpenFile(client, path) != kStatusOk) {
    std::fprintf(stderr, "cannot create %s\n", path.c_str());
    std::exit(1);
  }
  std::vector<uint32_t> order(count);
  for (uint32_t i = 0; i < count; ++i) order[i] = i;
  if (shuffled) std::shuffle(order.begin(), order.end(), std::mt19937(42));
  constexpr uint32_t kBatch = 50000;
  std::string batch;
  for (uint32_t start = 0; start < count; start += kBatch) {
    uint32_t n = std::min(kBatch, count - start);
    batch.clear();
    for (uint32_t i = 0; i < n; ++i) batch += Record(order[start + i]);
    uint32_t failed = 0;
    if (engine->InsertMany(client.block.data(),
                           reinterpret_cast<const uint8_t*>(batch.data()),
                           kRecordLength, n, 0, &failed) != kStatusOk) {
      std::fprintf(stderr, "load failed at %u\n", start + failed);
      std::exit(1);
    }
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                       started)
      .count();
}

class Files {
 public:
  static Files& Get() {
    static Files files;
    return files;
  }
  ~Files() { std::filesystem::remove_all(dir_); }
  std::string Path(const std::string& kind) {
    std::string path = dir_ + kind + ".dat";
    if (!std::filesystem::exists(path)) {
      uint32_t count = kind == "small" ? kSmallFileRecords : RecordCount();
      double seconds =
          BuildFile(path, count, kind != "ordered" && kind != "small");
      std::fprintf(stderr, "built %s: %u records in %.1f s (%.0f/s)\n",
                   kind.c_str(), count, seconds, count / seconds);
    }
    return path;
  }

 private:
  Files() : dir_(BenchDir()) { std::filesystem::create_directories(dir_); }
  std::string dir_;
};

void GetEqual(benchmark::State& state, const std::string& kind) {
  std::string path = Files::Get().Path(kind);
  uint32_t count = kind == "small" ? kSmallFileRecords : RecordCount();
  std::unique_ptr<RecordManager> engine = MakeSqliteRecordManager();
  Client client(*engine);
  if (OpenFile(client, path) != kStatusOk) state.SkipWithError("open");
  // On the small file the same keys come back (as lookups of a code table
  // do); on the large ones, 200,000 random keys are mostly read for the
  // first time.
  std::mt19937 random(7);
  std::vector<std::string> keys;
  size_t distinct = kind == "small" ? 4096 : 200000;
  for (size_t i = 0; i < distinct; ++i) {
    keys.push_back(KeyValue(random() % count));
  }
  std::string data(kRecordLength, '\0');
  size_t i = 0;
  for (auto _ : state) {
    std::string key = keys[i++ % keys.size()];
    if (client.Call(kOpGetEqual, &data, &key) != kStatusOk) {
      state.SkipWithError("get equal failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// Get greater-or-equal on the first key, then get next to the end, over and
// over; every call counts as a step.
void Steps(benchmark::State& state, const std::string& kind) {
  std::string path = Files::Get().Path(kind);
  std::unique_ptr<RecordManager> engine = MakeSqliteRecordManager();
  Client client(*engine);
  if (OpenFile(client, path) != kStatusOk) state.SkipWithError("open");
  std::string data(kRecordLength, '\0');
  std::string start = KeyValue(0);
  std::string key = start;
  bool placed = false;
  for (auto _ : state) {
    int16_t status;
    if (!placed) {
      key = start;
      status = client.Call(kOpGetGreaterOrEqual, &data, &key);
      placed = true;
    } else {
      status = client.Call(kOpGetNext, &data, &key);
      if (status == kStatusEndOfFile) placed = false;
    }
    if (status != kStatusOk && status != kStatusEndOfFile) {
      state.SkipWithError("step failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// One open SQLite statement stepping through the same rows in key order,
// with the same page cache as the engine's connections.
void BareScan(benchmark::State& state, const std::string& kind) {
  std::string path = Files::Get().Path(kind);
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                  nullptr);
  sqlite3_exec(db, "PRAGMA cache_size = -8192", nullptr, nullptr, nullptr);
  sqlite3_stmt* scan = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT position, data, key0 FROM records ORDER BY key0, "
                     "position",
                     -1, &scan, nullptr);
  if (scan == nullptr) state.SkipWithError("prepare");
  int64_t checksum = 0;
  for (auto _ : state) {
    if (sqlite3_step(scan) != SQLITE_ROW) {
      sqlite3_reset(scan);
      continue;
    }
    checksum += sqlite3_column_bytes(scan, 1);
  }
  benchmark::DoNotOptimize(checksum);
  sqlite3_finalize(scan);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations());
}

// A bare SQLite point read by key image, one short transaction each: what
// every get equal would cost without the engine's cache.
void BarePointRead(benchmark::State& state, const std::string& kind) {
  std::string path = Files::Get().Path(kind);
  uint32_t count = kind == "small" ? kSmallFileRecords : RecordCount();
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                  nullptr);
  sqlite3_exec(db, "PRAGMA cache_size = -8192", nullptr, nullptr, nullptr);
  sqlite3_stmt* read = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT position, data, key0 FROM records WHERE key0 = "
                     "?1 ORDER BY key0, position LIMIT 1",
                     -1, &read, nullptr);
  if (read == nullptr) state.SkipWithError("prepare");
  std::mt19937 random(7);
  std::vector<std::string> images;
  for (int i = 0; i < 4096; ++i) {
    std::string key = KeyValue(random() % count);
    // The image: the text bytes, then the binary number's bytes reversed.
    images.push_back(key.substr(0, 4) +
                     std::string(key.rbegin(), key.rbegin() + 4));
  }
  size_t i = 0;
  for (auto _ : state) {
    const std::string& image = images[i++ % images.size()];
    sqlite3_bind_blob(read, 1, image.data(), 8, SQLITE_STATIC);
    if (sqlite3_step(read) != SQLITE_ROW) {
      state.SkipWithError("not found");
      break;
    }
    sqlite3_reset(read);
  }
  sqlite3_finalize(read);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(BarePointRead, small, std::string("small"));
BENCHMARK_CAPTURE(GetEqual, small, std::string("small"));
BENCHMARK_CAPTURE(BarePointRead, ordered, std::string("ordered"));
BENCHMARK_CAPTURE(GetEqual, ordered, std::string("ordered"));
BENCHMARK_CAPTURE(Steps, ordered, std::string("ordered"));
BENCHMARK_CAPTURE(BareScan, ordered, std::string("ordered"));
BENCHMARK_CAPTURE(GetEqual, shuffled, std::string("shuffled"));
BENCHMARK_CAPTURE(Steps, shuffled, std::string("shuffled"));
BENCHMARK_CAPTURE(BareScan, shuffled, std::string("shuffled"));

}  // namespace
}  // namespace tarnevos::platform

BENCHMARK_MAIN();
