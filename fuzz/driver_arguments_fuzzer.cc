// The program's command line over arbitrary arguments: the input is split
// at NUL bytes into arguments, as the system hands them over.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.emplace_back();
    } else {
      arguments.back().push_back(static_cast<char>(data[i]));
    }
  }
  const tarnevos::ParsedArguments parsed =
      tarnevos::ParseDriverArguments(arguments);
  // A usage error always says what is wrong; a run never has an empty
  // folder or device that was given.
  if (parsed.action == tarnevos::DriverAction::kUsageError &&
      parsed.error.empty()) {
    __builtin_trap();
  }
  if (parsed.options.output && parsed.options.output->empty()) {
    __builtin_trap();
  }
  return 0;
}
