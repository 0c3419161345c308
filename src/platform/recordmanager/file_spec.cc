#include "platform/recordmanager/file_spec.h"

#include <algorithm>

#include "util/little_endian.h"

namespace tarnevos::platform {
namespace {

uint16_t ReadU16(std::string_view bytes, size_t offset) {
  return le::LoadU16(bytes.data() + offset);
}

// Reads the segments of one key starting at *offset; advances *offset and
// *segment_count. False when the file description is inconsistent.
bool ParseKey(std::string_view bytes, uint16_t record_length, size_t* offset,
              size_t* segment_count, KeySpec* key) {
  bool more = true;
  while (more) {
    if (*offset + kSegmentSpecSize > bytes.size()) return false;
    if (++*segment_count > kMaxSegments) return false;
    uint16_t position = ReadU16(bytes, *offset);
    uint16_t length = ReadU16(bytes, *offset + 2);
    uint16_t flags = ReadU16(bytes, *offset + 4);
    *offset += kSegmentSpecSize;
    if (position == 0 || length == 0) return false;
    if (position - 1 + length > record_length) return false;
    if (key->length + length > kMaxKeyLength) return false;
    key->segments.push_back(
        {static_cast<uint16_t>(position - 1), length, flags});
    key->length = static_cast<uint16_t>(key->length + length);
    key->duplicates = key->duplicates || (flags & kSegmentDuplicates) != 0;
    more = (flags & 0xFF & kSegmentContinues) != 0;
  }
  return true;
}

bool UsesCollation(const FileSpec& spec) {
  for (const KeySpec& key : spec.keys) {
    for (const SegmentSpec& segment : key.segments) {
      if (segment.flags & kSegmentCollated) return true;
    }
  }
  return false;
}

// Appends the image of one segment whose bytes are `source` (already cut or
// zero-extended to the segment's length).
void AppendSegmentImage(const FileSpec& spec, const SegmentSpec& segment,
                        std::string_view source, std::string* image) {
  if (segment.flags & kSegmentBinary) {
    image->append(source.rbegin(), source.rend());
  } else if ((segment.flags & kSegmentCollated) && spec.collation) {
    for (char c : source) {
      image->push_back(
          static_cast<char>((*spec.collation)[static_cast<uint8_t>(c)]));
    }
  } else {
    image->append(source);
  }
}

// The bytes [offset, offset + length) of `text`, zero-extended past its end.
std::string_view SliceOrPad(std::string_view text, size_t offset, size_t length,
                            std::string* scratch) {
  if (offset + length <= text.size()) return text.substr(offset, length);
  scratch->assign(length, '\0');
  if (offset < text.size()) {
    std::copy(text.begin() + offset, text.end(), scratch->begin());
  }
  return *scratch;
}

}  // namespace

std::optional<FileSpec> ParseFileSpec(std::string_view bytes) {
  if (bytes.size() < kSpecHeaderSize) return std::nullopt;
  FileSpec spec;
  spec.record_length = ReadU16(bytes, 0);
  uint16_t key_count = ReadU16(bytes, 4);
  if (spec.record_length == 0 || spec.record_length > kMaxRecordLength) {
    return std::nullopt;
  }
  if (key_count == 0 || key_count > kMaxKeys) return std::nullopt;
  size_t offset = kSpecHeaderSize;
  size_t segment_count = 0;
  spec.keys.resize(key_count);
  for (KeySpec& key : spec.keys) {
    if (!ParseKey(bytes, spec.record_length, &offset, &segment_count, &key)) {
      return std::nullopt;
    }
  }
  if (UsesCollation(spec)) {
    if (offset + kCollatingSequenceSize > bytes.size()) return std::nullopt;
    std::array<uint8_t, 256> table;
    for (size_t b = 0; b < table.size(); ++b) {
      table[b] = static_cast<uint8_t>(bytes[offset + 9 + b]);
    }
    spec.collation = table;
    offset += kCollatingSequenceSize;
  }
  spec.bytes.assign(bytes.substr(0, offset));
  return spec;
}

std::string KeyValueOf(const FileSpec& spec, size_t key,
                       std::string_view record) {
  std::string value;
  std::string scratch;
  if (key >= spec.keys.size()) return value;
  value.reserve(spec.keys[key].length);
  for (const SegmentSpec& segment : spec.keys[key].segments) {
    value.append(SliceOrPad(record, segment.offset, segment.length, &scratch));
  }
  return value;
}

void CopyKeyValue(const FileSpec& spec, size_t key, std::string_view record,
                  uint8_t* out, size_t capacity) {
  if (key >= spec.keys.size()) return;
  size_t at = 0;
  for (const SegmentSpec& segment : spec.keys[key].segments) {
    for (size_t i = 0; i < segment.length && at < capacity; ++i, ++at) {
      const size_t from = segment.offset + i;
      out[at] = from < record.size() ? static_cast<uint8_t>(record[from]) : 0;
    }
  }
}

std::string KeyImageOfValue(const FileSpec& spec, size_t key,
                            std::string_view value) {
  std::string image;
  std::string scratch;
  if (key >= spec.keys.size()) return image;
  image.reserve(spec.keys[key].length);
  size_t at = 0;
  for (const SegmentSpec& segment : spec.keys[key].segments) {
    AppendSegmentImage(spec, segment,
                       SliceOrPad(value, at, segment.length, &scratch), &image);
    at += segment.length;
  }
  return image;
}

std::string KeyImageOfRecord(const FileSpec& spec, size_t key,
                             std::string_view record) {
  std::string image;
  std::string scratch;
  if (key >= spec.keys.size()) return image;
  image.reserve(spec.keys[key].length);
  for (const SegmentSpec& segment : spec.keys[key].segments) {
    AppendSegmentImage(
        spec, segment,
        SliceOrPad(record, segment.offset, segment.length, &scratch), &image);
  }
  return image;
}

}  // namespace tarnevos::platform
