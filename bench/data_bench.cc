// The data files through the access layer, on the large generated
// installation of installation.h:
//   - generating and loading it with the data tool's code;
//   - get-equal reads of THRebut by its one-byte key;
//   - get-greater-or-equal, then get-next steps along CobramH, as the
//     report walks a unit's collections;
//   - one bare SQLite statement scanning the same CobramH rows in key
//     order: the floor under any stepping through the record manager.
//
//   data_bench [--benchmark_...]
//
// With TARNEVOS_BENCH_ROOT=DIR the generation is not measured.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "data/access_layer.h"
#include "data/data_files.h"
#include "installation.h"
#include "settings/session.h"

namespace tarnevos {
namespace {

using bench::Installation;

Installation& TheInstallation() {
  static Installation installation = bench::ChooseInstallation("data-bench");
  return installation;
}

struct Figures {
  double generate_seconds = 0;
  uint64_t generated_records = 0;
  double get_equal_per_second = 0;
  double steps_per_second = 0;
  double bare_rows_per_second = 0;
};
Figures& Results() {
  static Figures figures;
  return figures;
}

void BM_GenerateAndLoad(benchmark::State& state) {
  Installation& installation = TheInstallation();
  for (auto _ : state) {
    if (installation.given) {
      state.SkipWithError("TARNEVOS_BENCH_ROOT given: nothing generated");
      break;
    }
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    Results().generated_records =
        bench::GenerateInstallation(installation, error);
    if (Results().generated_records == 0) {
      state.SkipWithError(error.c_str());
      break;
    }
    Results().generate_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count();
    state.counters["records"] =
        static_cast<double>(Results().generated_records);
    state.counters["records_per_s"] =
        static_cast<double>(Results().generated_records) /
        Results().generate_seconds;
  }
}

// Opens the six files through the layer as the program does.
bool OpenInstallation(benchmark::State& state) {
  if (!TheInstallation().HasData()) {
    state.SkipWithError("no installation");
    return false;
  }
  TEST_ResetAccessLayer();
  TEST_MutableSession().root_dir = TheInstallation().root;
  OpenAllDataFiles();
  return true;
}

void CloseInstallation() {
  int16_t status = 0;
  CloseAllDataFiles(status);
}

void BM_ThRebutGetEqual(benchmark::State& state) {
  if (!OpenInstallation(state)) return;
  // The keys the report asks for: the eight fixed types and numbered ones.
  const std::vector<std::string> keys = {"\x01", "\x02", "\x03", "\x04", "\x05",
                                         "\x06", "\x07", "\x08", "\x8C", "\x99",
                                         "\xA5", "\xA8", "\x8D"};
  size_t next = 0;
  int64_t found = 0;
  for (auto _ : state) {
    int16_t status = 0;
    ReadByKey(kThRebutHandle, 0, keys[next], 0, status);
    found += status == 0;
    if (++next == keys.size()) next = 0;
  }
  benchmark::DoNotOptimize(found);
  CloseInstallation();
  state.SetItemsProcessed(state.iterations());
}

void BM_CobramStepping(benchmark::State& state) {
  if (!OpenInstallation(state)) return;
  bool placed = false;
  int64_t collected = 0;
  for (auto _ : state) {
    int16_t status = 0;
    if (!placed) {
      ReadByKey(kCobramHandle, 0, "", 1, status);
      placed = true;
    } else {
      StepRecords(kCobramHandle, 1, status);
      if (status != 0) placed = false;
    }
    if (status != 0 && status != 9) {
      state.SkipWithError("read failed");
      break;
    }
    collected += GetInt32(Areas().cobram.data(), field::kCollectionFirst);
  }
  benchmark::DoNotOptimize(collected);
  CloseInstallation();
  state.SetItemsProcessed(state.iterations());
}

// One open statement over the same rows in key order.
void BM_BareSqliteScan(benchmark::State& state) {
  if (!TheInstallation().HasData()) {
    state.SkipWithError("no installation");
    return;
  }
  const std::string path = TheInstallation().root + "DADES/CobramH.dat";
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* scan = nullptr;
  sqlite3_prepare_v2(db, "SELECT data FROM records ORDER BY key0, position", -1,
                     &scan, nullptr);
  if (scan == nullptr) {
    state.SkipWithError("the bare statement cannot be prepared");
    sqlite3_close(db);
    return;
  }
  int64_t collected = 0;
  for (auto _ : state) {
    if (sqlite3_step(scan) != SQLITE_ROW) {
      sqlite3_reset(scan);
      continue;
    }
    const auto* data =
        static_cast<const uint8_t*>(sqlite3_column_blob(scan, 0));
    if (data != nullptr && sqlite3_column_bytes(scan, 0) >= 17) {
      collected += GetInt32(data, field::kCollectionFirst);
    }
  }
  benchmark::DoNotOptimize(collected);
  sqlite3_finalize(scan);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_GenerateAndLoad)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThRebutGetEqual)->MinTime(2.0);
BENCHMARK(BM_CobramStepping)->MinTime(2.0);
BENCHMARK(BM_BareSqliteScan)->MinTime(2.0);

// Collects items per second of each run, to compare them at the end.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto items = run.counters.find("items_per_second");
      if (items == run.counters.end()) continue;
      const std::string name = run.benchmark_name();
      if (name.find("ThRebutGetEqual") != std::string::npos) {
        Results().get_equal_per_second = items->second;
      } else if (name.find("CobramStepping") != std::string::npos) {
        Results().steps_per_second = items->second;
      } else if (name.find("BareSqliteScan") != std::string::npos) {
        Results().bare_rows_per_second = items->second;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace
}  // namespace tarnevos

int main(int argc, char** argv) {
  using tarnevos::Results;
  benchmark::Initialize(&argc, argv);
  tarnevos::Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();
  const tarnevos::Figures& figures = Results();
  if (figures.generate_seconds > 0) {
    std::printf("generate and load: %.1f s for %llu records (%.0f records/s)\n",
                figures.generate_seconds,
                static_cast<unsigned long long>(figures.generated_records),
                static_cast<double>(figures.generated_records) /
                    figures.generate_seconds);
  }
  if (figures.get_equal_per_second > 0) {
    std::printf("THRebut get equal: %.0f reads/s (target 300000: %s)\n",
                figures.get_equal_per_second,
                figures.get_equal_per_second >= 300000 ? "met" : "missed");
  }
  if (figures.steps_per_second > 0 && figures.bare_rows_per_second > 0) {
    double share = figures.steps_per_second / figures.bare_rows_per_second;
    std::printf(
        "CobramH steps: %.0f/s; bare SQLite scan %.0f rows/s; ratio %.2f "
        "(target 0.25: %s)\n",
        figures.steps_per_second, figures.bare_rows_per_second, share,
        share >= 0.25 ? "met" : "missed");
  }
  tarnevos::bench::RemoveScratch(tarnevos::TheInstallation());
  return 0;
}
