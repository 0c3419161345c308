// Typed numbers checked against any mask; an accepted text reads as a
// number.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "util/numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t mask_length = static_cast<unsigned char>(input[0]) % 16;
  input.remove_prefix(1);
  std::string_view mask = input.substr(0, mask_length);
  std::string_view text = input.substr(mask.size());
  bool invalid = tarnevos::IsInvalidNumberEntry(text, mask);
  double value = tarnevos::NumericValue(text);
  if (std::isnan(value)) __builtin_trap();
  if (!invalid && text.find_first_of("0123456789") == std::string_view::npos &&
      value != 0) {
    __builtin_trap();
  }
  return 0;
}
