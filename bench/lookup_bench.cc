// The F4 lookup list over a PropietH of 1,000,000 records (1,000
// communities of 1,000 units), the units of one community listed as the
// program lists them (lookup 2, 16 rows): how long the list takes to open
// and show its first page, and how long each PgDn and PgUp takes.
//
// The list is driven with scripted keys on a memory console that notes the
// time at which each key is taken: the first page is the time from the call
// to the first key; a PgDn is the time between two keys (the redraw and the
// records fetched for the new page).
//
// The data file is built with the record manager's batch inserts in a
// temporary directory removed at the end; with TARNEVOS_BENCH_DIR set it is
// built there once and kept for the next runs. With TARNEVOS_BENCH_SERVER
// set to a libpq connection string the file is a table on that PostgreSQL
// server instead (schema "bench_lookup"), as an installation whose Orvo.ini
// names the server has it.
//
//   lookup_bench [--benchmark_...]    (TARNEVOS_BENCH_DIR=...,
//                                      TARNEVOS_BENCH_SERVER=... optional)

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "console/form_table.h"
#include "console/keyboard.h"
#include "console/windows.h"
#include "data/access_layer.h"
#include "data/data_files.h"
#include "data/data_server.h"
#include "data/lookup_list.h"
#include "platform/console/memory_console.h"
#include "platform/recordmanager/record_manager.h"
#include "report/report_form.h"
#include "settings/session.h"
#include "util/dates.h"

namespace tarnevos {
namespace {

namespace fs = std::filesystem;
namespace rm = platform;
using Clock = std::chrono::steady_clock;

constexpr int kCommunities = 1000;
constexpr int kUnitsPerCommunity = 1000;
constexpr int kBatch = 20000;
constexpr int kRows = 16;  // the demo form's frame: rows 4..21
constexpr int kPages = kUnitsPerCommunity / kRows;

// A memory console that notes when each scripted key is taken.
class TimingConsole : public rm::MemoryConsole {
 public:
  rm::InputEvent PollEvent() override {
    if (PendingEvents() > 0) taken.push_back(Clock::now());
    return MemoryConsole::PollEvent();
  }
  std::vector<Clock::time_point> taken;
};

std::string Digits(int value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*d", width, value);
  return text;
}

std::string UnitRecord(int community, int unit) {
  std::string record(kPropietLength, ' ');
  auto* bytes = reinterpret_cast<uint8_t*>(record.data());
  PutBytes(bytes, field::kUnitCode,
           PackDigits(Digits(community, 4) + Digits(unit, 4)));
  PutText(bytes, field::kOwnerName, 30,
          "PROPIETARI " + Digits(community * 1000 + unit, 7));
  PutText(bytes, field::kDesignation, 10, Digits(unit % 20, 2) + "-A");
  return record;
}

struct Installation {
  std::string root;  // ends with "/"
  bool remove = false;
  std::string error;
  double build_seconds = 0;
};

bool FillPropiet(const std::string& path, std::string& error) {
  std::array<uint8_t, rm::kPositionBlockSize> block{};
  std::array<uint8_t, 255> key{};
  std::memcpy(key.data(), path.c_str(), path.size() + 1);
  std::array<uint8_t, 64> data{};
  const std::string owner = DataOwnerName();
  std::memcpy(data.data(), owner.c_str(), owner.size() + 1);
  uint32_t length = static_cast<uint32_t>(owner.size() + 1);
  int16_t status = rm::RecordManagerCall(rm::kOpOpen, block.data(), data.data(),
                                         &length, key.data(), 255, 0);
  if (status != 0) {
    error = "open " + path + ": status " + std::to_string(status);
    return false;
  }
  std::string batch;
  batch.reserve(static_cast<size_t>(kBatch) * kPropietLength);
  auto flush = [&]() {
    if (batch.empty()) return true;
    const uint32_t count = static_cast<uint32_t>(batch.size() / kPropietLength);
    status = rm::CurrentRecordManager().InsertMany(
        block.data(), reinterpret_cast<const uint8_t*>(batch.data()),
        kPropietLength, count, 0, nullptr);
    batch.clear();
    return status == 0;
  };
  for (int community = 1; community <= kCommunities; ++community) {
    for (int unit = 0; unit < kUnitsPerCommunity; ++unit) {
      batch += UnitRecord(community, unit);
      if (batch.size() >= static_cast<size_t>(kBatch) * kPropietLength &&
          !flush()) {
        error = "insert: status " + std::to_string(status);
        return false;
      }
    }
  }
  if (!flush()) {
    error = "insert: status " + std::to_string(status);
    return false;
  }
  rm::RecordManagerCall(rm::kOpClose, block.data(), data.data(), &length,
                        key.data(), 0, 0);
  return true;
}

Installation Prepare() {
  Installation installation;
  const char* given = std::getenv("TARNEVOS_BENCH_DIR");
  if (given != nullptr && *given != '\0') {
    installation.root = given;
    if (installation.root.back() != '/') installation.root += '/';
  } else {
    installation.root =
        (fs::temp_directory_path() /
         ("tarnevos-lookup-bench-" + std::to_string(::getpid())))
            .string() +
        "/";
    installation.remove = true;
  }
  fs::create_directories(installation.root + "DADES");
  fs::create_directories(installation.root + "ddf");
  fs::create_directories(installation.root + "TMP");
  const FileLayout* layout = FindFileLayout("PropietH");
  std::ofstream(installation.root + "ddf/PropietH.xdf", std::ios::binary)
      << DictionaryBytes(*layout);
  const char* server = std::getenv("TARNEVOS_BENCH_SERVER");
  if (server != nullptr && *server != '\0') {
    std::ofstream(installation.root + "Orvo.ini", std::ios::binary)
        << "[Dades]\r\nServidor=" << server << "\r\nEsquema=bench_lookup\r\n";
  }
  UseInstallationRecordManager(installation.root);

  SessionSettings& session = TEST_MutableSession();
  session.root_dir = installation.root;
  session.tmp_dir = installation.root + "TMP/";
  session.language = "CAT";
  session.screen_colours = {{{15, 0}, {7, 0}, {0, 7}, {1, 7}, {14, 1}}};

  const std::string complete = installation.root + "DADES/PropietH.complete";
  if (!fs::exists(complete)) {
    rm::CurrentRecordManager().RemoveFile(installation.root +
                                          "DADES/PropietH.dat");
    const auto start = Clock::now();
    OpenPropiet();  // creates the file from its dictionary
    int16_t status = 0;
    CloseAllDataFiles(status);
    if (!FillPropiet(installation.root + "DADES/PropietH.dat",
                     installation.error)) {
      return installation;
    }
    installation.build_seconds =
        std::chrono::duration<double>(Clock::now() - start).count();
    std::ofstream(complete) << kCommunities * kUnitsPerCommunity << "\n";
  }
  OpenPropiet();

  // The program's lookup layouts (lookup 2 lists a community's units), then
  // form 1's first community and the demo form's lookup 2.
  InstallReportHooks();
  FormTables& tables = Forms();
  tables.form_count = 1;
  tables.forms.resize(2);
  tables.forms[1].field_count = 2;
  tables.forms[1].fields.resize(3);
  tables.forms[1].fields[2].length = 3;
  tables.lookup_count = 2;
  tables.lookup_attr.resize(3);
  tables.lookup_text.resize(3);
  tables.lookup_attr[2] = {kPropietHandle, 0, 4, 8, 21, 72, 0, 0};
  tables.lookup_text[2] = "COD  PROPIETARI                      DEPART.";
  return installation;
}

std::unique_ptr<Installation>& Prepared() {
  static std::unique_ptr<Installation> installation;
  return installation;
}

Installation& Shared() {
  if (!Prepared()) Prepared() = std::make_unique<Installation>(Prepare());
  return *Prepared();
}

TimingConsole& Console() {
  static TimingConsole console;
  return console;
}

// Runs lookup 2 over `community` with the keys scripted; returns the
// moments at which the keys were taken, the call's start first.
std::vector<Clock::time_point> RunList(int community,
                                       const std::vector<int>& keys) {
  FindField(1, 2)->value = Digits(community, 3);
  TimingConsole& console = Console();
  console.taken.clear();
  for (int code : keys) {
    if (code > 255) {
      console.PushExtended(code);
    } else {
      console.PushKey(code);
    }
  }
  std::vector<Clock::time_point> moments{Clock::now()};
  int16_t result = 0;
  RecordLookup(2, result);
  moments.insert(moments.end(), console.taken.begin(), console.taken.end());
  return moments;
}

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

bool Ready(benchmark::State& state) {
  Installation& installation = Shared();
  if (!installation.error.empty()) {
    state.SkipWithError(installation.error.c_str());
    return false;
  }
  rm::SetConsole(&Console());
  if (installation.build_seconds > 0) {
    state.counters["build_s"] = installation.build_seconds;
  }
  return true;
}

// Opening the list and its first page (16 records read), then Esc.
void BM_FirstPage(benchmark::State& state) {
  if (!Ready(state)) return;
  const int community = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const auto moments = RunList(community, {key::kEsc});
    state.SetIterationTime(Seconds(moments[0], moments[1]));
  }
}
BENCHMARK(BM_FirstPage)
    ->Arg(1)
    ->Arg(500)
    ->Arg(999)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Per-key times in milliseconds: mean, median, 99th percentile, worst.
void ReportKeyTimes(benchmark::State& state, std::vector<double> times) {
  if (times.empty()) return;
  std::sort(times.begin(), times.end());
  double sum = 0;
  for (double t : times) sum += t;
  state.counters["mean_ms"] = sum / static_cast<double>(times.size());
  state.counters["p50_ms"] = times[times.size() / 2];
  state.counters["p99_ms"] = times[times.size() * 99 / 100];
  state.counters["max_ms"] = times.back();
}

// PgDn through the community's 1,000 units: each one reads the next 16
// records and redraws the page. The time is that of all 62 PgDn.
void BM_PageDown(benchmark::State& state) {
  if (!Ready(state)) return;
  const int community = static_cast<int>(state.range(0));
  std::vector<int> keys(kPages, key::kPgDn);
  keys.push_back(key::kEsc);
  std::vector<double> times;
  for (auto _ : state) {
    const auto moments = RunList(community, keys);
    // moments[1] is when the first PgDn was taken; each later moment ends
    // one PgDn.
    for (size_t i = 2; i < moments.size(); ++i) {
      times.push_back(Seconds(moments[i - 1], moments[i]) * 1000);
    }
    state.SetIterationTime(Seconds(moments[1], moments.back()));
  }
  ReportKeyTimes(state, std::move(times));
}
BENCHMARK(BM_PageDown)
    ->Arg(1)
    ->Arg(500)
    ->Arg(999)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// PgUp back from the last page: Browse.tmp only, no record read. The time
// is that of all 62 PgUp.
void BM_PageUpFromEnd(benchmark::State& state) {
  if (!Ready(state)) return;
  std::vector<int> keys(kPages, key::kPgDn);
  keys.insert(keys.end(), kPages, key::kPgUp);
  keys.push_back(key::kEsc);
  std::vector<double> times;
  for (auto _ : state) {
    const auto moments = RunList(500, keys);
    for (size_t i = 2 + kPages; i < moments.size(); ++i) {
      times.push_back(Seconds(moments[i - 1], moments[i]) * 1000);
    }
    state.SetIterationTime(Seconds(moments[1 + kPages], moments.back()));
  }
  ReportKeyTimes(state, std::move(times));
}
BENCHMARK(BM_PageUpFromEnd)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnevos

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  int16_t status = 0;
  tarnevos::CloseAllDataFiles(status);
  tarnevos::platform::SetConsole(nullptr);
  const auto& installation = tarnevos::Prepared();
  if (installation && installation->remove) {
    std::error_code ignored;
    std::filesystem::remove_all(installation->root, ignored);
  }
  return 0;
}
