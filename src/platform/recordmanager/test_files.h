#ifndef TARNEVOS_PLATFORM_RECORDMANAGER_TEST_FILES_H_
#define TARNEVOS_PLATFORM_RECORDMANAGER_TEST_FILES_H_

// Helpers for the record manager's tests: building creation
// specifications and calling an engine with readable arguments.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/recordmanager/file_spec.h"
#include "platform/recordmanager/record_manager.h"
#include "util/little_endian.h"

namespace tarnevos::platform::record_test {

struct Segment {
  uint16_t position;  // 1-based
  uint16_t length;
  uint16_t flags = 0;
};

// Builds a creation specification: one entry of `keys` per key, each a list
// of segments (the "another segment follows" flag is added here).
inline std::string MakeSpec(
    uint16_t record_length, const std::vector<std::vector<Segment>>& keys,
    const std::array<uint8_t, 256>* collation = nullptr) {
  std::string bytes(16, '\0');
  auto put16 = [&](size_t at, uint16_t value) {
    le::StoreU16(bytes.data() + at, value);
  };
  put16(0, record_length);
  put16(2, 4096);
  put16(4, static_cast<uint16_t>(keys.size()));
  for (const auto& key : keys) {
    for (size_t s = 0; s < key.size(); ++s) {
      size_t at = bytes.size();
      bytes.append(16, '\0');
      uint16_t flags = key[s].flags;
      if (s + 1 < key.size()) flags |= kSegmentContinues;
      put16(at, key[s].position);
      put16(at + 2, key[s].length);
      put16(at + 4, flags);
    }
  }
  if (collation != nullptr) {
    bytes.push_back(static_cast<char>(0xAC));
    bytes.append("UPPER   ");
    bytes.append(reinterpret_cast<const char*>(collation->data()), 256);
  }
  return bytes;
}

// A table that sorts ASCII letters without regard to case.
inline std::array<uint8_t, 256> CaseFoldingTable() {
  std::array<uint8_t, 256> table;
  for (int b = 0; b < 256; ++b) {
    table[b] = static_cast<uint8_t>((b >= 'a' && b <= 'z') ? b - 32 : b);
  }
  return table;
}

struct Reply {
  int16_t status = 0;
  std::string data;  // the bytes returned (data_length of them)
  std::string key;   // the key buffer after the call
};

// One open file of an engine, seen through its position block.
class FileClient {
 public:
  FileClient() { block_.fill(0); }
  explicit FileClient(RecordManager& engine) : engine_(&engine) {
    block_.fill(0);
  }
  // Talks to `engine` from now on (the block is not cleared).
  void Use(RecordManager& engine) { engine_ = &engine; }

  Reply Call(int16_t operation, std::string data, std::string key = "",
             int8_t key_number = 0, uint32_t capacity = 1536) {
    std::vector<uint8_t> data_buffer(std::max<size_t>(capacity, data.size()));
    std::copy(data.begin(), data.end(), data_buffer.begin());
    std::vector<uint8_t> key_buffer(255, 0);
    std::memcpy(key_buffer.data(), key.data(),
                std::min<size_t>(key.size(), 255));
    uint32_t length = capacity;
    uint8_t key_length = static_cast<uint8_t>(
        key.empty() || key.size() > 255 ? 255 : key.size());
    Reply reply;
    reply.status =
        engine_->Call(operation, block_.data(), data_buffer.data(), &length,
                      key_buffer.data(), key_length, key_number);
    reply.data.assign(reinterpret_cast<const char*>(data_buffer.data()),
                      std::min<size_t>(length, data_buffer.size()));
    reply.key.assign(reinterpret_cast<const char*>(key_buffer.data()),
                     key_length);
    return reply;
  }

  int16_t Open(const std::string& path, int8_t mode = 0) {
    return Call(kOpOpen, "1234", path + std::string(1, '\0'), mode).status;
  }
  int16_t Create(const std::string& path, const std::string& spec,
                 int8_t mode = -1) {
    return Call(kOpCreate, spec, path + std::string(1, '\0'), mode,
                static_cast<uint32_t>(spec.size()))
        .status;
  }
  int16_t Insert(const std::string& record, int8_t key_number = 0) {
    return Call(kOpInsert, record, "", key_number,
                static_cast<uint32_t>(record.size()))
        .status;
  }
  // A keyed read with a key value of exactly `key.size()` bytes.
  Reply Get(int16_t operation, const std::string& key, int8_t key_number = 0) {
    return Call(operation, "", key, key_number);
  }
  Reply Step(int16_t operation, int8_t key_number = 0) {
    return Call(operation, "", "", key_number);
  }
  uint32_t Position() {
    Reply reply = Call(kOpGetPosition, "", "", 0, 4);
    if (reply.status != kStatusOk || reply.data.size() != 4) return 0;
    return le::LoadU32(reply.data.data());
  }
  Reply GetDirect(uint32_t position, int8_t key_number = 0) {
    std::string bytes;
    le::AppendU32(bytes, position);
    return Call(kOpGetDirect, bytes, "", key_number);
  }

  uint8_t* block() { return block_.data(); }

 private:
  RecordManager* engine_ = nullptr;
  std::array<uint8_t, kPositionBlockSize> block_;
};

}  // namespace tarnevos::platform::record_test

#endif  // TARNEVOS_PLATFORM_RECORDMANAGER_TEST_FILES_H_
