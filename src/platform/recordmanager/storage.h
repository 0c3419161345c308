#ifndef TARNEVOS_PLATFORM_RECORDMANAGER_STORAGE_H_
#define TARNEVOS_PLATFORM_RECORDMANAGER_STORAGE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/recordmanager/file_spec.h"
#include "platform/recordmanager/record_manager.h"

// Where an engine's data files live. The engine (engine.h) is the same for
// every storage: position blocks, the open-file table, the read-ahead of key
// paths and the cache of get-equal answers. A storage only opens and creates
// files and, per open file, reads a record by position, fetches a stretch of
// a key path, writes, and tells whether another connection has committed.
// Two storages exist: SQLite databases on disk (sqlite_data_file.h) and
// tables on a PostgreSQL server (postgres_storage.h).
namespace tarnevos::platform {

// One record as read from a file: its position, its bytes and the image of
// the key it was found by (empty when read by position).
struct StoredRecord {
  uint32_t position = 0;
  std::string data;
  std::string image;
};

// The rows one Find returned: the first `size` of `rows`. The rows past it
// keep their strings so that the next batch reuses their memory.
struct RowBatch {
  std::vector<StoredRecord> rows;
  size_t size = 0;

  bool empty() const { return size == 0; }
  const StoredRecord& operator[](size_t index) const { return rows[index]; }
  // The next row to fill (appended when the batch has none left).
  StoredRecord& Next() {
    if (size == rows.size()) rows.emplace_back();
    return rows[size++];
  }
};

enum class Seek {
  kEqual,           // first record whose image equals
  kGreater,         // first record whose image is greater
  kGreaterOrEqual,  // first record whose image is greater or equal
  kLess,            // last record whose image is less
  kLessOrEqual,     // last record whose image is less or equal
  kFirst,           // first record in key order
  kLast,            // last record in key order
  kAfter,           // records after (image, position), ascending
  kBefore,          // records before (image, position), descending
};
constexpr int kSeekKinds = 9;

// What identifies a committed state of a file as seen by other connections:
// equal stamps taken at two moments mean that, as far as the storage can
// tell, no other connection committed in between (writes through this
// connection are not included; the engine forgets its caches itself).
struct ChangeStamp {
  std::array<uint32_t, 12> words{};
  bool operator==(const ChangeStamp&) const = default;
};

// How much the engine reads ahead along a key path on a storage: the first
// batch after a seek, and the most rows and bytes one batch may hold. A
// storage whose every statement is a round trip to a server reads more.
struct ReadAheadLimits {
  int first_rows = 8;
  int max_rows = 1024;
  size_t max_bytes = 256 * 1024;
};

// One data file opened by a storage. Statuses are the record manager's
// (record_manager.h).
class StoredFile {
 public:
  virtual ~StoredFile() = default;

  virtual const FileSpec& spec() const = 0;
  // Equal for two opens of the same file, different for different files.
  virtual const std::string& identity() const = 0;
  virtual bool exclusive() const = 0;

  // The record at a position: 0, 8 (no such record), 2, 85, 95.
  virtual int16_t ReadAt(uint32_t position, std::string* data) = 0;
  // Looks up records of key `key` (which must be valid), up to `limit` of
  // them in key order from the first one found: kAfter and kBefore start
  // after/before (image, position), going up or down; kEqual, kGreater,
  // kGreaterOrEqual and kFirst go up from the record they find (kEqual only
  // over records with that image); kLess, kLessOrEqual and kLast go down.
  // Only kAfter and kBefore use `position`. The records are appended to
  // `rows` (a storage may give fewer than `limit`, or more when it has
  // them at hand). Status 0 (none may have been found), 2, 85, 95; on a
  // failure `rows` is as it was.
  virtual int16_t Find(size_t key, Seek kind, std::string_view image,
                       uint32_t position, int limit, RowBatch* rows) = 0;

  // Writes; each is one transaction. Records are exactly record-length
  // bytes. Status 0, 5 duplicate key, 8 (update/delete: no such record),
  // 84 another connection is writing the file, 2, 95.
  // Inserts `count` records, `stride` bytes apart, all or nothing; on
  // failure *failed is the index of the record that failed. *last is the
  // position given to the last record.
  virtual int16_t InsertMany(const uint8_t* records, size_t stride,
                             uint32_t count, uint32_t* failed,
                             uint32_t* last) = 0;
  virtual int16_t Update(uint32_t position, std::string_view record) = 0;
  virtual int16_t Delete(uint32_t position) = 0;

  // The file's change stamp now; cheap enough to take before every use of
  // a cache (no round trip, no lock).
  virtual ChangeStamp Stamp() = 0;
  // Forgets whatever the storage itself read before it was needed, so that
  // the next reads see every commit made before this call.
  virtual void Refresh() {}
};

// Opens and creates the files of one engine. File names are what the
// caller put in the key buffer (the suite's paths).
class Storage {
 public:
  virtual ~Storage() = default;

  // Opens an existing file. Status 0 (and *out set), 12 missing, 30 not a
  // data file, 85 held exclusively elsewhere (or, with `exclusive`, open
  // elsewhere), 2, 20 server unreachable.
  virtual int16_t Open(const std::string& name, bool exclusive,
                       std::unique_ptr<StoredFile>* out) = 0;
  // Creates a file, which appears complete or not at all and is left
  // closed. Status 0, 59 exists (without `overwrite`), 85 open elsewhere
  // (overwrite), 12 no such place, 2, 20.
  virtual int16_t Create(const std::string& name, const FileSpec& spec,
                         bool overwrite) = 0;
  // The identity (StoredFile::identity) of the file a name denotes; empty
  // when there is none.
  virtual std::string IdentityOf(const std::string& name) = 0;
  // The data tool's maintenance: see RecordManager::RemoveFile and
  // ReplaceFiles. Files open through this storage's own engine are checked
  // by the engine before these are called.
  virtual int16_t Remove(const std::string& name) = 0;
  virtual int16_t Replace(const std::vector<FileMove>& moves) = 0;

  virtual ReadAheadLimits Limits() const = 0;
  // In a child process after fork(): give up every connection without
  // closing it (it belongs to the parent) and start afresh.
  virtual void Abandon() = 0;
};

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_RECORDMANAGER_STORAGE_H_
