#ifndef TARNEVOS_PLATFORM_RECORDMANAGER_SQLITE_DATA_FILE_H_
#define TARNEVOS_PLATFORM_RECORDMANAGER_SQLITE_DATA_FILE_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/recordmanager/file_spec.h"
#include "platform/recordmanager/storage.h"

struct sqlite3;
struct sqlite3_stmt;

// One data file as one SQLite database, opened by one connection.
//
// Schema (readable with the sqlite3 shell):
//   datafile(id = 1, spec BLOB, next_position INTEGER)
//   records(position INTEGER PRIMARY KEY, data BLOB, key0 BLOB, key1 BLOB
//           ...) WITHOUT ROWID, with an index records_keyN on (keyN,
//           position) per key.
// keyN holds the record's image of key N, so every keyed read is one seek
// on that index, and duplicates follow each other by position (the order
// they were inserted in). A WITHOUT ROWID table keyed by the position lets
// the index carry the position itself; with a rowid table the duplicates of
// one value cannot be sought by position.
//
// Every read is its own short transaction: no statement stays open between
// calls, because an open statement pins its snapshot, holds back WAL
// checkpoints and, in rollback-journal mode, blocks every writer.
namespace tarnevos::platform {

class DataFile final : public StoredFile {
 public:
  // Opens an existing data file at a native path. Status 0 (and *out set),
  // 12 missing, 30 empty/foreign/damaged, 85 held exclusively elsewhere
  // (or, with `exclusive`, in use elsewhere), 2 other failures. With
  // `exclusive` the file stays locked against every other connection until
  // closed.
  // A file that neither it nor its folder can be written (a read-only
  // installation) is opened for reading only: writes then fail.
  static int16_t Open(const std::string& path, bool exclusive,
                      std::unique_ptr<DataFile>* out);
  // Creates a data file; the file appears complete or not at all. Status 0,
  // 59 exists (without `overwrite`), 85 in use elsewhere (overwrite), 12
  // missing directory, 2 other failures. The file is left closed.
  static int16_t Create(const std::string& path, const FileSpec& spec,
                        bool overwrite);

  ~DataFile() override;
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;

  // The identity of the file at a native path ("device:inode"), empty when
  // there is none.
  static std::string IdentityOfPath(const std::string& path);

  const FileSpec& spec() const override { return spec_; }
  const std::string& identity() const override { return identity_; }
  bool exclusive() const override { return exclusive_; }

  int16_t ReadAt(uint32_t position, std::string* data) override;
  int16_t Find(size_t key, Seek kind, std::string_view image, uint32_t position,
               int limit, RowBatch* rows) override;
  int16_t InsertMany(const uint8_t* records, size_t stride, uint32_t count,
                     uint32_t* failed, uint32_t* last) override;
  int16_t Update(uint32_t position, std::string_view record) override;
  int16_t Delete(uint32_t position) override;
  // Cheap (no system call) while the file is in WAL mode, which is how
  // this engine creates it: the WAL-index header that every commit
  // rewrites is compared in shared memory.
  ChangeStamp Stamp() override;

 private:
  DataFile(sqlite3* db, bool exclusive);
  // Open's work on one way of naming and opening the file (SQLite flags).
  static int16_t OpenAs(const std::string& name, int flags, bool exclusive,
                        const struct stat& info,
                        std::unique_ptr<DataFile>* out);
  int16_t Verify();
  int16_t PrepareStatements();
  void AttachWalHeader();
  sqlite3_stmt* SeekStatement(size_t key, Seek kind);
  int16_t CheckUnique(const std::vector<std::string>& images,
                      uint32_t position);
  int16_t InsertOne(std::string_view record, uint32_t position);
  int16_t NextPosition(uint32_t* position);
  int16_t Begin();
  int16_t Finish(int16_t status);

  sqlite3* db_;
  bool exclusive_;
  FileSpec spec_;
  std::string identity_;
  // The WAL-index header in SQLite's shared memory (nullptr: not in WAL
  // mode, or exclusive); read to notice other processes' commits.
  const volatile uint32_t* wal_header_ = nullptr;
  uint32_t stamp_nonce_ = 0;

  sqlite3_stmt* read_at_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* update_ = nullptr;
  sqlite3_stmt* delete_ = nullptr;
  sqlite3_stmt* next_position_ = nullptr;
  sqlite3_stmt* set_next_position_ = nullptr;
  sqlite3_stmt* begin_ = nullptr;
  sqlite3_stmt* commit_ = nullptr;
  sqlite3_stmt* rollback_ = nullptr;
  sqlite3_stmt* data_version_ = nullptr;
  std::vector<sqlite3_stmt*> unique_;  // per key; null for duplicate keys
  // Per key and kind, prepared on first use.
  std::vector<std::array<sqlite3_stmt*, kSeekKinds>> seek_;
  std::vector<std::string> images_;  // scratch for writes
};

// SQLite's page size for a file whose rows are up to `row_bytes` long: the
// smallest that keeps a row on its page.
int PageSizeForRow(size_t row_bytes);

// The storage of the SQLite engine: one database file per data file, named
// by the suite's path (NativePath).
std::unique_ptr<Storage> MakeSqliteStorage();

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_RECORDMANAGER_SQLITE_DATA_FILE_H_
