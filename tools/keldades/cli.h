#ifndef TARNEVOS_TOOLS_KELDADES_CLI_H_
#define TARNEVOS_TOOLS_KELDADES_CLI_H_

#include <ostream>
#include <string>
#include <vector>

#include "keldades/store.h"

// The data tool's commands:
//   keldades new ROOT [DATASET.json] [--language L] [--templates DIR]
//   keldades init ROOT
//   keldades load ROOT DATASET.json
//   keldades dump ROOT [FILE]
//   keldades generate ROOT [--communities N] [--units U] [--years Y]
//                          [--seed S]
//   keldades export ROOT DIR [--semicolon]
//   keldades import ROOT DIR
//   keldades check ROOT [--cutoff DATE]
namespace tarnevos::keldades {

// Runs one command (arguments without the program name), or --help and
// --version (on `out`). Returns the exit code: 0 done, 1 the command failed
// (message on `err`), 64 bad usage (the usage on `err`).
// The check returns 0 when it found nothing, 1 with findings and 2 when
// the installation cannot be read. Load and import print the check's
// findings as warnings after a successful load.
int RunKeldades(const std::vector<std::string>& arguments, std::ostream& out,
                std::ostream& err);

// The dump of an installation (all files, or the section of one file:
// THRebut, FinquesH or FinDespH, PropietH, CobramH, PagamH), one element
// per line, in key order.
// "N receipt types, N communities, ..." and a line end.
void PrintCounts(const WriteCounts& counts, std::ostream& out);

bool DumpInstallation(const std::string& root, const std::string& file,
                      std::ostream& out, std::string& error);

}  // namespace tarnevos::keldades

#endif  // TARNEVOS_TOOLS_KELDADES_CLI_H_
