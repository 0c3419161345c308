#include "platform/recordmanager/record_manager.h"

#include <vector>

namespace tarnevos::platform {
namespace {

// The process's own engine and what it was made for (nullopt: files).
struct ProcessChoice {
  std::unique_ptr<RecordManager> engine;
  std::optional<ServerSettings> server;
};

ProcessChoice& Choice() {
  static ProcessChoice choice{MakeSqliteRecordManager(), std::nullopt};
  return choice;
}

RecordManager& ProcessEngine() { return *Choice().engine; }

RecordManager* installed = nullptr;

}  // namespace

int16_t RecordManager::RemoveFile(const std::string&) {
  return kStatusInvalidOperation;
}

int16_t RecordManager::ReplaceFiles(const std::vector<FileMove>&) {
  return kStatusInvalidOperation;
}

int16_t RecordManager::InsertMany(uint8_t* position_block,
                                  const uint8_t* records, uint32_t record_size,
                                  uint32_t count, int8_t key_number,
                                  uint32_t* failed_index) {
  if (failed_index != nullptr) *failed_index = 0;
  std::vector<uint8_t> record(record_size);
  std::vector<uint8_t> key(255);
  for (uint32_t i = 0; i < count; ++i) {
    if (record_size > 0) {
      std::copy(records + static_cast<size_t>(i) * record_size,
                records + static_cast<size_t>(i + 1) * record_size,
                record.begin());
    }
    uint32_t length = record_size;
    int16_t status =
        Call(kOpInsert, position_block, record.data(), &length, key.data(),
             static_cast<uint8_t>(key.size()), key_number);
    if (status != kStatusOk) {
      if (failed_index != nullptr) *failed_index = i;
      return status;
    }
  }
  return kStatusOk;
}

RecordManager& CurrentRecordManager() {
  return installed != nullptr ? *installed : ProcessEngine();
}

void SetRecordManager(RecordManager* manager) { installed = manager; }

void SelectProcessEngine(const std::optional<ServerSettings>& server) {
  ProcessChoice& choice = Choice();
  if (choice.server == server) return;
  // The old engine goes first, so that its files are closed (and a
  // server's locks released) before the new one opens anything.
  choice.engine.reset();
  choice.engine =
      server ? MakePostgresRecordManager(*server) : MakeSqliteRecordManager();
  choice.server = server;
}

void TEST_ResetRecordManager() {
  installed = nullptr;
  SelectProcessEngine(std::nullopt);
  uint8_t block[kPositionBlockSize] = {};
  uint32_t length = 0;
  ProcessEngine().Call(kOpReset, block, nullptr, &length, nullptr, 0, 0);
}

int16_t RecordManagerCall(int16_t operation, uint8_t* position_block,
                          uint8_t* data, uint32_t* data_length, uint8_t* key,
                          uint8_t key_length, int8_t key_number) {
  return CurrentRecordManager().Call(operation, position_block, data,
                                     data_length, key, key_length, key_number);
}

}  // namespace tarnevos::platform
