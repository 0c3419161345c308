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
#include "report_session.h"
#include "settings/run_values.h"
#include "settings/session.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/text.h"

namespace tarnevos {
namespace {

namespace fs = std::filesystem;
using bench::PeakResidentMiB;

constexpr int kRepetitions = 3;

using Installation = bench::ReportInstallation;

Installation& TheInstallation() {
  static Installation installation =
      bench::PrepareReportInstallation("report-bench");
  return installation;
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

void BM_WholeReport(benchmark::State& state) {
  Installation& installation = TheInstallation();
  if (!installation.ready) {
    state.SkipWithError("no installation");
    return;
  }
  bench::PrepareBenchSession(installation);
  const char* copies = std::getenv("TARNEVOS_BENCH_COPIES");
  bench::PrepareReportParameters(
      static_cast<int16_t>(copies != nullptr ? std::atoi(copies) : 1));
  ResetWorkTables();
  OpenAllDataFiles();
  for (auto _ : state) {
    bench::KeepBestTimes(Results().report_seconds, Results().report_cpu,
                         [] { ProduceReport(); });
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
    uint64_t records = 0;
    bench::KeepBestTimes(Results().bare_seconds, Results().bare_cpu, [&] {
      for (const char* name : {"THRebut", "FinquesH", "FinDespH", "PropietH",
                               "PagamH", "CobramH"}) {
        records += ReadAllRecords(installation.root + "DADES/" + name + ".dat",
                                  checksum);
      }
    });
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
