// Typed dates: reading, checking, turning back into entry text, formatting
// and arithmetic on whatever a reading gives.
#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/session.h"
#include "util/dates.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int style = static_cast<int8_t>(data[0]) % 4;
  static const char* kLanguages[] = {"CAT", "SPA", "GLG", "OCI"};
  tarnevos::TEST_MutableSession().language = kLanguages[data[1] % 4];
  const int32_t amount = static_cast<int8_t>(data[2]) * 40000;
  std::string typed(reinterpret_cast<const char*>(data) + 3, size - 3);

  std::string packed = tarnevos::ParseDateEntry(typed);
  if (packed.size() != 4) __builtin_trap();
  bool invalid = tarnevos::IsInvalidDateEntry(typed);
  std::string entry = tarnevos::DateToEntryText(packed);
  if (!invalid) {
    // A valid date survives the round trip through its entry text.
    if (tarnevos::IsInvalidDateEntry(entry)) __builtin_trap();
    if (tarnevos::ParseDateEntry(entry) != packed) __builtin_trap();
    int weekday = tarnevos::DayOfWeek(packed);
    if (weekday < 1 || weekday > 7) __builtin_trap();
  }
  tarnevos::FormatDate(packed, style, "DMA");
  tarnevos::FormatDate(typed, style, typed);
  for (const char* unit : {"D", "M", "A"}) {
    std::string moved = tarnevos::AddToDate(packed, amount, unit);
    if (moved.size() != 4) __builtin_trap();
    if (tarnevos::DateDifference(packed, moved, unit) < 0) __builtin_trap();
  }
  tarnevos::DateDifference(typed, packed, "D");
  tarnevos::DayOfWeek(typed);
  return 0;
}
