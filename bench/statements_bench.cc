// Owners' statements for the large generated installation (1,000
// communities x 30 units, installation.h), against the summary alone.
//
// Each side runs as the program runs it after the form: the summary into
// the print file (the print program is not started), and the summary with
// a statement per unit (30,000 pages in 1,000 community files and one file
// for the run). A third side writes the statements of every community
// without the summary's pages (copies -1), which isolates the statements'
// own cost. The figures are the best of three runs of each side.
//
// Memory: the peak resident set is reset (/proc/self/clear_refs) before
// the statements of the first 100 communities and again before those of
// all 1,000, so the two peaks show whether memory grows with the number of
// communities. The installation's generation is not counted.
//
//   statements_bench [--benchmark_...]    (TARNEVOS_BENCH_ROOT=... optional)

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/access_layer.h"
#include "data/data_files.h"
#include "installation.h"
#include "platform/system/system.h"
#include "report/report_form.h"
#include "report/settlement.h"
#include "report/statements.h"
#include "report_session.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

namespace fs = std::filesystem;

constexpr int kRepetitions = 3;

using Installation = bench::ReportInstallation;

Installation& TheInstallation() {
  static Installation installation =
      bench::PrepareReportInstallation("statements-bench");
  return installation;
}

// Peak resident set since the last reset, in MiB (VmHWM).
double PeakMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0)
      return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  }
  return 0;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Figures {
  double summary_seconds = 0;
  double summary_cpu = 0;
  double with_seconds = 0;
  double with_cpu = 0;
  double only_seconds = 0;
  double only_cpu = 0;
  int statements = 0;
  uint64_t combined_bytes = 0;
  uint64_t community_bytes = 0;
  double peak_100 = 0;
  double peak_1000 = 0;
};
Figures& Results() {
  static Figures figures;
  return figures;
}

bool Ready(benchmark::State& state) {
  Installation& installation = TheInstallation();
  if (!installation.ready) {
    state.SkipWithError("no installation");
    return false;
  }
  bench::PrepareBenchSession(installation);
  bench::PrepareReportParameters(1);
  ResetWorkTables();
  OpenAllDataFiles();
  return true;
}

void Done() {
  int16_t status = 0;
  CloseAllDataFiles(status);
}

std::string Folder() { return TheInstallation().scratch + "EXTRACTES/"; }

void BM_Summary(benchmark::State& state) {
  if (!Ready(state)) return;
  for (auto _ : state) {
    bench::KeepBestTimes(Results().summary_seconds, Results().summary_cpu,
                         [] { ProduceReport(); });
  }
  Done();
}

void BM_SummaryWithStatements(benchmark::State& state) {
  if (!Ready(state)) return;
  for (auto _ : state) {
    StatementsOutcome outcome;
    bench::KeepBestTimes(Results().with_seconds, Results().with_cpu, [&] {
      outcome = ProduceReportWithStatements(Folder());
    });
    if (!outcome.ok) state.SkipWithError("statements failed");
    Results().statements = outcome.statements;
    std::error_code error;
    Results().combined_bytes = fs::file_size(outcome.combined_file, error);
  }
  uint64_t bytes = 0;
  for (const auto& entry : fs::directory_iterator(Folder())) {
    if (entry.path().filename().string().rfind("EXTRACTES", 0) != 0)
      bytes += entry.file_size();
  }
  Results().community_bytes = bytes;
  state.counters["statements"] = Results().statements;
  Done();
}

void BM_StatementsOnly(benchmark::State& state) {
  if (!Ready(state)) return;
  Parameters().copies = -1;  // the settlements without the summary's pages
  for (auto _ : state) {
    bench::KeepBestTimes(Results().only_seconds, Results().only_cpu,
                         [] { ProduceReportWithStatements(Folder()); });
  }
  Done();
}

// Peak memory of the statements of 100 communities, then of 1,000.
void BM_StatementsMemory(benchmark::State& state) {
  if (!Ready(state)) return;
  for (auto _ : state) {
    Parameters().range_to = PackDottedCode("100.9999");
    ResetPeak();
    ProduceReportWithStatements(Folder());
    Results().peak_100 = PeakMiB();
    Parameters().range_to = PackDottedCode("9999.9999");
    ResetPeak();
    ProduceReportWithStatements(Folder());
    Results().peak_1000 = PeakMiB();
  }
  state.counters["peak_100_MiB"] = Results().peak_100;
  state.counters["peak_1000_MiB"] = Results().peak_1000;
  Done();
}

BENCHMARK(BM_Summary)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SummaryWithStatements)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatementsOnly)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatementsMemory)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnevos

int main(int argc, char** argv) {
  using tarnevos::Results;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const tarnevos::Figures& f = Results();
  if (f.summary_seconds > 0 && f.with_seconds > 0) {
    std::printf(
        "best of %d runs each (wall / cpu)\n"
        "summary alone:              %.2f s / %.2f s\n"
        "summary with statements:    %.2f s / %.2f s  (%d statements)\n"
        "statements without summary: %.2f s / %.2f s\n"
        "statements' own time: %.2f s wall, %.0f statements/s\n"
        "files: run's file %.1f MB, community files %.1f MB in all\n"
        "peak memory: 100 communities %.1f MiB, 1,000 communities %.1f MiB\n",
        tarnevos::kRepetitions, f.summary_seconds, f.summary_cpu,
        f.with_seconds, f.with_cpu, f.statements, f.only_seconds, f.only_cpu,
        f.with_seconds - f.summary_seconds,
        f.statements / (f.with_seconds - f.summary_seconds),
        static_cast<double>(f.combined_bytes) / 1e6,
        static_cast<double>(f.community_bytes) / 1e6, f.peak_100, f.peak_1000);
  }
  tarnevos::bench::RemoveScratch(tarnevos::TheInstallation());
  return 0;
}
