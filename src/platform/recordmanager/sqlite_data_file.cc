#include "platform/recordmanager/sqlite_data_file.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/recordmanager/engine.h"
#include "platform/recordmanager/record_manager.h"
#include "platform/system/paths.h"

namespace tarnevos::platform {
namespace {

// Marks the databases of this engine (PRAGMA application_id, "TVRM") and
// the version of their schema (PRAGMA user_version).
constexpr int kApplicationId = 0x5456524D;
constexpr int kSchemaVersion = 1;
// Waiting for a lock held by another process is the caller's business (it
// gets 84 or 85 and decides); this only rides out momentary contention.
constexpr int kBusyTimeoutMs = 20;
constexpr int kCacheKibibytes = 8192;
constexpr uint32_t kWalIndexVersion = 3007000;
constexpr int kShmRegionSize = 32768;

sqlite3_stmt* Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT,
                         &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  return statement;
}

// Resets a statement when leaving the scope, which ends its read
// transaction (a statement left stepped would keep the snapshot).
class ResetOnExit {
 public:
  explicit ResetOnExit(sqlite3_stmt* statement) : statement_(statement) {}
  ~ResetOnExit() { sqlite3_reset(statement_); }
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;

 private:
  sqlite3_stmt* statement_;
};

int16_t ReadFailure(int rc) {
  int primary = rc & 0xFF;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    return kStatusFileLocked;
  }
  return kStatusIoError;
}

int16_t WriteFailure(int rc) {
  int primary = rc & 0xFF;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    return kStatusRecordLocked;
  }
  return kStatusIoError;
}

// At open, anything that says "this is no database" means not a data file.
int16_t OpenFailure(int rc) {
  int primary = rc & 0xFF;
  if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT ||
      primary == SQLITE_ERROR || primary == SQLITE_FORMAT ||
      primary == SQLITE_RANGE || primary == SQLITE_SCHEMA) {
    return kStatusNotADataFile;
  }
  return ReadFailure(rc);
}

void BindBlob(sqlite3_stmt* statement, int index, std::string_view bytes) {
  // A non-null pointer keeps an empty blob a blob (null would bind NULL).
  static const char kEmpty = 0;
  sqlite3_bind_blob(statement, index, bytes.empty() ? &kEmpty : bytes.data(),
                    static_cast<int>(bytes.size()), SQLITE_STATIC);
}

std::string_view ColumnBlob(sqlite3_stmt* statement, int column) {
  const void* bytes = sqlite3_column_blob(statement, column);
  int size = sqlite3_column_bytes(statement, column);
  if (bytes == nullptr || size <= 0) return {};
  return {static_cast<const char*>(bytes), static_cast<size_t>(size)};
}

// A stored position outside 1 ... 2^32-1 can only come from a damaged file.
bool ColumnPosition(sqlite3_stmt* statement, int column, uint32_t* position) {
  sqlite3_int64 value = sqlite3_column_int64(statement, column);
  if (value < 1 || value > 0xFFFFFFFFLL) return false;
  *position = static_cast<uint32_t>(value);
  return true;
}

std::string KeyColumn(size_t key) { return "key" + std::to_string(key); }

std::string SeekSql(size_t key, Seek kind) {
  std::string column = KeyColumn(key);
  std::string select = "SELECT position, data, " + column + " FROM records ";
  std::string up = " ORDER BY " + column + ", position";
  std::string down = " ORDER BY " + column + " DESC, position DESC";
  // ?1 the image, ?2 the position, ?3 the number of rows; a statement
  // leaves out what its kind does not use.
  const std::string limit = " LIMIT ?3";
  switch (kind) {
    case Seek::kEqual:
      return select + "WHERE " + column + " = ?1" + up + limit;
    case Seek::kGreater:
      return select + "WHERE " + column + " > ?1" + up + limit;
    case Seek::kGreaterOrEqual:
      return select + "WHERE " + column + " >= ?1" + up + limit;
    case Seek::kLess:
      return select + "WHERE " + column + " < ?1" + down + limit;
    case Seek::kLessOrEqual:
      return select + "WHERE " + column + " <= ?1" + down + limit;
    case Seek::kFirst:
      return select + up + limit;
    case Seek::kLast:
      return select + down + limit;
    case Seek::kAfter:
      return select + "WHERE (" + column + ", position) > (?1, ?2)" + up +
             limit;
    case Seek::kBefore:
      return select + "WHERE (" + column + ", position) < (?1, ?2)" + down +
             limit;
  }
  return {};
}

std::string SchemaSql(const FileSpec& spec) {
  std::string sql =
      "CREATE TABLE datafile(id INTEGER PRIMARY KEY CHECK (id = 1), "
      "spec BLOB NOT NULL, next_position INTEGER NOT NULL);"
      "CREATE TABLE records(position INTEGER PRIMARY KEY, data BLOB NOT NULL";
  for (size_t key = 0; key < spec.keys.size(); ++key) {
    sql += ", " + KeyColumn(key) + " BLOB NOT NULL";
  }
  sql += ") WITHOUT ROWID;";
  for (size_t key = 0; key < spec.keys.size(); ++key) {
    sql += "CREATE INDEX records_" + KeyColumn(key) + " ON records(" +
           KeyColumn(key) + ", position);";
  }
  return sql;
}

size_t RowBytes(const FileSpec& spec) {
  size_t bytes = spec.record_length + 16;
  for (const KeySpec& key : spec.keys) bytes += key.length + 2u;
  return bytes;
}

void RemoveCompanions(const std::string& path) {
  // Journals left by a database that no longer exists would be replayed
  // into a new file of the same name.
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    ::unlink((path + suffix).c_str());
  }
}

// Writes a complete new database at `path` (which must not exist).
int16_t BuildFile(const std::string& path, const FileSpec& spec) {
  // Made here, empty, with 0666 less the user's umask (SQLite would give a
  // new file 0644 whatever the umask); the journals get the same mode. An
  // office that shares its files by group sets a umask of 002.
  const int fd = ::open(
      path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? kStatusFileNotFound
                                                 : kStatusIoError;
  }
  ::close(fd);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(
      path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    ::unlink(path.c_str());
    return kStatusIoError;
  }
  std::string sql =
      "PRAGMA page_size = " + std::to_string(PageSizeForRow(RowBytes(spec))) +
      "; PRAGMA journal_mode = WAL; PRAGMA application_id = " +
      std::to_string(kApplicationId) +
      "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + "; BEGIN;" +
      SchemaSql(spec);
  rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_stmt* insert = Prepare(
        db, "INSERT INTO datafile(id, spec, next_position) VALUES (1, ?1, 1)");
    if (insert == nullptr) {
      rc = SQLITE_ERROR;
    } else {
      BindBlob(insert, 1, spec.bytes);
      rc = sqlite3_step(insert) == SQLITE_DONE ? SQLITE_OK : SQLITE_ERROR;
      sqlite3_finalize(insert);
    }
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  // Closing the last connection checkpoints the WAL into the file.
  if (sqlite3_close(db) != SQLITE_OK) rc = SQLITE_ERROR;
  if (rc != SQLITE_OK) {
    ::unlink(path.c_str());
    RemoveCompanions(path);
    return kStatusIoError;
  }
  return kStatusOk;
}

// Moves a finished new file to a name that must not exist yet. link() fails
// when the name exists, so two processes creating the same file cannot
// both succeed.
int16_t PlaceNewFile(const std::string& built, const std::string& path) {
  RemoveCompanions(path);
  int16_t status = kStatusOk;
  if (::link(built.c_str(), path.c_str()) != 0) {
    if (errno == EEXIST) {
      status = kStatusFileExists;
    } else if (::access(path.c_str(), F_OK) == 0) {
      status = kStatusFileExists;
    } else if (::rename(built.c_str(), path.c_str()) != 0) {
      status = kStatusIoError;
    }
  }
  ::unlink(built.c_str());
  return status;
}

}  // namespace

int PageSizeForRow(size_t row_bytes) {
  // Largest payload SQLite keeps on an index b-tree page of size P
  // (a WITHOUT ROWID table is one): (P - 12) * 64 / 255 - 23.
  for (int page = 4096; page < 65536; page *= 2) {
    if (row_bytes <= static_cast<size_t>((page - 12) * 64 / 255 - 23)) {
      return page;
    }
  }
  return 65536;
}

DataFile::DataFile(sqlite3* db, bool exclusive)
    : db_(db), exclusive_(exclusive) {}

DataFile::~DataFile() {
  for (auto& kinds : seek_) {
    for (sqlite3_stmt* statement : kinds) sqlite3_finalize(statement);
  }
  for (sqlite3_stmt* statement : unique_) sqlite3_finalize(statement);
  for (sqlite3_stmt* statement :
       {read_at_, insert_, update_, delete_, next_position_, set_next_position_,
        begin_, commit_, rollback_, data_version_}) {
    sqlite3_finalize(statement);
  }
  sqlite3_close(db_);
}

namespace {

// "file:" URI of a path, for SQLite's URI parameters.
std::string FileUri(const std::string& path) {
  std::string uri = "file:";
  for (unsigned char c : path) {
    if (c == '%' || c == '?' || c == '#' || c < 32 || c >= 127) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    } else {
      uri += static_cast<char>(c);
    }
  }
  return uri;
}

// True when this process may change the file and create its journals
// beside it.
bool Writable(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : path.substr(0, slash + 1);
  return ::access(path.c_str(), W_OK) == 0 &&
         ::access(folder.c_str(), W_OK) == 0;
}

}  // namespace

int16_t DataFile::Open(const std::string& path, bool exclusive,
                       std::unique_ptr<DataFile>* out) {
  if (path.empty()) return kStatusFileNotFound;
  // Only stat() here: opening the file outside SQLite and closing it again
  // would drop the POSIX locks SQLite holds on it for other connections of
  // this process.
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? kStatusFileNotFound
                                                 : kStatusIoError;
  }
  if (!S_ISREG(info.st_mode) || info.st_size == 0) return kStatusNotADataFile;
  const int16_t status =
      OpenAs(path, SQLITE_OPEN_READWRITE, exclusive, info, out);
  if (status == kStatusOk || status == kStatusNotADataFile || exclusive ||
      Writable(path)) {
    return status;
  }
  // A read-only installation (a read-only share, a CD): read only, sharing
  // the journal of the writers when it can be read, or else taking the
  // file as it is, which nobody can change meanwhile.
  if (OpenAs(path, SQLITE_OPEN_READONLY, false, info, out) == kStatusOk) {
    return kStatusOk;
  }
  return OpenAs(FileUri(path) + "?immutable=1",
                SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, false, info, out);
}

int16_t DataFile::OpenAs(const std::string& name, int flags, bool exclusive,
                         const struct stat& info,
                         std::unique_ptr<DataFile>* out) {
  sqlite3* db = nullptr;
  int rc =
      sqlite3_open_v2(name.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  std::unique_ptr<DataFile> file(new DataFile(db, exclusive));
  if (rc != SQLITE_OK) return kStatusIoError;
  file->identity_ =
      std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // The locking mode must be set before the first read; the other
  // settings only once the file is known to be ours (a pragma may read the
  // schema).
  if (exclusive) {
    rc = sqlite3_exec(db, "PRAGMA locking_mode = EXCLUSIVE", nullptr, nullptr,
                      nullptr);
    if (rc != SQLITE_OK) return OpenFailure(rc);
  }
  int16_t status = file->Verify();
  if (status == kStatusOk) {
    std::string settings =
        "PRAGMA synchronous = NORMAL; PRAGMA cache_size = -" +
        std::to_string(kCacheKibibytes);
    rc = sqlite3_exec(db, settings.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) status = OpenFailure(rc);
  }
  if (status == kStatusOk) status = file->PrepareStatements();
  if (status == kStatusOk && exclusive) {
    // Takes the file's exclusive lock now and keeps it until closed.
    rc =
        sqlite3_exec(db, "BEGIN EXCLUSIVE; COMMIT;", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      status = ReadFailure(rc);
    }
  }
  if (status != kStatusOk) return status;
  file->AttachWalHeader();
  *out = std::move(file);
  return kStatusOk;
}

int16_t DataFile::Verify() {
  auto read_int = [&](const char* sql, sqlite3_int64* value) -> int16_t {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr);
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(statement);
      if (rc == SQLITE_ROW) *value = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    return rc == SQLITE_ROW ? int16_t{kStatusOk} : OpenFailure(rc);
  };
  sqlite3_int64 application_id = 0;
  sqlite3_int64 version = 0;
  int16_t status = read_int("PRAGMA application_id", &application_id);
  if (status == kStatusOk) status = read_int("PRAGMA user_version", &version);
  if (status != kStatusOk) return status;
  if (application_id != kApplicationId || version != kSchemaVersion) {
    return kStatusNotADataFile;
  }
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db_, "SELECT spec FROM datafile WHERE id = 1", -1,
                              &statement, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(statement);
  std::optional<FileSpec> spec;
  if (rc == SQLITE_ROW) spec = ParseFileSpec(ColumnBlob(statement, 0));
  sqlite3_finalize(statement);
  if (rc != SQLITE_ROW) {
    return rc == SQLITE_DONE ? int16_t{kStatusNotADataFile} : OpenFailure(rc);
  }
  if (!spec) return kStatusNotADataFile;
  spec_ = std::move(*spec);
  // Every key needs its index, or its reads would become scans.
  rc = sqlite3_prepare_v2(db_,
                          "SELECT count(*) FROM sqlite_schema WHERE type = "
                          "'index' AND tbl_name = 'records' AND name = "
                          "'records_' || ?1",
                          -1, &statement, nullptr);
  for (size_t key = 0; rc == SQLITE_OK && key < spec_.keys.size(); ++key) {
    std::string column = KeyColumn(key);
    sqlite3_bind_text(statement, 1, column.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(statement) != SQLITE_ROW ||
        sqlite3_column_int64(statement, 0) != 1) {
      rc = SQLITE_CORRUPT;
    }
    sqlite3_reset(statement);
  }
  sqlite3_finalize(statement);
  return rc == SQLITE_OK ? int16_t{kStatusOk} : OpenFailure(rc);
}

int16_t DataFile::PrepareStatements() {
  std::string columns = "position, data";
  std::string values = "?1, ?2";
  std::string assignments = "data = ?2";
  for (size_t key = 0; key < spec_.keys.size(); ++key) {
    std::string column = KeyColumn(key);
    std::string parameter = "?" + std::to_string(key + 3);
    columns += ", " + column;
    values += ", " + parameter;
    assignments += ", " + column + " = " + parameter;
  }
  read_at_ = Prepare(db_, "SELECT data FROM records WHERE position = ?1");
  insert_ = Prepare(
      db_, "INSERT INTO records(" + columns + ") VALUES (" + values + ")");
  update_ = Prepare(
      db_, "UPDATE records SET " + assignments + " WHERE position = ?1");
  delete_ = Prepare(db_, "DELETE FROM records WHERE position = ?1");
  next_position_ =
      Prepare(db_,
              "SELECT max(next_position, coalesce((SELECT max(position) FROM "
              "records), 0) + 1) FROM datafile WHERE id = 1");
  set_next_position_ =
      Prepare(db_, "UPDATE datafile SET next_position = ?1 WHERE id = 1");
  begin_ = Prepare(db_, "BEGIN IMMEDIATE");
  commit_ = Prepare(db_, "COMMIT");
  rollback_ = Prepare(db_, "ROLLBACK");
  data_version_ = Prepare(db_, "PRAGMA data_version");
  for (sqlite3_stmt* statement :
       {read_at_, insert_, update_, delete_, next_position_, set_next_position_,
        begin_, commit_, rollback_, data_version_}) {
    if (statement == nullptr) return kStatusNotADataFile;
  }
  seek_.assign(spec_.keys.size(), {});
  unique_.assign(spec_.keys.size(), nullptr);
  for (size_t key = 0; key < spec_.keys.size(); ++key) {
    if (spec_.keys[key].duplicates) continue;
    std::string column = KeyColumn(key);
    unique_[key] = Prepare(db_, "SELECT 1 FROM records WHERE " + column +
                                    " = ?1 AND position <> ?2 LIMIT 1");
    if (unique_[key] == nullptr) return kStatusNotADataFile;
  }
  return kStatusOk;
}

void DataFile::AttachWalHeader() {
  if (exclusive_) return;
  sqlite3_stmt* statement = Prepare(db_, "PRAGMA journal_mode");
  bool wal = false;
  if (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
    const unsigned char* mode = sqlite3_column_text(statement, 0);
    wal = mode != nullptr &&
          std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0;
  }
  sqlite3_finalize(statement);
  if (!wal) return;
  // The reads above put the connection in WAL mode, so region 0 of its
  // shared memory (the WAL index) is mapped; fetching it maps nothing new.
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) !=
          SQLITE_OK ||
      file == nullptr || file->pMethods == nullptr ||
      file->pMethods->iVersion < 2 || file->pMethods->xShmMap == nullptr) {
    return;
  }
  volatile void* region = nullptr;
  if (file->pMethods->xShmMap(file, 0, kShmRegionSize, 0, &region) ==
          SQLITE_OK &&
      region != nullptr) {
    wal_header_ = static_cast<const volatile uint32_t*>(region);
  }
}

ChangeStamp DataFile::Stamp() {
  ChangeStamp stamp;
  // Holding the exclusive lock, nobody else can commit.
  if (exclusive_) return stamp;
  if (wal_header_ != nullptr) {
    // Every commit rewrites the first copy of the WAL-index header (its
    // change counter, last frame, checksums) in shared memory; comparing it
    // tells whether anything was committed without the two lock system
    // calls a read transaction costs. A torn read while a writer is
    // mid-update only makes the stamps differ, which is the safe side.
    for (size_t i = 0; i < stamp.words.size(); ++i) {
      stamp.words[i] = __atomic_load_n(&wal_header_[i], __ATOMIC_RELAXED);
    }
    std::atomic_thread_fence(std::memory_order_acquire);
    const volatile uint8_t* bytes =
        reinterpret_cast<const volatile uint8_t*>(wal_header_);
    if (stamp.words[0] == kWalIndexVersion && bytes[12] == 1) return stamp;
  }
  // Without the WAL index, ask SQLite (one read transaction).
  stamp = ChangeStamp();
  stamp.words[0] = 0xFFFFFFFFu;
  ResetOnExit reset(data_version_);
  if (sqlite3_step(data_version_) == SQLITE_ROW) {
    stamp.words[1] =
        static_cast<uint32_t>(sqlite3_column_int64(data_version_, 0));
  } else {
    stamp.words[2] = ++stamp_nonce_;  // unknown: never equal to the last one
    stamp.words[3] = 1;
  }
  return stamp;
}

sqlite3_stmt* DataFile::SeekStatement(size_t key, Seek kind) {
  sqlite3_stmt*& statement = seek_[key][static_cast<int>(kind)];
  if (statement == nullptr) statement = Prepare(db_, SeekSql(key, kind));
  return statement;
}

int16_t DataFile::ReadAt(uint32_t position, std::string* data) {
  ResetOnExit reset(read_at_);
  sqlite3_bind_int64(read_at_, 1, position);
  int rc = sqlite3_step(read_at_);
  if (rc == SQLITE_DONE) return kStatusInvalidPositioning;
  if (rc != SQLITE_ROW) return ReadFailure(rc);
  data->assign(ColumnBlob(read_at_, 0));
  return kStatusOk;
}

int16_t DataFile::Find(size_t key, Seek kind, std::string_view image,
                       uint32_t position, int limit, RowBatch* rows) {
  const size_t before = rows->size;
  sqlite3_stmt* statement = SeekStatement(key, kind);
  if (statement == nullptr) return kStatusIoError;
  ResetOnExit reset(statement);
  if (kind != Seek::kFirst && kind != Seek::kLast) {
    BindBlob(statement, 1, image);
  }
  if (kind == Seek::kAfter || kind == Seek::kBefore) {
    sqlite3_bind_int64(statement, 2, position);
  }
  sqlite3_bind_int(statement, 3, std::max(limit, 1));
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    StoredRecord& row = rows->Next();
    if (!ColumnPosition(statement, 0, &row.position)) {
      rc = SQLITE_CORRUPT;
      break;
    }
    row.data.assign(ColumnBlob(statement, 1));
    row.image.assign(ColumnBlob(statement, 2));
  }
  if (rc != SQLITE_DONE) {
    rows->size = before;
    return ReadFailure(rc);
  }
  return kStatusOk;
}

int16_t DataFile::Begin() {
  ResetOnExit reset(begin_);
  int rc = sqlite3_step(begin_);
  return rc == SQLITE_DONE ? int16_t{kStatusOk} : WriteFailure(rc);
}

int16_t DataFile::Finish(int16_t status) {
  if (status == kStatusOk) {
    ResetOnExit reset(commit_);
    int rc = sqlite3_step(commit_);
    if (rc != SQLITE_DONE) status = WriteFailure(rc);
  }
  if (status != kStatusOk && !sqlite3_get_autocommit(db_)) {
    ResetOnExit reset(rollback_);
    sqlite3_step(rollback_);
  }
  return status;
}

int16_t DataFile::CheckUnique(const std::vector<std::string>& images,
                              uint32_t position) {
  for (size_t key = 0; key < unique_.size(); ++key) {
    sqlite3_stmt* statement = unique_[key];
    if (statement == nullptr) continue;
    ResetOnExit reset(statement);
    BindBlob(statement, 1, images[key]);
    sqlite3_bind_int64(statement, 2, position);
    int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) return kStatusDuplicateKey;
    if (rc != SQLITE_DONE) return WriteFailure(rc);
  }
  return kStatusOk;
}

int16_t DataFile::NextPosition(uint32_t* position) {
  ResetOnExit reset(next_position_);
  int rc = sqlite3_step(next_position_);
  if (rc != SQLITE_ROW) return WriteFailure(rc);
  sqlite3_int64 next = sqlite3_column_int64(next_position_, 0);
  if (next < 1) next = 1;
  if (next > 0xFFFFFFFFLL) return kStatusIoError;  // positions exhausted
  *position = static_cast<uint32_t>(next);
  return kStatusOk;
}

int16_t DataFile::InsertOne(std::string_view record, uint32_t position) {
  images_.resize(spec_.keys.size());
  for (size_t key = 0; key < spec_.keys.size(); ++key) {
    images_[key] = KeyImageOfRecord(spec_, key, record);
  }
  int16_t status = CheckUnique(images_, position);
  if (status != kStatusOk) return status;
  ResetOnExit reset(insert_);
  sqlite3_bind_int64(insert_, 1, position);
  BindBlob(insert_, 2, record);
  for (size_t key = 0; key < images_.size(); ++key) {
    BindBlob(insert_, static_cast<int>(key + 3), images_[key]);
  }
  int rc = sqlite3_step(insert_);
  return rc == SQLITE_DONE ? int16_t{kStatusOk} : WriteFailure(rc);
}

int16_t DataFile::InsertMany(const uint8_t* records, size_t stride,
                             uint32_t count, uint32_t* failed, uint32_t* last) {
  *failed = 0;
  if (count == 0) return kStatusOk;
  int16_t status = Begin();
  if (status != kStatusOk) return status;
  uint32_t position = 0;
  status = NextPosition(&position);
  for (uint32_t i = 0; status == kStatusOk && i < count; ++i) {
    if (i > 0 && position == 0xFFFFFFFFu) {
      status = kStatusIoError;
    } else if (i > 0) {
      ++position;
    }
    if (status == kStatusOk) {
      status = InsertOne(
          std::string_view(reinterpret_cast<const char*>(records) + i * stride,
                           spec_.record_length),
          position);
    }
    if (status != kStatusOk) *failed = i;
  }
  if (status == kStatusOk) {
    ResetOnExit reset(set_next_position_);
    sqlite3_bind_int64(set_next_position_, 1,
                       static_cast<sqlite3_int64>(position) + 1);
    int rc = sqlite3_step(set_next_position_);
    if (rc != SQLITE_DONE) status = WriteFailure(rc);
  }
  status = Finish(status);
  if (status == kStatusOk) *last = position;
  return status;
}

int16_t DataFile::Update(uint32_t position, std::string_view record) {
  int16_t status = Begin();
  if (status != kStatusOk) return status;
  images_.resize(spec_.keys.size());
  for (size_t key = 0; key < spec_.keys.size(); ++key) {
    images_[key] = KeyImageOfRecord(spec_, key, record);
  }
  status = CheckUnique(images_, position);
  if (status == kStatusOk) {
    ResetOnExit reset(update_);
    sqlite3_bind_int64(update_, 1, position);
    BindBlob(update_, 2, record);
    for (size_t key = 0; key < images_.size(); ++key) {
      BindBlob(update_, static_cast<int>(key + 3), images_[key]);
    }
    int rc = sqlite3_step(update_);
    if (rc != SQLITE_DONE) {
      status = WriteFailure(rc);
    } else if (sqlite3_changes(db_) == 0) {
      status = kStatusInvalidPositioning;
    }
  }
  return Finish(status);
}

int16_t DataFile::Delete(uint32_t position) {
  ResetOnExit reset(delete_);
  sqlite3_bind_int64(delete_, 1, position);
  int rc = sqlite3_step(delete_);
  if (rc != SQLITE_DONE) return WriteFailure(rc);
  return sqlite3_changes(db_) == 0 ? int16_t{kStatusInvalidPositioning}
                                   : int16_t{kStatusOk};
}

int16_t DataFile::Create(const std::string& path, const FileSpec& spec,
                         bool overwrite) {
  if (path.empty()) return kStatusFileNotFound;
  struct stat info;
  bool exists = ::stat(path.c_str(), &info) == 0;
  if (!exists && errno != ENOENT) {
    return errno == ENOTDIR ? int16_t{kStatusFileNotFound}
                            : int16_t{kStatusIoError};
  }
  if (exists) {
    if (!overwrite) return kStatusFileExists;
    if (!S_ISREG(info.st_mode)) return kStatusIoError;
    // Replacing a file that another process has open would leave it
    // working on a deleted file: taking the exclusive lock tells.
    std::unique_ptr<DataFile> old;
    if (Open(path, true, &old) == kStatusFileLocked) return kStatusFileLocked;
  }
  static std::atomic<uint32_t> counter{0};
  std::string built = path + ".new-" + std::to_string(::getpid()) + "-" +
                      std::to_string(++counter);
  int16_t status = BuildFile(built, spec);
  if (status != kStatusOk) return status;
  if (!exists) return PlaceNewFile(built, path);
  RemoveCompanions(path);
  if (::rename(built.c_str(), path.c_str()) != 0) {
    ::unlink(built.c_str());
    return kStatusIoError;
  }
  return kStatusOk;
}

std::string DataFile::IdentityOfPath(const std::string& path) {
  struct stat info;
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return {};
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

namespace {

// Status 85 when another process has the file at `path` open (taking its
// exclusive lock for a moment tells), otherwise 0.
int16_t CheckNotInUse(const std::string& path) {
  std::unique_ptr<DataFile> probe;
  return DataFile::Open(path, true, &probe) == kStatusFileLocked
             ? int16_t{kStatusFileLocked}
             : int16_t{kStatusOk};
}

bool Exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

class SqliteStorage final : public Storage {
 public:
  int16_t Open(const std::string& name, bool exclusive,
               std::unique_ptr<StoredFile>* out) override {
    std::unique_ptr<DataFile> file;
    int16_t status = DataFile::Open(NativePath(name), exclusive, &file);
    if (status == kStatusOk) *out = std::move(file);
    return status;
  }
  int16_t Create(const std::string& name, const FileSpec& spec,
                 bool overwrite) override {
    return DataFile::Create(NativePath(name), spec, overwrite);
  }
  std::string IdentityOf(const std::string& name) override {
    return DataFile::IdentityOfPath(NativePath(name));
  }
  int16_t Remove(const std::string& name) override {
    const std::string path = NativePath(name);
    if (path.empty() || !Exists(path)) return kStatusFileNotFound;
    int16_t status = CheckNotInUse(path);
    if (status != kStatusOk) return status;
    if (::unlink(path.c_str()) != 0) return kStatusIoError;
    RemoveCompanions(path);
    return kStatusOk;
  }
  int16_t Replace(const std::vector<FileMove>& moves) override {
    std::vector<std::pair<std::string, std::string>> paths;
    for (const FileMove& move : moves) {
      paths.emplace_back(NativePath(move.from), NativePath(move.to));
      const auto& [from, to] = paths.back();
      if (from.empty() || !Exists(from)) return kStatusFileNotFound;
      if (to.empty()) return kStatusFileNotFound;
      for (const std::string* path : {&from, &to}) {
        if (!Exists(*path)) continue;
        int16_t status = CheckNotInUse(*path);
        if (status != kStatusOk) return status;
      }
    }
    for (const auto& [from, to] : paths) {
      // What the replaced file left beside it must not be taken for the
      // new file's journal, so it goes before the new file arrives.
      RemoveCompanions(to);
      if (::rename(from.c_str(), to.c_str()) != 0) {
        return errno == ENOENT ? int16_t{kStatusFileNotFound}
                               : int16_t{kStatusIoError};
      }
      RemoveCompanions(from);
    }
    return kStatusOk;
  }
  ReadAheadLimits Limits() const override { return ReadAheadLimits{}; }
  void Abandon() override {}
};

}  // namespace

std::unique_ptr<Storage> MakeSqliteStorage() {
  return std::make_unique<SqliteStorage>();
}

std::unique_ptr<RecordManager> MakeSqliteRecordManager() {
  return MakeEngine(MakeSqliteStorage());
}

}  // namespace tarnevos::platform
