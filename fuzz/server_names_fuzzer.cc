// The names the server engine derives from outside text: a data file's name
// from the key buffer (and the installation's root) and the schema from
// Orvo.ini. Whatever the bytes, the table name must be printable ASCII
// without quotes, and the schema a plain lower-case identifier or empty.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/recordmanager/postgres_storage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using tarnevos::platform::ServerFileName;
  using tarnevos::platform::ServerSchemaName;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first byte splits the input into a name and a root.
  const size_t split = size == 0 ? 0 : data[0] % size;
  const std::string_view root = input.substr(split);
  const std::string_view name = input.substr(0, split);
  const std::string file = ServerFileName(name, root);
  for (char c : file) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || (c >= 'A' && c <= 'Z')) std::abort();
  }
  const std::string schema = ServerSchemaName(input);
  if (schema.size() > 63) std::abort();
  for (size_t i = 0; i < schema.size(); ++i) {
    const char c = schema[i];
    const bool ok =
        (c >= 'a' && c <= 'z') || c == '_' || (i > 0 && c >= '0' && c <= '9');
    if (!ok) std::abort();
  }
  return 0;
}
