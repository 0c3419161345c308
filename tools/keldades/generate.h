#ifndef TARNEVOS_TOOLS_KELDADES_GENERATE_H_
#define TARNEVOS_TOOLS_KELDADES_GENERATE_H_

#include <cstdint>
#include <string>

#include "keldades/store.h"

// A synthetic installation, the same for the same options: receipt types,
// communities with up to six special columns, units whose coefficients add
// up to 1,000,000 in column A and to the column's total in the others,
// monthly collections of every unit and monthly payments of every
// community over the last `years` years up to December 2026, previous
// balances and private expenses.
namespace tarnevos::keldades {

struct GenerateOptions {
  int communities = 10;  // 1 .. 9999, codes 1 .. communities
  int units = 8;         // per community, 1 .. 999, numbers 1 .. units
  int years = 2;         // 1 .. 50, ending with 2026
  uint64_t seed = 1;
};

// Checks the option ranges; false with a message when one is outside.
bool CheckGenerateOptions(const GenerateOptions& options, std::string& error);

// Writes the dictionaries (when missing) and the six files under `root`,
// replacing what was there only once every file is complete.
bool Generate(const std::string& root, const GenerateOptions& options,
              WriteCounts& counts, std::string& error);

// The records Generate writes, without writing them (for tests and small
// sizes: everything is held in memory).
RecordSet GenerateRecords(const GenerateOptions& options);

}  // namespace tarnevos::keldades

#endif  // TARNEVOS_TOOLS_KELDADES_GENERATE_H_
