#ifndef TARNEVOS_BENCH_INSTALLATION_H_
#define TARNEVOS_BENCH_INSTALLATION_H_

#include <unistd.h>

#include <cstdint>
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

inline void RemoveScratch(const Installation& installation) {
  std::error_code error;
  if (!installation.scratch.empty())
    std::filesystem::remove_all(installation.scratch, error);
}

}  // namespace tarnevos::bench

#endif  // TARNEVOS_BENCH_INSTALLATION_H_
