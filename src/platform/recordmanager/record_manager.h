#ifndef TARNEVOS_PLATFORM_RECORDMANAGER_RECORD_MANAGER_H_
#define TARNEVOS_PLATFORM_RECORDMANAGER_RECORD_MANAGER_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The record manager: the only way to the data files. One entry point,
// RecordManagerCall, with the operation codes and statuses of the suite's
// record manager. Two engines answer it with the same operations, statuses
// and semantics: by default each data file is one SQLite database; an
// installation that names a server keeps every data file as tables on a
// PostgreSQL server (postgres_storage.h).
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

// Statuses of both engines. This is the one table of what each status
// means; README.md ("Record manager statuses") shows the same.
//
//   0  success
//   1  invalid operation: an operation code the engine does not know, or a
//      lock bias on an operation that is not a read
//   2  I/O error: SQLite or the server failed (disk full, unreadable page, a
//      file damaged after it was opened, a statement the server refused),
//      or no position block was given to open;
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
//  20  server unreachable (server engine): no connection could be made to
//      the server the installation names (not running, refused, timed out,
//      authentication failed, an invalid connection string or schema)
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
//  95  connection lost (server engine): the server stopped, dropped the
//      connection or did not answer in time; every file opened on that
//      connection answers 95 until it is opened again (the next open
//      connects anew)
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
  kStatusServerUnreachable = 20,
  kStatusBufferTooShort = 22,
  kStatusNotADataFile = 30,
  kStatusFileExists = 59,
  kStatusRecordLocked = 84,
  kStatusFileLocked = 85,
  kStatusConnectionLost = 95,
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
// A file that takes the place of another (RecordManager::ReplaceFiles).
struct FileMove {
  std::string from;
  std::string to;
};

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

  // Forgets what was read ahead or kept from earlier reads, so that the
  // following reads see every change that another connection committed
  // before this call. The SQLite engine notices other commits at once and
  // needs no such call; the server engine learns of them by notification,
  // which may arrive a little after the commit (docs/server.md).
  virtual void Refresh() {}

  // The data tool's maintenance of whole files, beside the call interface;
  // names as for open. These defaults answer 1 (not supported).
  // Removes a data file: 0, 12 missing, 85 open here or elsewhere, 2, 20.
  virtual int16_t RemoveFile(const std::string& name);
  // Puts each `from` file in the place of its `to` file, replacing the file
  // there if any. The server engine moves all of them in one transaction,
  // so that either every `to` is replaced or none; the SQLite engine renames
  // one file after another (the data tool replaces a set of SQLite files by
  // exchanging folders instead: keldades/file_set.h). 0, 12 a `from` is
  // missing, 85 a file involved is open (here or elsewhere), 2, 20, 95 the
  // connection went during the transaction (which may have committed).
  virtual int16_t ReplaceFiles(const std::vector<FileMove>& moves);
};

// The PostgreSQL server an installation keeps its data files on.
struct ServerSettings {
  // A libpq connection string ("host=... dbname=...", "service=kel", a
  // postgresql:// URI); a value without "=" or "://" names a service.
  std::string connection;
  // The schema holding the installation's tables: letters, digits and "_",
  // not starting with a digit, at most 63; folded to lower case. Empty:
  // kDefaultSchema.
  std::string schema;
  // The installation's root directory as the program spells it; a data
  // file's table is named by its path below it.
  std::string root;

  bool operator==(const ServerSettings&) const = default;
};
constexpr const char* kDefaultSchema = "tarnevos";

// The record manager of the process (the SQLite engine unless replaced).
// Not thread-safe: the program calls it from one thread.
RecordManager& CurrentRecordManager();
// Installs another one (not owned; tests put a scripted fake here);
// nullptr restores the process's own engine.
void SetRecordManager(RecordManager* manager);
// Chooses the process's own engine: the SQLite files (nullopt) or a server.
// Choosing what is already chosen keeps it (and its open files); otherwise
// the previous engine closes everything it has open.
void SelectProcessEngine(const std::optional<ServerSettings>& server);
// Restores the process's SQLite engine and closes every file it has open.
void TEST_ResetRecordManager();

// The entry point the access layer calls.
int16_t RecordManagerCall(int16_t operation, uint8_t* position_block,
                          uint8_t* data, uint32_t* data_length, uint8_t* key,
                          uint8_t key_length, int8_t key_number);

// A new, independent SQLite engine (its own open files). Files opened before
// a fork are not usable in the child (status 3); open them again there.
std::unique_ptr<RecordManager> MakeSqliteRecordManager();

// A new, independent server engine with its own connection, made at the
// first open (so a server that cannot be reached shows as status 20 there).
// Files opened before a fork are not usable in the child (status 3).
std::unique_ptr<RecordManager> MakePostgresRecordManager(
    const ServerSettings& server);

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_RECORDMANAGER_RECORD_MANAGER_H_
