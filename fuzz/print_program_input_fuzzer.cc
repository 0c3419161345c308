// The print program's other outside input: the system's paper settings
// file and what the spooler's lp command reports. Neither may crash the
// program, and what comes out must hold together: a paper name is one word
// without blanks, a known paper has a positive size, and a job's name is one
// word found in the report.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kelprint/devices.h"
#include "kelprint/paper.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::string name = tarnevos::kelprint::PaperNameFromSettings(text);
  Check(name.find_first_of(" \t\r\n") == std::string::npos, "one word");
  Check(name.empty() || name[0] != '#', "not a comment");
  Check(text.find(name) != std::string_view::npos, "taken from the text");
  if (auto paper = tarnevos::kelprint::PaperByName(name)) {
    Check(paper->width > 0 && paper->height > 0, "paper size");
  }

  const std::string job = tarnevos::kelprint::SpoolerJobId(text);
  Check(job.find_first_of(" \t\r\n") == std::string::npos, "job: one word");
  Check(job.empty() ||
            text.find("request id is " + job) != std::string_view::npos,
        "job named in the report");
  return 0;
}
