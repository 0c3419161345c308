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
#include "settings/run_values.h"
#include "settings/session.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

namespace fs = std::filesystem;

constexpr int kRepetitions = 3;

struct Installation : bench::Installation {
  std::string session;  // ends with "/"
  bool ready = false;
};

Installation Prepare() {
  Installation installation;
  static_cast<bench::Installation&>(installation) =
      bench::ChooseInstallation("statements-bench");
  installation.session = installation.scratch + "SESSIO/";
  fs::create_directories(installation.session);
  if (!installation.given) {
    std::fprintf(stderr,
                 "generating %d communities x %d units x %d years in %s\n",
                 bench::kCommunities, bench::kUnits, bench::kYears,
                 installation.root.c_str());
    std::string error;
    if (bench::GenerateInstallation(installation, error) == 0)
      std::fprintf(stderr, "cannot generate: %s\n", error.c_str());
  }
  installation.ready = installation.HasData();
  return installation;
}

Installation& TheInstallation() {
  static Installation installation = Prepare();
  return installation;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) /
             1e6;
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

void KeepBest(double& best, double value) {
  if (best == 0 || value < best) best = value;
}

void PrepareSession(const Installation& installation) {
  SessionSettings& session = TEST_MutableSession();
  session.root_dir = installation.root;
  session.tmp_dir = installation.session;
  session.exe_dir = installation.session;
  session.language = "CAT";
  session.output_target = "TXT:report.txt";
  SelectCurrency("a,E");
  RunValues& run = MutableRun();
  run.program_id = "TARNEVOS";
  run.letterhead_mode = "S";
  run.fee_vat_rate = {0, 21};
  run.fee_withholding_rate = {0, 15};
  run.administrator_lines = {
      "", "FINQUES BENCH", "C. MAJOR 1", "08001 BARCELONA", "", "",
      "", "ES12345678Z"};
  ReportParameters& parameters = Parameters();
  parameters.cutoff_date = PackDigits("20261231");
  parameters.range_from = PackDottedCode("1.0");
  parameters.range_to = PackDottedCode("9999.9999");
  parameters.copies = 1;
  platform::TEST_SetProgramRunner(
      [](std::string_view, const std::vector<std::string>&) {
        return platform::ProgramResult{true, 0, ""};
      });
}

bool Ready(benchmark::State& state) {
  Installation& installation = TheInstallation();
  if (!installation.ready) {
    state.SkipWithError("no installation");
    return false;
  }
  PrepareSession(installation);
  ResetWorkTables();
  OpenAllDataFiles();
  return true;
}

void Done() {
  int16_t status = 0;
  CloseAllDataFiles(status);
}

std::string Folder() { return TheInstallation().scratch + "EXTRACTES/"; }

// Runs `body` and keeps the best wall and CPU times.
template <typename Body>
void Timed(double& seconds, double& cpu_seconds, Body body) {
  const auto start = std::chrono::steady_clock::now();
  const double cpu = CpuSeconds();
  body();
  KeepBest(cpu_seconds, CpuSeconds() - cpu);
  KeepBest(seconds, std::chrono::duration<double>(
                        std::chrono::steady_clock::now() - start)
                        .count());
}

void BM_Summary(benchmark::State& state) {
  if (!Ready(state)) return;
  for (auto _ : state) {
    Timed(Results().summary_seconds, Results().summary_cpu,
          [] { ProduceReport(); });
  }
  Done();
}

void BM_SummaryWithStatements(benchmark::State& state) {
  if (!Ready(state)) return;
  for (auto _ : state) {
    StatementsOutcome outcome;
    Timed(Results().with_seconds, Results().with_cpu,
          [&] { outcome = ProduceReportWithStatements(Folder()); });
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
    Timed(Results().only_seconds, Results().only_cpu,
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
