#include "data/key_spec.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "data/file_table.h"
#include "util/little_endian.h"

namespace tarnevos {
namespace {

struct Segment {
  uint16_t position = 0;
  uint16_t length = 0;
  uint16_t flags = 0;
};

std::optional<uint16_t> U16At(std::span<const uint8_t> buffer, size_t offset) {
  if (offset + 2 > buffer.size()) return std::nullopt;
  return le::LoadU16(buffer.data() + offset);
}

// Segment description number `index`; nullopt past the buffer's end.
std::optional<Segment> SegmentAt(std::span<const uint8_t> statistics,
                                 size_t index) {
  size_t base = kStatisticsHeaderSize + kSegmentSpecSize * index;
  auto position = U16At(statistics, base);
  auto length = U16At(statistics, base + 2);
  auto flags = U16At(statistics, base + 4);
  if (!position || !length || !flags) return std::nullopt;
  return Segment{*position, *length, *flags};
}

// Only the low byte of the flags says whether another segment follows.
bool Continues(const Segment& segment) {
  return (segment.flags & 0x00FF & kSegmentContinues) != 0;
}

int NumberOfKeys(std::span<const uint8_t> statistics) {
  return U16At(statistics, 4).value_or(0);
}

// The segments of every key, in order: keys[k] lists key k's segments.
// Stops early when the descriptions run past the buffer.
std::vector<std::vector<Segment>> KeySegments(
    std::span<const uint8_t> statistics, bool& complete) {
  std::vector<std::vector<Segment>> keys;
  complete = true;
  size_t index = 0;
  int count = NumberOfKeys(statistics);
  for (int k = 0; k < count; ++k) {
    std::vector<Segment> key;
    std::optional<Segment> segment;
    do {
      segment = SegmentAt(statistics, index);
      if (!segment) {
        complete = false;
        return keys;
      }
      key.push_back(*segment);
      ++index;
    } while (Continues(*segment));
    keys.push_back(std::move(key));
  }
  return keys;
}

size_t SegmentCount(const std::vector<std::vector<Segment>>& keys) {
  size_t count = 0;
  for (const auto& key : keys) count += key.size();
  return count;
}

}  // namespace

bool DescribesRecords(std::span<const uint8_t> specification) {
  bool complete = false;
  const auto keys = KeySegments(specification, complete);
  return complete && RecordLengthOf(specification) > 0 && !keys.empty();
}

bool SameRecordLayout(std::span<const uint8_t> statistics,
                      std::span<const uint8_t> specification) {
  // The flags that decide where a key's bytes are and how they order.
  constexpr uint16_t kLayoutFlags =
      kSegmentBinary | kSegmentContinues | kSegmentCollated;
  if (RecordLengthOf(statistics) == 0 ||
      RecordLengthOf(statistics) != RecordLengthOf(specification) ||
      NumberOfKeys(statistics) != NumberOfKeys(specification)) {
    return false;
  }
  bool complete_file = false;
  bool complete_spec = false;
  const auto file_keys = KeySegments(statistics, complete_file);
  const auto spec_keys = KeySegments(specification, complete_spec);
  if (!complete_file || !complete_spec) return false;
  for (size_t k = 0; k < file_keys.size(); ++k) {
    if (file_keys[k].size() != spec_keys[k].size()) return false;
    for (size_t s = 0; s < file_keys[k].size(); ++s) {
      const Segment& a = file_keys[k][s];
      const Segment& b = spec_keys[k][s];
      if (a.position != b.position || a.length != b.length ||
          (a.flags & kLayoutFlags) != (b.flags & kLayoutFlags)) {
        return false;
      }
    }
  }
  return true;
}

int32_t RecordLengthOf(std::span<const uint8_t> statistics) {
  return U16At(statistics, 0).value_or(0);
}

int16_t KeyLengthOf(std::span<const uint8_t> statistics, int key_number) {
  if (key_number < 0 || key_number >= NumberOfKeys(statistics)) return 0;
  // Walk the segments of keys 0 .. key_number; a description cut off by the
  // buffer's end leaves the key unusable.
  size_t index = 0;
  int32_t length = 0;
  for (int k = 0; k <= key_number; ++k) {
    length = 0;
    std::optional<Segment> segment;
    do {
      segment = SegmentAt(statistics, index++);
      if (!segment) return 0;
      length += segment->length;
    } while (Continues(*segment));
  }
  return static_cast<int16_t>(
      std::min<int32_t>(length, std::numeric_limits<int16_t>::max()));
}

std::string KeyImageOf(std::span<const uint8_t> statistics, int key_number,
                       std::string key_value) {
  bool complete = false;
  auto keys = KeySegments(statistics, complete);
  if (key_number < 0 || key_number >= static_cast<int>(keys.size())) {
    return key_value;
  }
  // The collating sequence follows the last segment of the last key.
  size_t table_offset =
      kStatisticsHeaderSize + kSegmentSpecSize * SegmentCount(keys);
  bool has_table =
      complete && table_offset + kCollatingSequenceSize <= statistics.size();
  size_t p = 0;
  for (const Segment& segment : keys[key_number]) {
    size_t end = p + segment.length;
    if (segment.flags & kSegmentBinary) {
      if (key_value.size() < end) key_value.resize(end, '\0');
      std::reverse(key_value.begin() + p, key_value.begin() + end);
    } else if ((segment.flags & kSegmentCollated) && has_table) {
      for (size_t i = p; i < end && i < key_value.size(); ++i) {
        auto byte = static_cast<uint8_t>(key_value[i]);
        key_value[i] = static_cast<char>(statistics[table_offset + 9 + byte]);
      }
    }
    p = end;
  }
  return key_value;
}

void ReadKeyInfo(int16_t handle, int16_t key_number, int16_t& key_length,
                 int32_t& record_length) {
  key_length = 0;
  record_length = 0;
  FileSlot* slot = SlotAt(FindFileSlot(handle));
  if (slot == nullptr) return;
  const std::vector<uint8_t>& statistics = FileStatistics(*slot);
  record_length = RecordLengthOf(statistics);
  key_length = KeyLengthOf(statistics, key_number);
}

std::string KeyImage(std::string key_value, int16_t handle) {
  FileSlot* slot = SlotAt(FindFileSlot(handle));
  if (slot == nullptr) return key_value;
  return KeyImageOf(FileStatistics(*slot), slot->key_number,
                    std::move(key_value));
}

}  // namespace tarnevos
