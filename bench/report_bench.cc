// The settlement report over a large generated installation, against one
// bare SQLite pass that reads every record the report needs once.
//
// The installation is the generated one of installation.h, made in a
// temporary folder removed at the end, or the one TARNEVOS_BENCH_ROOT names
// (a root folder with DADES/*.dat, e.g. made by `keldades generate ROOT
// --communities 1000 --units 30 --years 5`). The report runs as the program
// runs it after the form: print file in the session directory, every community,
// copies 1; the print program is not started. Peak memory is the process's
// maximum resident set (getrusage), read right after the report, before the
// bare pass. TARNEVOS_BENCH_COPIES sets the copies (default 1; -1 computes
// every community without listing any, which separates the computation from the
// pages). Each side runs kRepetitions times and the figures are the best
// run of each, so that a neighbour's burst on a shared machine does not
// decide the ratio.
//
//   report_bench [--benchmark_...]    (TARNEVOS_BENCH_ROOT=... optional)

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "console/form_table.h"
#include "data/access_layer.h"
#include "data/data_files.h"
#include "installation.h"
#include "platform/system/system.h"
#include "print/print_file.h"
#include "report/report_form.h"
#include "report/settlement.h"
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
      bench::ChooseInstallation("report-bench");
  installation.session = installation.scratch + "SESSIO/";
  fs::create_directories(installation.session);
  if (!installation.given) {
    std::fprintf(stderr,
                 "generating %d communities x %d units x %d years in %s\n",
                 bench::kCommunities, bench::kUnits, bench::kYears,
                 installation.root.c_str());
    std::string error;
    if (bench::GenerateInstallation(installation, error) == 0) {
      std::fprintf(stderr, "cannot generate the installation: %s\n",
                   error.c_str());
    }
  }
  installation.ready = installation.HasData();
  if (!installation.ready) {
    std::fprintf(stderr, "no data files in %sDADES\n",
                 installation.root.c_str());
  }
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

double PeakResidentMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

struct Figures {
  // Best of the repetitions (0 until one has run).
  double report_seconds = 0;
  double bare_seconds = 0;
  double report_cpu = 0;
  double bare_cpu = 0;
  double report_peak_mib = 0;
  uint64_t print_bytes = 0;
  uint64_t bare_records = 0;
};
Figures& Results() {
  static Figures figures;
  return figures;
}

void KeepBest(double& best, double value) {
  if (best == 0 || value < best) best = value;
}

// The session as the driver leaves it before the report loop.
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
  const char* copies = std::getenv("TARNEVOS_BENCH_COPIES");
  parameters.copies =
      static_cast<int16_t>(copies != nullptr ? std::atoi(copies) : 1);
  platform::TEST_SetProgramRunner(
      [](std::string_view, const std::vector<std::string>&) {
        return platform::ProgramResult{true, 0, ""};
      });
}

void BM_WholeReport(benchmark::State& state) {
  Installation& installation = TheInstallation();
  if (!installation.ready) {
    state.SkipWithError("no installation");
    return;
  }
  PrepareSession(installation);
  ResetWorkTables();
  OpenAllDataFiles();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds();
    ProduceReport();
    KeepBest(Results().report_cpu, CpuSeconds() - cpu);
    KeepBest(
        Results().report_seconds,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count());
  }
  int16_t status = 0;
  CloseAllDataFiles(status);
  Results().report_peak_mib = PeakResidentMiB();
  std::error_code error;
  Results().print_bytes =
      fs::file_size(installation.session + "kelprint.tmp", error);
  state.counters["peak_rss_MiB"] = Results().report_peak_mib;
  state.counters["print_MB"] = static_cast<double>(Results().print_bytes) / 1e6;
}

// Every record of the six files once, in key order, straight from SQLite:
// the floor under any report that reads them through the record manager.
uint64_t ReadAllRecords(const std::string& path, uint64_t& checksum) {
  sqlite3* db = nullptr;
  uint64_t count = 0;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT data FROM records ORDER BY key0, position",
                           -1, &statement, nullptr) == SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        const auto* bytes = static_cast<const unsigned char*>(
            sqlite3_column_blob(statement, 0));
        const int length = sqlite3_column_bytes(statement, 0);
        if (bytes != nullptr && length > 0) checksum += bytes[length - 1];
        ++count;
      }
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return count;
}

void BM_BareSqlitePass(benchmark::State& state) {
  Installation& installation = TheInstallation();
  if (!installation.ready) {
    state.SkipWithError("no installation");
    return;
  }
  uint64_t checksum = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds();
    uint64_t records = 0;
    for (const char* name :
         {"THRebut", "FinquesH", "FinDespH", "PropietH", "PagamH", "CobramH"}) {
      records += ReadAllRecords(installation.root + "DADES/" + name + ".dat",
                                checksum);
    }
    KeepBest(Results().bare_cpu, CpuSeconds() - cpu);
    KeepBest(
        Results().bare_seconds,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count());
    Results().bare_records = records;
  }
  benchmark::DoNotOptimize(checksum);
  state.counters["records"] = static_cast<double>(Results().bare_records);
}

BENCHMARK(BM_WholeReport)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareSqlitePass)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnevos

int main(int argc, char** argv) {
  using tarnevos::Results;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const tarnevos::Figures& figures = Results();
  if (figures.report_seconds > 0 && figures.bare_seconds > 0) {
    std::printf(
        "best of %d runs each\n"
        "wall: report %.2f s, bare SQLite pass %.2f s (%llu records): %.2fx\n"
        "cpu:  report %.2f s, bare SQLite pass %.2f s: %.2fx\n"
        "report peak memory %.1f MiB; print file %.1f MB\n",
        tarnevos::kRepetitions, figures.report_seconds, figures.bare_seconds,
        static_cast<unsigned long long>(figures.bare_records),
        figures.report_seconds / figures.bare_seconds, figures.report_cpu,
        figures.bare_cpu,
        figures.bare_cpu > 0 ? figures.report_cpu / figures.bare_cpu : 0.0,
        figures.report_peak_mib,
        static_cast<double>(figures.print_bytes) / 1e6);
  }
  tarnevos::bench::RemoveScratch(tarnevos::TheInstallation());
  return 0;
}
