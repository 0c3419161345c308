// Importing an installation from its CSV files against loading it from its
// JSON dataset, on the generated installation of installation.h (1,000
// communities x 30 units x 5 years, 1.96 million records) or the one
// TARNEVOS_BENCH_ROOT names.
//
// Before the runs the installation is exported (keldades export) and
// dumped (keldades dump) once into a temporary folder; each run then reads
// the files whole, checks every record and writes the six data files into
// a root of its own, as `keldades import` and `keldades load` do. The check
// that both print as warnings afterwards is measured on its own. Each runs
// kRepetitions times; the figures are the best run of each. Peak memory is
// the process's maximum resident set after each one's runs (the import
// runs first, so its figure is its own).
//
//   import_bench [--benchmark_...]    (TARNEVOS_BENCH_ROOT=... optional)

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "installation.h"
#include "keldades/check.h"
#include "keldades/cli.h"
#include "keldades/csv_dataset.h"
#include "keldades/dataset.h"
#include "keldades/store.h"
#include "util/dates.h"

namespace tarnevos {
namespace {

namespace fs = std::filesystem;
using namespace keldades;

using bench::KeepBest;
using bench::PeakResidentMiB;

constexpr int kRepetitions = 3;

struct Prepared : bench::Installation {
  std::string csv;   // exported folder
  std::string json;  // dumped dataset
  double export_seconds = 0;
  double dump_seconds = 0;
  bool ready = false;
};

Prepared Prepare() {
  Prepared prepared;
  static_cast<bench::Installation&>(prepared) =
      bench::ChooseInstallation("import-bench");
  std::string error;
  if (!bench::GenerateUnlessGiven(prepared)) return prepared;
  prepared.csv = prepared.scratch + "csv/";
  prepared.json = prepared.scratch + "data.json";
  auto start = std::chrono::steady_clock::now();
  if (!ExportCsv(prepared.root, prepared.csv, CsvStyle{}, error)) {
    std::fprintf(stderr, "cannot export: %s\n", error.c_str());
    return prepared;
  }
  prepared.export_seconds = bench::SecondsSince(start);
  start = std::chrono::steady_clock::now();
  {
    std::ofstream out(prepared.json, std::ios::binary);
    if (!DumpInstallation(prepared.root, "", out, error)) {
      std::fprintf(stderr, "cannot dump: %s\n", error.c_str());
      return prepared;
    }
  }
  prepared.dump_seconds = bench::SecondsSince(start);
  prepared.ready = true;
  return prepared;
}

Prepared& ThePrepared() {
  static Prepared prepared = Prepare();
  return prepared;
}

struct Figures {
  double wall = 0;
  double cpu = 0;
  double peak_mib = 0;
  uint64_t records = 0;
};
enum Measure { kImport = 0, kLoad, kCheck, kMeasures };
Figures& Result(int measure) {
  static Figures figures[kMeasures];
  return figures[measure];
}

uint64_t Total(const WriteCounts& counts) {
  uint64_t total = 0;
  for (uint64_t count : counts.records) total += count;
  return total;
}

// One run of a measure; false with `error`.
bool RunOnce(int measure, const Prepared& prepared, uint64_t& records,
             std::string& error) {
  WriteCounts counts;
  switch (measure) {
    case kImport:
      if (!ImportCsv(prepared.scratch + "IMPORTED/", prepared.csv, counts,
                     error)) {
        return false;
      }
      break;
    case kLoad: {
      std::ifstream in(prepared.json, std::ios::binary);
      const std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
      RecordSet set;
      if (!ParseDataset(text, set, error) ||
          !WriteRecordSet(prepared.scratch + "LOADED/", set, counts, error)) {
        return false;
      }
      break;
    }
    default: {
      CheckReport report;
      if (!CheckInstallation(prepared.root, PackDigits("20261231"), report,
                             error)) {
        return false;
      }
      counts.records[0] = report.Count();
    }
  }
  records = Total(counts);
  return true;
}

void Run(benchmark::State& state, int measure) {
  Prepared& prepared = ThePrepared();
  if (!prepared.ready) {
    state.SkipWithError("no installation");
    return;
  }
  Figures& figures = Result(measure);
  for (auto _ : state) {
    std::string error;
    double wall = 0;
    double cpu = 0;
    bool done = false;
    bench::KeepBestTimes(wall, cpu, [&] {
      done = RunOnce(measure, prepared, figures.records, error);
    });
    if (!done) {
      state.SkipWithError(error.c_str());
      return;
    }
    KeepBest(figures.wall, wall);
    KeepBest(figures.cpu, cpu);
  }
  figures.peak_mib = PeakResidentMiB();
  state.counters["peak_rss_MiB"] = figures.peak_mib;
}

void BM_ImportCsv(benchmark::State& state) { Run(state, kImport); }
void BM_LoadJson(benchmark::State& state) { Run(state, kLoad); }
void BM_CheckAfterwards(benchmark::State& state) { Run(state, kCheck); }

BENCHMARK(BM_ImportCsv)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadJson)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckAfterwards)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnevos

int main(int argc, char** argv) {
  using tarnevos::Result;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const tarnevos::Prepared& prepared = tarnevos::ThePrepared();
  if (prepared.ready) {
    std::printf("export to CSV %.2f s, dump to JSON %.2f s (once)\n",
                prepared.export_seconds, prepared.dump_seconds);
    const char* names[] = {"import of the CSV", "load of the JSON",
                           "check afterwards"};
    for (int m = 0; m < tarnevos::kMeasures; ++m) {
      const auto& figures = Result(m);
      if (figures.wall == 0) continue;
      if (m == tarnevos::kCheck) {
        std::printf("%-18s wall %.2f s, cpu %.2f s, peak %.0f MiB\n", names[m],
                    figures.wall, figures.cpu, figures.peak_mib);
        continue;
      }
      std::printf(
          "%-18s wall %.2f s, cpu %.2f s, peak %.0f MiB: %.0f records/s "
          "(wall), %.0f records/s (cpu)\n",
          names[m], figures.wall, figures.cpu, figures.peak_mib,
          static_cast<double>(figures.records) / figures.wall,
          static_cast<double>(figures.records) / figures.cpu);
    }
  }
  tarnevos::bench::RemoveScratch(tarnevos::ThePrepared());
  return 0;
}
