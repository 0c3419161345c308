// Settings lookups over arbitrary file contents, section and key names.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "settings/ini_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Layout: section length, key length, section, key, contents.
  std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.size() < 2) return 0;
  size_t section_length = static_cast<unsigned char>(input[0]) % 16;
  size_t key_length = static_cast<unsigned char>(input[1]) % 16;
  input.remove_prefix(2);
  std::string_view section = input.substr(0, section_length);
  input.remove_prefix(section.size());
  std::string_view key = input.substr(0, key_length);
  input.remove_prefix(key.size());
  std::string value = tarnevos::ReadSettingFromText(input, section, key);
  // A value is always a piece of the contents.
  if (value.size() > input.size()) __builtin_trap();
  return 0;
}
