// The server engine on the large generated installation (1,000 communities
// x 30 units x 5 years, installation.h) loaded into PostgreSQL over a Unix
// socket, each measure against a bare libpq client doing the least the
// same reads can take:
//   - the whole report (copies 1) against one query per table streaming
//     every record of the six files once in key order (single-row mode);
//   - stepping along CobramH through the access layer against the bare
//     stream of CobramH;
//   - get equal on THRebut with the report's repeated keys, and on PropietH
//     with every unit's key once in random order, against a prepared point
//     query per key.
// Every figure is wall-clock time (the server's work counts) and the best
// of kRuns runs. Peak memory is this process's maximum resident set after
// the reports (the installation is generated in a child process).
//
// The server is the one TARNEVOS_BENCH_SERVER names (a libpq connection
// string; schema "bench", reused when it holds the installation already),
// or a cluster of its own that tests/support/pg_cluster.sh starts in a
// temporary folder and stops at the end.
//
//   server_bench

#include <libpq-fe.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "console/form_table.h"
#include "data/access_layer.h"
#include "data/data_files.h"
#include "data/data_server.h"
#include "installation.h"
#include "platform/recordmanager/file_spec.h"
#include "platform/recordmanager/postgres_connection.h"
#include "platform/recordmanager/record_manager.h"
#include "platform/recordmanager/test_files.h"
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

using bench::CpuSeconds;
using bench::KeepBest;
using bench::PeakResidentMiB;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 3;
constexpr const char* kSchema = "bench";
constexpr int kThRebutReads = 1000000;
constexpr int kBareThRebutReads = 20000;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The best (shortest) of kRuns runs of `run`, in seconds.
double Best(const std::function<void()>& run) {
  double best = 0;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = Clock::now();
    run();
    const double took = Since(start);
    if (best == 0 || took < best) best = took;
  }
  return best;
}

// CPU seconds a process of this machine has used (the server process of a
// session); 0 when it cannot be read.
double ProcessCpuSeconds(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)),
                   std::istreambuf_iterator<char>());
  const size_t end_of_name = text.rfind(')');
  if (pid <= 0 || end_of_name == std::string::npos) return 0;
  std::istringstream fields(text.substr(end_of_name + 2));
  std::string field;
  double ticks = 0;
  // After the name: state is field 3; utime and stime are fields 14, 15.
  for (int number = 3; number <= 15 && fields >> field; ++number) {
    if (number >= 14) ticks += std::atof(field.c_str());
  }
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::string StateValue(const std::string& state, const std::string& name) {
  std::ifstream in(state);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(name + "=", 0) == 0) return line.substr(name.size() + 1);
  }
  return {};
}

struct Server {
  std::string conninfo;
  std::string state;  // set when this run started the cluster
};

std::optional<Server> StartServer(const std::string& scratch) {
  Server server;
  const char* given = std::getenv("TARNEVOS_BENCH_SERVER");
  if (given != nullptr && *given != '\0') {
    server.conninfo = given;
    return server;
  }
  server.state = scratch + "pg.state";
  const std::string command = std::string("bash '") + TARNEVOS_SOURCE_DIR +
                              "/tests/support/pg_cluster.sh' start '" +
                              server.state + "' >&2";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  server.conninfo = StateValue(server.state, "conninfo");
  if (server.conninfo.empty()) return std::nullopt;
  return server;
}

// The cluster this run started, for a signal handler to stop it.
char stop_script[4096];
char stop_state[4096];

// Interrupted: the process becomes the script that stops the cluster.
extern "C" void StopOnSignal(int) {
  if (stop_state[0] != '\0') {
    ::execl("/bin/bash", "bash", stop_script, "stop", stop_state,
            static_cast<char*>(nullptr));
  }
  ::_exit(1);
}

// A cluster this run started is stopped also when the run is interrupted;
// output going nowhere (a closed pipe) does not end the run early.
void StopServerOnSignals(const Server& server) {
  std::signal(SIGPIPE, SIG_IGN);
  if (server.state.empty()) return;
  std::snprintf(
      stop_script, sizeof stop_script, "%s",
      (std::string(TARNEVOS_SOURCE_DIR) + "/tests/support/pg_cluster.sh")
          .c_str());
  std::snprintf(stop_state, sizeof stop_state, "%s", server.state.c_str());
  std::signal(SIGINT, StopOnSignal);
  std::signal(SIGTERM, StopOnSignal);
  std::signal(SIGHUP, StopOnSignal);
}

void StopServer(const Server& server) {
  if (server.state.empty()) return;
  const std::string command = std::string("bash '") + TARNEVOS_SOURCE_DIR +
                              "/tests/support/pg_cluster.sh' stop '" +
                              server.state + "'";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "the benchmark's cluster did not stop cleanly\n");
  }
}

// A bare client: one connection, plain statements.
class Bare {
 public:
  explicit Bare(const std::string& conninfo)
      : conn_(PQconnectdb(conninfo.c_str())) {}
  ~Bare() { PQfinish(conn_); }
  Bare(const Bare&) = delete;
  Bare& operator=(const Bare&) = delete;

  bool ok() const { return PQstatus(conn_) == CONNECTION_OK; }

  // The server process of the session named `application`.
  int BackendOf(const std::string& application) {
    PGresult* result = PQexec(
        conn_, ("SELECT pid FROM pg_stat_activity WHERE application_name = '" +
                application + "' LIMIT 1")
                   .c_str());
    int pid = 0;
    if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1) {
      pid = std::atoi(PQgetvalue(result, 0, 0));
    }
    PQclear(result);
    return pid;
  }
  int Backend() { return PQbackendPID(conn_); }

  // The catalog's name of a data file ("dades/cobramh.dat").
  static std::string CatalogName(const std::string& name) {
    std::string folded = "dades/" + name + ".dat";
    for (char& c : folded) c = static_cast<char>(std::tolower(c));
    return folded;
  }

  // The table of a data file, e.g. "bench.records_12".
  std::string Table(const std::string& name) {
    PGresult* result =
        PQexec(conn_, ("SELECT id FROM " + std::string(kSchema) +
                       ".datafiles WHERE name = '" + CatalogName(name) + "'")
                          .c_str());
    std::string table;
    if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1) {
      table = std::string(kSchema) + ".records_" + PQgetvalue(result, 0, 0);
    }
    PQclear(result);
    return table;
  }

  // The creation specification of a data file.
  std::optional<platform::FileSpec> Spec(const std::string& name) {
    PGresult* result =
        PQexecParams(conn_,
                     ("SELECT spec FROM " + std::string(kSchema) +
                      ".datafiles WHERE name = '" + CatalogName(name) + "'")
                         .c_str(),
                     0, nullptr, nullptr, nullptr, nullptr, 1);
    std::optional<platform::FileSpec> spec;
    if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1) {
      spec = platform::ParseFileSpec(std::string_view(
          PQgetvalue(result, 0, 0), PQgetlength(result, 0, 0)));
    }
    PQclear(result);
    return spec;
  }

  // Every record of `table` in key order, streamed row by row.
  uint64_t Stream(const std::string& table, uint64_t& checksum) {
    uint64_t rows = 0;
    const std::string sql =
        "SELECT data FROM " + table + " ORDER BY key0, position";
    if (PQsendQueryParams(conn_, sql.c_str(), 0, nullptr, nullptr, nullptr,
                          nullptr, 1) == 0 ||
        PQsetSingleRowMode(conn_) == 0) {
      return 0;
    }
    while (PGresult* result = PQgetResult(conn_)) {
      if (PQresultStatus(result) == PGRES_SINGLE_TUPLE) {
        const int length = PQgetlength(result, 0, 0);
        if (length > 0) {
          checksum +=
              static_cast<uint8_t>(PQgetvalue(result, 0, 0)[length - 1]);
        }
        ++rows;
      }
      PQclear(result);
    }
    return rows;
  }

  bool Prepare(const std::string& name, const std::string& sql) {
    PGresult* result = PQprepare(conn_, name.c_str(), sql.c_str(), 0, nullptr);
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    return ok;
  }

  // Runs a prepared point query with one binary parameter; rows found.
  int Point(const std::string& name, const std::string& image,
            uint64_t& checksum) {
    const char* values[] = {image.data()};
    const int lengths[] = {static_cast<int>(image.size())};
    const int formats[] = {1};
    PGresult* result =
        PQexecPrepared(conn_, name.c_str(), 1, values, lengths, formats, 1);
    int rows = 0;
    if (PQresultStatus(result) == PGRES_TUPLES_OK) {
      rows = PQntuples(result);
      if (rows > 0 && PQgetlength(result, 0, 0) > 0) {
        checksum += static_cast<uint8_t>(PQgetvalue(result, 0, 0)[0]);
      }
    }
    PQclear(result);
    return rows;
  }

 private:
  PGconn* conn_;
};

// The session as the driver leaves it before the report loop.
void PrepareSession(const std::string& root, const std::string& session_dir) {
  SessionSettings& session = TEST_MutableSession();
  session.root_dir = root;
  session.tmp_dir = session_dir;
  session.exe_dir = session_dir;
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

// Generates the installation into the server in a child process, so that
// generating leaves nothing in this process's memory figures.
bool Generate(const bench::Installation& installation, double& seconds) {
  const auto start = Clock::now();
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    std::string error;
    UseInstallationRecordManager(installation.root);
    const uint64_t records = bench::GenerateInstallation(installation, error);
    if (records == 0) std::fprintf(stderr, "generate: %s\n", error.c_str());
    std::fflush(nullptr);
    ::_exit(records == 0 ? 1 : 0);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child ||
      !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return false;
  }
  seconds = Since(start);
  return true;
}

std::string Digits(int value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*d", width, value);
  return text;
}

int RunBenchmark() {
  bench::Installation installation = bench::ChooseInstallation("server-bench");
  std::optional<Server> server = StartServer(installation.scratch);
  if (!server) {
    std::fprintf(stderr, "no server to measure\n");
    return 1;
  }
  StopServerOnSignals(*server);
  installation.root = installation.scratch + "ROOT/";
  const std::string session_dir = installation.scratch + "SESSIO/";
  fs::create_directories(installation.root);
  fs::create_directories(session_dir);
  std::ofstream(installation.root + "Orvo.ini")
      << "[Dades]\r\nServidor=" << server->conninfo << "\r\nEsquema=" << kSchema
      << "\r\n";

  Bare bare(server->conninfo);
  if (!bare.ok()) {
    std::fprintf(stderr, "cannot connect to %s\n", server->conninfo.c_str());
    StopServer(*server);
    return 1;
  }
  if (bare.Table("CobramH").empty()) {
    std::fprintf(stderr, "generating %d communities x %d units x %d years\n",
                 bench::kCommunities, bench::kUnits, bench::kYears);
    double seconds = 0;
    if (!Generate(installation, seconds)) {
      std::fprintf(stderr, "cannot generate the installation\n");
      StopServer(*server);
      return 1;
    }
    std::printf("generate and load into the server: %.1f s\n", seconds);
  }
  const char* names[] = {"THRebut",  "FinquesH", "FinDespH",
                         "PropietH", "PagamH",   "CobramH"};

  // The whole report and the bare pass.
  PrepareSession(installation.root, session_dir);
  ResetWorkTables();
  OpenAllDataFiles();
  // The engine's session carries the program's name.
  const int engine_backend = bare.BackendOf("tarnevos");
  double report_cpu = 0;
  double report_server_cpu = 0;
  platform::ServerTraffic report_traffic;
  const double report = Best([&] {
    const platform::ServerTraffic before = platform::ServerTrafficSoFar();
    const double cpu = CpuSeconds();
    const double server_cpu = ProcessCpuSeconds(engine_backend);
    ProduceReport();
    KeepBest(report_cpu, CpuSeconds() - cpu);
    report_traffic.round_trips =
        platform::ServerTrafficSoFar().round_trips - before.round_trips;
    report_traffic.rows = platform::ServerTrafficSoFar().rows - before.rows;
    KeepBest(report_server_cpu, ProcessCpuSeconds(engine_backend) - server_cpu);
  });
  const double peak = PeakResidentMiB();
  uint64_t checksum = 0;
  uint64_t records = 0;
  double stream_cpu = 0;
  double stream_server_cpu = 0;
  const double stream = Best([&] {
    const double cpu = CpuSeconds();
    const double server_cpu = ProcessCpuSeconds(bare.Backend());
    records = 0;
    for (const char* name : names) {
      records += bare.Stream(bare.Table(name), checksum);
    }
    KeepBest(stream_cpu, CpuSeconds() - cpu);
    KeepBest(stream_server_cpu, ProcessCpuSeconds(bare.Backend()) - server_cpu);
  });
  std::printf(
      "whole report %.2f s; bare stream of %llu records %.2f s: %.2fx "
      "(target 3x); peak memory %.1f MiB (target 64)\n",
      report, static_cast<unsigned long long>(records), stream, report / stream,
      peak);
  std::printf(
      "  CPU: report %.2f s here + %.2f s in its server process (%llu round "
      "trips, %llu rows); bare stream %.2f s + %.2f s\n",
      report_cpu, report_server_cpu,
      static_cast<unsigned long long>(report_traffic.round_trips),
      static_cast<unsigned long long>(report_traffic.rows), stream_cpu,
      stream_server_cpu);

  // Stepping along CobramH through the access layer.
  uint64_t steps = 0;
  const double stepping = Best([&] {
    steps = 0;
    int16_t status = 0;
    ReadByKey(kCobramHandle, 0, "", 1, status);
    while (status == 0) {
      ++steps;
      checksum += static_cast<uint64_t>(
          GetInt32(Areas().cobram.data(), field::kCollectionFirst));
      StepRecords(kCobramHandle, 1, status);
    }
  });
  uint64_t streamed = 0;
  const double cobram_stream =
      Best([&] { streamed = bare.Stream(bare.Table("CobramH"), checksum); });
  const double step_rate = static_cast<double>(steps) / stepping;
  const double stream_rate = static_cast<double>(streamed) / cobram_stream;
  std::printf(
      "CobramH: %.0f steps/s through the access layer; bare stream "
      "%.0f rows/s: %.2f (target 0.25)\n",
      step_rate, stream_rate, step_rate / stream_rate);

  // THRebut with the report's repeated keys.
  const std::vector<std::string> types = {
      "\x01", "\x02", "\x03", "\x04", "\x05", "\x06", "\x07",
      "\x08", "\x8C", "\x99", "\xA5", "\xA8", "\x8D"};
  const double type_reads = Best([&] {
    for (int i = 0; i < kThRebutReads; ++i) {
      int16_t status = 0;
      ReadByKey(kThRebutHandle, 0, types[i % types.size()], 0, status);
    }
  });
  std::optional<platform::FileSpec> type_spec = bare.Spec("THRebut");
  std::optional<platform::FileSpec> unit_spec = bare.Spec("PropietH");
  if (!type_spec || !unit_spec ||
      !bare.Prepare("type", "SELECT data FROM " + bare.Table("THRebut") +
                                " WHERE key0 = $1::bytea LIMIT 1") ||
      !bare.Prepare("unit", "SELECT data FROM " + bare.Table("PropietH") +
                                " WHERE key0 = $1::bytea LIMIT 1")) {
    std::fprintf(stderr, "the bare point queries cannot be prepared\n");
    StopServer(*server);
    return 1;
  }
  const double bare_type_reads = Best([&] {
    for (int i = 0; i < kBareThRebutReads; ++i) {
      const std::string& key = types[i % types.size()];
      bare.Point("type", platform::KeyImageOfValue(*type_spec, 0, key),
                 checksum);
    }
  });
  std::printf("THRebut get equal: %.0f reads/s; bare point query %.0f/s\n",
              kThRebutReads / type_reads, kBareThRebutReads / bare_type_reads);

  // PropietH: every unit once, in random order.
  std::vector<std::string> units;
  for (int community = 1; community <= bench::kCommunities; ++community) {
    for (int unit = 1; unit <= bench::kUnits; ++unit) {
      units.push_back(PackDigits(Digits(community, 4) + Digits(unit, 4)));
    }
  }
  std::shuffle(units.begin(), units.end(), std::mt19937(7));
  int found = 0;
  const double unit_reads = Best([&] {
    // Each run must miss the cache as the first did.
    platform::CurrentRecordManager().Refresh();
    found = 0;
    for (const std::string& key : units) {
      int16_t status = 0;
      ReadByKey(kPropietHandle, 0, key, 0, status);
      found += status == 0;
    }
  });
  int bare_found = 0;
  const double bare_unit_reads = Best([&] {
    bare_found = 0;
    for (const std::string& key : units) {
      bare_found += bare.Point(
          "unit", platform::KeyImageOfValue(*unit_spec, 0, key), checksum);
    }
  });
  std::printf(
      "PropietH get equal, random keys: %.0f reads/s (%d found); bare "
      "point query %.0f/s (%d found)\n",
      static_cast<double>(units.size()) / unit_reads, found,
      static_cast<double>(units.size()) / bare_unit_reads, bare_found);
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(checksum));

  // How long another session's commit takes to reach a reader's cached
  // answers without the reader making any round trip of its own.
  const platform::ServerSettings settings{server->conninfo, kSchema,
                                          installation.root};
  auto reader_engine = platform::MakePostgresRecordManager(settings);
  auto writer_engine = platform::MakePostgresRecordManager(settings);
  platform::record_test::FileClient reader(*reader_engine);
  platform::record_test::FileClient writer(*writer_engine);
  const std::string notice = installation.root + "notice.dat";
  const std::string spec = platform::record_test::MakeSpec(16, {{{1, 4}}});
  reader.Create(notice, spec, 0);
  std::vector<double> delays;
  if (reader.Open(notice) == 0 && writer.Open(notice) == 0 &&
      writer.Insert("K001" + std::string(12, '0')) == 0) {
    for (int round = 1; round <= 200; ++round) {
      const std::string record = "K001" + Digits(round, 12);
      reader.Get(platform::kOpGetEqual, "K001");
      writer.Get(platform::kOpGetEqual, "K001");
      writer.Call(platform::kOpUpdate, record, "", 0, 16);
      const auto start = Clock::now();
      while (reader.Get(platform::kOpGetEqual, "K001").data != record &&
             Since(start) < 5) {
      }
      delays.push_back(Since(start) * 1000);
    }
  }
  std::sort(delays.begin(), delays.end());
  if (!delays.empty()) {
    std::printf(
        "a commit reaches another reader's cache after %.2f ms "
        "(median), %.2f ms (99th percentile), %.2f ms (slowest of "
        "%zu)\n",
        delays[delays.size() / 2], delays[delays.size() * 99 / 100],
        delays.back(), delays.size());
  }

  int16_t status = 0;
  CloseAllDataFiles(status);
  platform::TEST_SetProgramRunner(nullptr);
  StopServer(*server);
  bench::RemoveScratch(installation);
  return 0;
}

}  // namespace
}  // namespace tarnevos

int main() { return tarnevos::RunBenchmark(); }
