// The batch report over a large generated installation, alone and with the
// settlement written as a workbook (and as CSV files) in the same run.
//
// The installation is the generated one of installation.h (1,000
// communities x 30 units x 5 years), made in a temporary folder removed at
// the end, or the one TARNEVOS_BENCH_ROOT names. Each variant is one
// RunBatch as `tarnevos --batch --cutoff 2026-12-31` runs it (every
// community, one copy), the print program not started. Each runs
// kRepetitions times and the figures are the best run of each; the peak
// memory is the process's maximum resident set after the variant's runs.
//
//   batch_bench [--benchmark_...]    (TARNEVOS_BENCH_ROOT=... optional)

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "installation.h"
#include "platform/system/system.h"
#include "report/batch.h"
#include "report_session.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "util/numbers.h"

namespace tarnevos {
namespace {

namespace fs = std::filesystem;
using bench::PeakResidentMiB;

constexpr int kRepetitions = 3;

using Installation = bench::ReportInstallation;

Installation& TheInstallation() {
  static Installation installation =
      bench::PrepareReportInstallation("batch-bench");
  return installation;
}

struct Variant {
  double wall = 0;  // best of the runs
  double cpu = 0;
  double peak_mib = 0;
  uint64_t output_bytes = 0;
};
enum VariantIndex { kAlone = 0, kWorkbook, kCsv, kVariants };
Variant& Result(int variant) {
  static Variant results[kVariants];
  return results[variant];
}

uint64_t Size(const fs::path& path) {
  std::error_code error;
  if (fs::is_directory(path, error)) {
    uint64_t total = 0;
    for (const auto& entry : fs::directory_iterator(path, error)) {
      total += entry.file_size(error);
    }
    return total;
  }
  return fs::file_size(path, error);
}

void RunVariant(benchmark::State& state, int variant) {
  Installation& installation = TheInstallation();
  if (!installation.ready) {
    state.SkipWithError("no installation");
    return;
  }
  bench::PrepareBenchSession(installation);
  BatchOptions options;
  options.cutoff = "2026-12-31";
  if (variant == kWorkbook) options.xlsx = installation.scratch + "resum.xlsx";
  if (variant == kCsv) options.csv = installation.scratch + "csv";
  Variant& result = Result(variant);
  for (auto _ : state) {
    std::ostringstream err;
    int code = 0;
    bench::KeepBestTimes(result.wall, result.cpu,
                         [&] { code = RunBatch(options, err); });
    if (code != kBatchDone) state.SkipWithError(err.str().c_str());
  }
  result.peak_mib = PeakResidentMiB();
  result.output_bytes = variant == kAlone
                            ? Size(installation.session + "kelprint.tmp")
                        : variant == kCsv ? Size(options.csv)
                                          : Size(options.xlsx);
  state.counters["peak_rss_MiB"] = result.peak_mib;
  state.counters["output_MB"] = static_cast<double>(result.output_bytes) / 1e6;
}

void BM_ReportAlone(benchmark::State& state) { RunVariant(state, kAlone); }
void BM_ReportAndWorkbook(benchmark::State& state) {
  RunVariant(state, kWorkbook);
}
void BM_ReportAndCsv(benchmark::State& state) { RunVariant(state, kCsv); }

BENCHMARK(BM_ReportAlone)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReportAndWorkbook)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReportAndCsv)
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
  const auto& alone = Result(tarnevos::kAlone);
  if (alone.wall > 0) {
    std::printf("best of %d runs each (print file %.1f MB)\n",
                tarnevos::kRepetitions,
                static_cast<double>(alone.output_bytes) / 1e6);
    std::printf("report alone:      wall %.2f s, cpu %.2f s, peak %.0f MiB\n",
                alone.wall, alone.cpu, alone.peak_mib);
    const char* names[] = {"", "report + workbook", "report + CSV"};
    for (int v = tarnevos::kWorkbook; v <= tarnevos::kCsv; ++v) {
      const auto& with = Result(v);
      if (with.wall == 0) continue;
      std::printf(
          "%-18s wall %.2f s, cpu %.2f s, peak %.0f MiB, %.1f MB: adds "
          "%.2f s wall (%.0f %% of the report), %.2f s cpu (%.0f %%)\n",
          names[v], with.wall, with.cpu, with.peak_mib,
          static_cast<double>(with.output_bytes) / 1e6, with.wall - alone.wall,
          100.0 * (with.wall - alone.wall) / alone.wall, with.cpu - alone.cpu,
          100.0 * (with.cpu - alone.cpu) / alone.cpu);
    }
  }
  tarnevos::bench::RemoveScratch(tarnevos::TheInstallation());
  return 0;
}
