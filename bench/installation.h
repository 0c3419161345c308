#ifndef TARNEVOS_BENCH_INSTALLATION_H_
#define TARNEVOS_BENCH_INSTALLATION_H_

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "keldades/generate.h"
#include "keldades/store.h"

// The large installation the data benchmarks measure: 1,000 communities x
// 30 units x 5 years, about 1.96 million records, 1.8 million of them
// collections. TARNEVOS_BENCH_ROOT=DIR measures an installation already
// there instead of generating one.
namespace tarnevos::bench {

constexpr int kCommunities = 1000;
constexpr int kUnits = 30;
constexpr int kYears = 5;

struct Installation {
  std::string root;     // ends with "/"
  std::string scratch;  // this run's own folder, ends with "/"
  bool given = false;   // root came from TARNEVOS_BENCH_ROOT

  bool HasData() const {
    return std::filesystem::exists(root + "DADES/CobramH.dat");
  }
};

// The installation to measure, and a fresh scratch folder named after the
// benchmark; the root is the scratch folder's ROOT/ unless one was given.
inline Installation ChooseInstallation(const std::string& bench_name) {
  namespace fs = std::filesystem;
  Installation installation;
  installation.scratch =
      (fs::temp_directory_path() /
       ("tarnevos-" + bench_name + "-" + std::to_string(::getpid())))
          .string() +
      "/";
  std::error_code error;
  fs::create_directories(installation.scratch, error);
  const char* given = std::getenv("TARNEVOS_BENCH_ROOT");
  installation.given = given != nullptr && *given != '\0';
  installation.root = installation.given ? keldades::RootPath(given)
                                         : installation.scratch + "ROOT/";
  return installation;
}

// Generates the benchmark's installation at its root with the data tool's
// code (a fixed seed, so every run measures the same records). Returns the
// number of records written, or 0 with `error` set.
inline uint64_t GenerateInstallation(const Installation& installation,
                                     std::string& error) {
  keldades::GenerateOptions options;
  options.communities = kCommunities;
  options.units = kUnits;
  options.years = kYears;
  options.seed = 1;
  keldades::WriteCounts counts;
  if (!keldades::Generate(installation.root, options, counts, error)) return 0;
  uint64_t records = 0;
  for (uint64_t count : counts.records) records += count;
  return records;
}

// Generates the installation unless one was given; true when its data
// files are there.
inline bool GenerateUnlessGiven(const Installation& installation) {
  if (!installation.given) {
    std::fprintf(stderr,
                 "generating %d communities x %d units x %d years in %s\n",
                 kCommunities, kUnits, kYears, installation.root.c_str());
    std::string error;
    if (GenerateInstallation(installation, error) == 0) {
      std::fprintf(stderr, "cannot generate the installation: %s\n",
                   error.c_str());
    }
  }
  if (!installation.HasData()) {
    std::fprintf(stderr, "no data files in %sDADES\n",
                 installation.root.c_str());
    return false;
  }
  return true;
}

// An installation the report runs on, with a session folder of its own.
struct ReportInstallation : Installation {
  std::string session;  // ends with "/"
  bool ready = false;   // its data files are there
};

inline ReportInstallation PrepareReportInstallation(
    const std::string& bench_name) {
  ReportInstallation installation;
  static_cast<Installation&>(installation) = ChooseInstallation(bench_name);
  installation.session = installation.scratch + "SESSIO/";
  std::error_code error;
  std::filesystem::create_directories(installation.session, error);
  installation.ready = GenerateUnlessGiven(installation);
  return installation;
}

// CPU time of the process so far (user and system), in seconds.
inline double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) /
             1e6;
}

// The process's maximum resident set so far, in MiB.
inline double PeakResidentMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

// Figures are the best of the repetitions (0 until one has run), so that a
// neighbour's burst on a shared machine does not decide them.
inline void KeepBest(double& best, double value) {
  if (best == 0 || value < best) best = value;
}

// Runs `body` once and keeps its wall and CPU times where they are the
// best so far.
template <typename Body>
void KeepBestTimes(double& seconds, double& cpu_seconds, Body body) {
  const auto start = std::chrono::steady_clock::now();
  const double cpu = CpuSeconds();
  body();
  KeepBest(cpu_seconds, CpuSeconds() - cpu);
  KeepBest(seconds, SecondsSince(start));
}

inline void RemoveScratch(const Installation& installation) {
  std::error_code error;
  if (!installation.scratch.empty())
    std::filesystem::remove_all(installation.scratch, error);
}

}  // namespace tarnevos::bench

#endif  // TARNEVOS_BENCH_INSTALLATION_H_
