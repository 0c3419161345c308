#ifndef TARNEVOS_PLATFORM_RECORDMANAGER_RECORD_MANAGER_H_
#define TARNEVOS_PLATFORM_RECORDMANAGER_RECORD_MANAGER_H_

#include <cstdint>
#include <memory>

// The record manager: the only way to the data files. One entry point,
// RecordManagerCall, with the operation codes and statuses of the suite's
// record manager. Each data file is one SQLite database.
namespace tarnevos::platform {

constexpr int kPositionBlockSize = 128;

// Operation codes.
enum RecordOperation : int16_t {
  kOpOpen = 0, kOpClose = 1, kOpInsert = 2, kOpUpdate = 3, kOpDelete = 4,
  kOpGetEqual = 5, kOpGetNext = 6, kOpGetPrevious = 7, kOpGetGreater = 8,
  kOpGetGreaterOrEqual = 9, kOpGetLess = 10, kOpGetLessOrEqual = 11,
  kOpGetFirst = 12, kOpGetLast = 13, kOpCreate = 14, kOpStat = 15,
  kOpGetPosition = 22, kOpGetDirect = 23, kOpReset = 28,
};
// Reads may carry a lock bias; they read like the plain operation.
constexpr int16_t kLockBias = 200;

// Statuses.
enum RecordStatus : int16_t {
  kStatusOk = 0, kStatusIoError = 2, kStatusNotOpen = 3,
  kStatusKeyNotFound = 4, kStatusDuplicateKey = 5,
  kStatusInvalidKeyNumber = 6, kStatusInvalidPositioning = 8,
  kStatusEndOfFile = 9, kStatusFileNotFound = 12,
  kStatusBufferTooShort = 22, kStatusNotADataFile = 30,
  kStatusFileExists = 59, kStatusRecordLocked = 84, kStatusFileLocked = 85,
};

class RecordManager {
 public:
  virtual ~RecordManager() = default;
  // position_block: 128 bytes owned by the caller, one per open file.
  // data_length: in = buffer size, out = bytes returned.
  virtual int16_t Call(int16_t operation, uint8_t* position_block,
                       uint8_t* data, uint32_t* data_length, uint8_t* key,
                       uint8_t key_length, int8_t key_number) = 0;
};

// The record manager of the process (the SQLite engine unless replaced).
RecordManager& CurrentRecordManager();
// Installs another one (not owned; tests put a scripted fake here);
// nullptr restores the SQLite engine.
void SetRecordManager(RecordManager* manager);

// The entry point the access layer calls.
int16_t RecordManagerCall(int16_t operation, uint8_t* position_block,
                          uint8_t* data, uint32_t* data_length, uint8_t* key,
                          uint8_t key_length, int8_t key_number);

// A new, independent SQLite engine (its own open files).
std::unique_ptr<RecordManager> MakeSqliteRecordManager();

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_RECORDMANAGER_RECORD_MANAGER_H_
