#include "keldades/records.h"

#include <cstdio>
#include <cstdlib>

namespace tarnevos::keldades {

const FileLayout& LayoutOf(FileIndex file) { return FileLayouts()[file]; }

const FieldSpec& FieldOf(FileIndex file, std::string_view name) {
  for (const FieldSpec& field : LayoutOf(file).fields) {
    if (name == field.name) return field;
  }
  // Only the tool's own constant names get here; a test covers them all.
  std::fprintf(stderr, "keldades: %s has no field %.*s\n", LayoutOf(file).name,
               static_cast<int>(name.size()), name.data());
  std::abort();
}

std::string IndexedName(const char* stem, int index) {
  return std::string(stem) + "_" + std::to_string(index);
}

RecordBuilder::RecordBuilder(FileIndex file)
    : file_(file), bytes_(LayoutOf(file).record_length, ' ') {}

void RecordBuilder::Int(std::string_view name, int64_t value) {
  const FieldSpec& field = FieldOf(file_, name);
  auto* record = reinterpret_cast<uint8_t*>(bytes_.data());
  if (field.type == FieldType::kInt16) {
    PutInt16(record, field.offset, static_cast<int16_t>(value));
  } else {
    PutInt32(record, field.offset, static_cast<int32_t>(value));
  }
}

void RecordBuilder::Bytes(std::string_view name, std::string_view value) {
  const FieldSpec& field = FieldOf(file_, name);
  PutText(reinterpret_cast<uint8_t*>(bytes_.data()), field.offset, field.width,
          value);
}

RecordReader::RecordReader(FileIndex file, std::string_view record)
    : file_(file), record_(record) {
  record_.resize(LayoutOf(file).record_length, ' ');
}

int64_t RecordReader::Int(std::string_view name) const {
  const FieldSpec& field = FieldOf(file_, name);
  const auto* record = reinterpret_cast<const uint8_t*>(record_.data());
  if (field.type == FieldType::kInt16) return GetInt16(record, field.offset);
  return GetInt32(record, field.offset);
}

std::string RecordReader::Bytes(std::string_view name) const {
  const FieldSpec& field = FieldOf(file_, name);
  return record_.substr(field.offset, field.width);
}

}  // namespace tarnevos::keldades
