// The reading of text files people write (settings, form, language and help
// files): detection of UTF-8 and conversion to CP850 over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const tarnevos::TextEncoding encoding = tarnevos::DetectTextEncoding(input);
  const std::string text = tarnevos::TextFileToCp850(input);
  // CP850 comes back unchanged; a conversion never makes a file longer
  // (each look-alike is no longer than its UTF-8 character); and any CP850
  // text, written in UTF-8, reads back as itself.
  if (encoding == tarnevos::TextEncoding::kCp850 && text != input) {
    __builtin_trap();
  }
  if (text.size() > input.size()) __builtin_trap();
  if (tarnevos::TextFileToCp850(tarnevos::Utf8FromCp850(text)) != text) {
    __builtin_trap();
  }
  return 0;
}
