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
  kOpOpen = 0,
  kOpClose = 1,
  kOpInsert = 2,
  kOpUpdate = 3,
  kOpDelete = 4,
  kOpGetEqual = 5,
  kOpGetNext = 6,
  kOpGetPrevious = 7,
  kOpGetGreater = 8,
  kOpGetGreaterOrEqual = 9,
  kOpGetLess = 10,
  kOpGetLessOrEqual = 11,
  kOpGetFirst = 12,
  kOpGetLast = 13,
  kOpCreate = 14,
  kOpStat = 15,
  kOpGetPosition = 22,
  kOpGetDirect = 23,
  kOpReset = 28,
};
// Reads may carry a lock bias; they read like the plain operation.
constexpr int16_t kLockBias = 200;

// Statuses of the SQLite engine. This is the one table of what each status
// means; README.md ("Record manager statuses") shows the same.
//
//   0  success
//   1  invalid operation: an operation code the engine does not know, or a
//      lock bias on an operation that is not a read
//   2  I/O error: SQLite failed (disk full, unreadable page, a file damaged
//      after it was opened), or no position block was given to open;
//      create: the creation specification is inconsistent (record length 0
//      or over 1536, no keys or more than 24, more than 119 segments, a
//      segment of length 0 or outside the record, a key longer than 255
//      bytes, a buffer shorter than its own layout) or the file could not be
//      written; insert: the file has used up its 2^32 - 1 positions
//   3  file not open: the position block names no file open in this engine
//      (never opened, closed, reset, garbage, from another engine or from
//      before a fork)
//   4  key not found: get equal found no record with that key value
//   5  duplicate key: insert or update would give a key without the
//      duplicates flag a value that another record already has
//   6  invalid key number: not a key of the file
//   8  invalid positioning: get next/previous before any record was read;
//      update, delete or get position without a current record (also after
//      it was deleted); get direct of a position that holds no record
//   9  end of file: get next/previous found no further record, get greater
//      (or equal), less (or equal), first or last found none; the current
//      record stays as it was
//  12  file not found: open of a missing file, a missing directory (open or
//      create), an empty file name
//  22  data buffer too short: a read returned only the first data_length
//      bytes (the read still happened and made the record current); insert
//      or update got fewer bytes than the record length (nothing written);
//      get direct got fewer than 4 bytes
//  30  not a data file: open of an empty, foreign or damaged file
//  59  file exists: create with key number -1 on an existing file
//  84  record locked: a write found another process writing the file
//  85  file locked: another process holds the file exclusively (at open or
//      read), or an exclusive open found the file in use; create would
//      overwrite a file that is open
enum RecordStatus : int16_t {
  kStatusOk = 0,
  kStatusInvalidOperation = 1,
  kStatusIoError = 2,
  kStatusNotOpen = 3,
  kStatusKeyNotFound = 4,
  kStatusDuplicateKey = 5,
  kStatusInvalidKeyNumber = 6,
  kStatusInvalidPositioning = 8,
  kStatusEndOfFile = 9,
  kStatusFileNotFound = 12,
  kStatusBufferTooShort = 22,
  kStatusNotADataFile = 30,
  kStatusFileExists = 59,
  kStatusRecordLocked = 84,
  kStatusFileLocked = 85,
};

// The record manager's calls. Every read (get equal ... get last, get
// direct) returns the record in the data buffer (data_length = bytes
// returned), the record's value of the current key in the key buffer (at
// most key_length bytes) and makes it the current record of the position
// block. Key values in the key buffer are read as key_length bytes followed
// by zero bytes up to the key's length.
//
//   open (0)      key buffer: file name, NUL-terminated; key number 0 normal,
//                 -4 exclusive (other processes get 85 until it is closed).
//   close (1)     the file of the position block.
//   insert (2)    the record from the data buffer; it becomes current on the
//                 given key number; its key value is returned.
//   update (3)    the current record from the data buffer; delete (4) the
//                 current record (a following get next/previous continues
//                 from where it was).
//   create (14)   key buffer: file name; data buffer: the creation
//                 specification; key number -1: fail with 59 if the file
//                 exists, otherwise overwrite it. The file is not left open.
//   stat (15)     the creation specification back in the data buffer.
//   get position (22)  the current record's position, 4 bytes little-endian.
//   get direct (23)    data buffer starts with a position: reads that record
//                      and makes it current on the given key number.
//   reset (28)    closes every file of this engine.
class RecordManager {
 public:
  virtual ~RecordManager() = default;
  // position_block: 128 bytes owned by the caller, one per open file.
  // data_length: in = buffer size, out = bytes returned.
  virtual int16_t Call(int16_t operation, uint8_t* position_block,
                       uint8_t* data, uint32_t* data_length, uint8_t* key,
                       uint8_t key_length, int8_t key_number) = 0;

  // Loads many records at once: `count` records of `record_size` bytes laid
  // out one after another in `records`, into the file open on
  // position_block. The SQLite engine writes them in one transaction, all or
  // nothing; on failure it returns the status of the record that failed and
  // sets *failed_index (when not null) to its index. The last record becomes
  // current on key_number. This default makes one insert call per record and
  // stops at the first failure, keeping the records before it.
  virtual int16_t InsertMany(uint8_t* position_block, const uint8_t* records,
                             uint32_t record_size, uint32_t count,
                             int8_t key_number, uint32_t* failed_index);
};

// The record manager of the process (the SQLite engine unless replaced).
// Not thread-safe: the program calls it from one thread.
RecordManager& CurrentRecordManager();
// Installs another one (not owned; tests put a scripted fake here);
// nullptr restores the SQLite engine.
void SetRecordManager(RecordManager* manager);
// Restores the process's SQLite engine and closes every file it has open.
void TEST_ResetRecordManager();

// The entry point the access layer calls.
int16_t RecordManagerCall(int16_t operation, uint8_t* position_block,
                          uint8_t* data, uint32_t* data_length, uint8_t* key,
                          uint8_t key_length, int8_t key_number);

// A new, independent SQLite engine (its own open files). Files opened before
// a fork are not usable in the child (status 3); open them again there.
std::unique_ptr<RecordManager> MakeSqliteRecordManager();

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_RECORDMANAGER_RECORD_MANAGER_H_
