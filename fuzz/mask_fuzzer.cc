// Edit masks and amounts with any mask and any value, in both currencies.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "util/numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  double value;
  std::memcpy(&value, data, sizeof value);
  tarnevos::SelectCurrency(data[8] & 1 ? "a,E" : "a,P");
  std::string mask(reinterpret_cast<const char*>(data) + 9, size - 9);

  // Whatever the value, the result is as long as the mask.
  if (tarnevos::FormatByMask(mask, value).size() != mask.size()) {
    __builtin_trap();
  }
  if (tarnevos::FormatAmount(mask, value).size() != mask.size()) {
    __builtin_trap();
  }
  return 0;
}
