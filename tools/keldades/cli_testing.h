#ifndef TARNEVOS_TOOLS_KELDADES_CLI_TESTING_H_
#define TARNEVOS_TOOLS_KELDADES_CLI_TESTING_H_

#include <sstream>
#include <string>
#include <vector>

#include "keldades/cli.h"
#include "support/scratch.h"

// What the data tool's tests run it with and look at.
namespace tarnevos::keldades::tool_test {

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

// The data tool run in this process: its exit code and both outputs.
inline Outcome Keldades(const std::vector<std::string>& arguments) {
  std::ostringstream out, err;
  const int code = RunKeldades(arguments, out, err);
  return {code, out.str(), err.str()};
}

// A small dataset of the tests, with every kind of record.
inline std::string SamplePath() {
  return tarnevos::testing::SourceDir() +
         "/tools/keldades/testdata/sample.json";
}

}  // namespace tarnevos::keldades::tool_test

#endif  // TARNEVOS_TOOLS_KELDADES_CLI_TESTING_H_
