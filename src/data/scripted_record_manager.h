#ifndef TARNEVOS_DATA_SCRIPTED_RECORD_MANAGER_H_
#define TARNEVOS_DATA_SCRIPTED_RECORD_MANAGER_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/recordmanager/record_manager.h"
#include "util/little_endian.h"

// A record manager for the data module's tests: it records every call and
// answers from a script of replies per operation code. Stat (15) answers
// with the statistics buffer set by the test.
namespace tarnevos::testing {

class ScriptedRecordManager : public platform::RecordManager {
 public:
  struct Reply {
    int16_t status = 0;
    std::optional<std::string> data;  // copied to the data buffer
    // Returned data length; defaults to data->size() when data is given,
    // else the length passed in is left as it was.
    std::optional<uint32_t> data_length;
    std::optional<std::string> key;  // copied to the key buffer
  };
  struct CallRecord {
    int16_t operation = 0;
    std::string data;  // the data buffer's first data_length bytes
    uint32_t data_length = 0;
    std::string key;  // the key buffer's first 255 bytes
    uint8_t key_length = 0;
    int8_t key_number = 0;
    std::string position_block;
  };

  ScriptedRecordManager() { platform::SetRecordManager(this); }
  ~ScriptedRecordManager() override { platform::SetRecordManager(nullptr); }
  ScriptedRecordManager(const ScriptedRecordManager&) = delete;
  ScriptedRecordManager& operator=(const ScriptedRecordManager&) = delete;

  void Queue(int16_t operation, Reply reply) {
    script_[operation].push_back(std::move(reply));
  }
  void QueueStatus(int16_t operation, int16_t status) {
    Queue(operation, Reply{status});
  }
  void SetStatistics(std::string statistics) {
    statistics_ = std::move(statistics);
  }
  // Runs before each call is answered (to look at the screen meanwhile).
  void OnCall(std::function<void(const CallRecord&)> hook) {
    hook_ = std::move(hook);
  }

  int16_t Call(int16_t operation, uint8_t* position_block, uint8_t* data,
               uint32_t* data_length, uint8_t* key, uint8_t key_length,
               int8_t key_number) override {
    CallRecord record;
    record.operation = operation;
    record.data_length = *data_length;
    record.data.assign(reinterpret_cast<char*>(data), *data_length);
    record.key.assign(reinterpret_cast<char*>(key), 255);
    record.key_length = key_length;
    record.key_number = key_number;
    record.position_block.assign(reinterpret_cast<char*>(position_block),
                                 platform::kPositionBlockSize);
    calls.push_back(record);
    if (hook_) hook_(record);

    if (operation == platform::kOpStat && script_[operation].empty()) {
      size_t count = std::min<size_t>(statistics_.size(), *data_length);
      std::memcpy(data, statistics_.data(), count);
      *data_length = static_cast<uint32_t>(count);
      return 0;
    }
    auto& queue = script_[operation];
    if (queue.empty()) return 0;
    Reply reply = queue.front();
    queue.pop_front();
    if (reply.data) {
      // Like any record manager it never writes past the buffer's length;
      // the length it reports may still claim more.
      std::memcpy(data, reply.data->data(),
                  std::min<size_t>(reply.data->size(), record.data_length));
      *data_length = static_cast<uint32_t>(reply.data->size());
    }
    if (reply.data_length) *data_length = *reply.data_length;
    if (reply.key) std::memcpy(key, reply.key->data(), reply.key->size());
    return reply.status;
  }

  // The calls of one operation, in order.
  std::vector<CallRecord> CallsOf(int16_t operation) const {
    std::vector<CallRecord> found;
    for (const CallRecord& call : calls) {
      if (call.operation == operation) found.push_back(call);
    }
    return found;
  }
  // Operation codes of every call except Stat, in order.
  std::vector<int16_t> Operations() const {
    std::vector<int16_t> found;
    for (const CallRecord& call : calls) {
      if (call.operation != platform::kOpStat) found.push_back(call.operation);
    }
    return found;
  }

  std::vector<CallRecord> calls;

 private:
  std::map<int16_t, std::deque<Reply>> script_;
  std::string statistics_;
  std::function<void(const CallRecord&)> hook_;
};

// A statistics buffer: record length, number of keys, then segments given
// as (length, flags); an optional collating table follows them.
inline std::string MakeStatistics(
    uint16_t record_length, uint16_t number_of_keys,
    const std::vector<std::pair<uint16_t, uint16_t>>& segments,
    const std::string& collating_sequence = "") {
  std::string stat(16 + 16 * segments.size(), '\0');
  auto put = [&stat](size_t at, uint16_t value) {
    le::StoreU16(stat.data() + at, value);
  };
  put(0, record_length);
  put(2, 4096);
  put(4, number_of_keys);
  uint16_t position = 1;
  for (size_t s = 0; s < segments.size(); ++s) {
    put(16 + 16 * s, position);
    put(16 + 16 * s + 2, segments[s].first);
    put(16 + 16 * s + 4, segments[s].second);
    position = static_cast<uint16_t>(position + segments[s].first);
  }
  return stat + collating_sequence;
}

}  // namespace tarnevos::testing

#endif  // TARNEVOS_DATA_SCRIPTED_RECORD_MANAGER_H_
