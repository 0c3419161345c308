#ifndef TARNEVOS_PLATFORM_RECORDMANAGER_FILE_SPEC_H_
#define TARNEVOS_PLATFORM_RECORDMANAGER_FILE_SPEC_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The creation specification of a data file and the keys it describes.
//
// Layout (integers little-endian), the same for create and stat:
//   0   record length (uint16), 1 ... 1536
//   2   page size (uint16), kept but not used
//   4   number of keys (uint16), 1 ... 24
//   6   10 bytes kept as given
//   16  the 16-byte segment specifications of all keys in order:
//         +0 position (1-based), +2 length, +4 flags, the rest kept
//   then, when a segment uses it, the 265-byte alternate collating
//   sequence: signature byte, 8-byte name, 256-byte table.
namespace tarnevos::platform {

constexpr uint16_t kSegmentDuplicates = 0x0001;
constexpr uint16_t kSegmentBinary = 0x0004;
constexpr uint16_t kSegmentContinues = 0x0010;  // tested on the low byte
constexpr uint16_t kSegmentCollated = 0x0020;

constexpr size_t kMaxRecordLength = 1536;
constexpr size_t kMaxKeys = 24;
constexpr size_t kMaxSegments = 119;
constexpr size_t kMaxKeyLength = 255;  // the key buffer's length is one byte
constexpr size_t kSpecHeaderSize = 16;
constexpr size_t kSegmentSpecSize = 16;
constexpr size_t kCollatingSequenceSize = 265;

struct SegmentSpec {
  uint16_t offset = 0;  // 0-based start in the record
  uint16_t length = 0;
  uint16_t flags = 0;
};

struct KeySpec {
  std::vector<SegmentSpec> segments;
  uint16_t length = 0;  // sum of the segment lengths
  bool duplicates = false;
};

struct FileSpec {
  uint16_t record_length = 0;
  std::vector<KeySpec> keys;
  // Byte b collates as collation[b]; present when a segment uses it.
  std::optional<std::array<uint8_t, 256>> collation;
  // The specification exactly as given, cut after its last meaningful byte.
  std::string bytes;
};

// Reads and checks a creation specification. Returns nullopt when it is
// inconsistent: shorter than its own layout says, a record length of 0 or
// over 1536, no keys or more than 24, more than 119 segments, a segment of
// length 0 or reaching outside the record, a key longer than 255 bytes.
std::optional<FileSpec> ParseFileSpec(std::string_view bytes);

// The key value of `key` in a record: its segments' bytes concatenated.
// Parts of a segment past the end of `record` read as zero bytes.
std::string KeyValueOf(const FileSpec& spec, size_t key,
                       std::string_view record);

// KeyValueOf written into `out`, cut to its first `capacity` bytes.
void CopyKeyValue(const FileSpec& spec, size_t key, std::string_view record,
                  uint8_t* out, size_t capacity);

// The key image of a key value: bytes whose plain comparison (memcmp, then
// length) is the key's order. Binary segments are little-endian unsigned
// integers, so their bytes are reversed; collated segments go through the
// table; other segments are copied. A value shorter than the key is read
// as if followed by zero bytes; the image is always the key's length.
std::string KeyImageOfValue(const FileSpec& spec, size_t key,
                            std::string_view value);

// KeyImageOfValue(KeyValueOf(record)) without the intermediate copy.
std::string KeyImageOfRecord(const FileSpec& spec, size_t key,
                             std::string_view record);

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_RECORDMANAGER_FILE_SPEC_H_
