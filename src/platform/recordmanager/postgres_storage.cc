#include "platform/recordmanager/postgres_storage.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/recordmanager/engine.h"
#include "platform/recordmanager/postgres_connection.h"

namespace tarnevos::platform {
namespace {

// The class half of the advisory locks on data files ("TVRF"); the other
// half is the records table's oid.
constexpr int32_t kLockClass = 0x54565246;
constexpr int kMaxIdentifier = 63;
// The largest stretch asked for ahead: as the engine's read-ahead.
constexpr int kMaxRowsAhead = 1024;
constexpr size_t kMaxBytesAhead = 256 * 1024;

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Folded(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  for (char c : text) folded.push_back(c == '\\' ? '/' : Lower(c));
  return folded;
}

std::string KeyColumn(size_t key) { return "key" + std::to_string(key); }

bool IsState(const PgResult& result, std::string_view state) {
  return result.sqlstate() == state;
}

// A table or schema that does not exist.
bool IsMissing(const PgResult& result) {
  return IsState(result, "42P01") || IsState(result, "3F000");
}

// Failures of reads: a table lock another session holds (an
// administrator's ALTER, a reload) is the file being locked.
int16_t ReadStatus(const PgResult& result) {
  if (result.ok() || result.status() == kStatusConnectionLost) {
    return result.status();
  }
  if (IsState(result, "55P03")) return kStatusFileLocked;
  return kStatusIoError;
}

// Failures of writes: a lock that cannot be had without waiting, a
// deadlock or a serialisation failure is another session writing.
int16_t WriteStatus(const PgResult& result) {
  if (result.ok() || result.status() == kStatusConnectionLost) {
    return result.status();
  }
  if (IsState(result, "55P03") || IsState(result, "40P01") ||
      IsState(result, "40001")) {
    return kStatusRecordLocked;
  }
  return kStatusIoError;
}

// ---- One file ---------------------------------------------------------------

class PgFile final : public StoredFile {
 public:
  PgFile(std::shared_ptr<PgConnection> connection, const std::string& schema,
         int32_t id, uint32_t table_oid, FileSpec spec, bool exclusive);
  ~PgFile() override;
  PgFile(const PgFile&) = delete;
  PgFile& operator=(const PgFile&) = delete;

  // Listens to the file's channel. Status 0, 2, 95.
  int16_t Listen();

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
  ChangeStamp Stamp() override;
  void Refresh() override { DropAhead(); }

 private:
  const std::string& SeekSql(size_t key, Seek kind);
  int16_t Begin();
  // Commits after success, rolls back otherwise; the status of the whole.
  int16_t Finish(int16_t status);
  // Asks for the stretch after the one just read by stepping, when it was
  // full: the caller is reading along the key path and will likely want
  // it, and the server can look for it while the caller works on this one.
  // `continued`: the rows came from a stretch asked for ahead; `found`:
  // the rows of `rows` (its last ones) this look-up found.
  void RunAhead(size_t key, Seek kind, int limit, bool continued,
                const RowBatch& rows, size_t found);
  // The stretch asked for ahead, when it is the one wanted now and no
  // commit has been notified since it was asked for.
  // *first_row is the row of the result that answers.
  bool TakeAhead(size_t key, Seek kind, std::string_view image,
                 uint32_t position, PgResult* result, int* first_row);
  void DropAhead();
  // Takes the file's writer lock (its datafiles row) without waiting and
  // reads the next free position.
  int16_t LockForWrite(int64_t* next_position);
  // The first of `count` records whose image of a unique key repeats an
  // earlier one in the batch or one already stored; `count` when none.
  int16_t FirstDuplicate(const std::vector<std::string>& images, uint32_t count,
                         bool table_empty, uint32_t* first);

  std::shared_ptr<PgConnection> connection_;
  const std::string schema_;
  const std::string table_;
  const int32_t id_;
  const uint32_t table_oid_;
  const FileSpec spec_;
  const bool exclusive_;
  const std::string identity_;
  const std::string channel_;
  bool listening_ = false;
  const uint64_t* changes_ = nullptr;
  uint32_t nonce_ = 0;
  std::vector<std::array<std::string, kSeekKinds>> seek_sql_;
  // The stretch asked for ahead (valid while `ahead_asked_`).
  bool ahead_asked_ = false;
  size_t ahead_key_ = 0;
  Seek ahead_kind_ = Seek::kAfter;
  std::string ahead_image_;
  uint32_t ahead_position_ = 0;
  uint64_t ahead_changes_ = 0;
  PendingReply ahead_;
};

PgFile::PgFile(std::shared_ptr<PgConnection> connection,
               const std::string& schema, int32_t id, uint32_t table_oid,
               FileSpec spec, bool exclusive)
    : connection_(std::move(connection)),
      schema_(schema),
      table_(schema + ".records_" + std::to_string(id)),
      id_(id),
      table_oid_(table_oid),
      spec_(std::move(spec)),
      exclusive_(exclusive),
      identity_(schema + "/" + std::to_string(id)),
      channel_("tarnevos_" + std::to_string(table_oid)),
      seek_sql_(spec_.keys.size()) {}

PgFile::~PgFile() {
  DropAhead();
  const bool last = listening_ && connection_->Unwatch(channel_);
  if (connection_->broken()) return;
  std::string sql = std::string("SELECT pg_catalog.pg_advisory_unlock") +
                    (exclusive_ ? "" : "_shared") + "(" +
                    std::to_string(kLockClass) + ", " +
                    std::to_string(static_cast<int32_t>(table_oid_)) + ")";
  if (last) sql += "; UNLISTEN " + channel_;
  connection_->Execute(sql);
}

int16_t PgFile::Listen() {
  const bool first = connection_->Watch(channel_, &changes_);
  listening_ = true;
  if (!first) return kStatusOk;
  return ReadStatus(connection_->Execute("LISTEN " + channel_));
}

ChangeStamp PgFile::Stamp() {
  ChangeStamp stamp;
  connection_->Poll();
  if (connection_->broken() || changes_ == nullptr) {
    // Nothing can be known: never equal to an earlier stamp.
    stamp.words[0] = 0xFFFFFFFFu;
    stamp.words[1] = ++nonce_;
    return stamp;
  }
  stamp.words[2] = static_cast<uint32_t>(*changes_);
  stamp.words[3] = static_cast<uint32_t>(*changes_ >> 32);
  return stamp;
}

const std::string& PgFile::SeekSql(size_t key, Seek kind) {
  std::string& sql = seek_sql_[key][static_cast<int>(kind)];
  if (!sql.empty()) return sql;
  const std::string column = KeyColumn(key);
  // The image is made again here from the record rather than sent: the
  // server's work per row is most of a batch's cost.
  const std::string select = "SELECT position, data FROM " + table_ + " ";
  const std::string up = " ORDER BY " + column + ", position";
  const std::string down = " ORDER BY " + column + " DESC, position DESC";
  // $1 the image, then the position where used, then the number of rows.
  switch (kind) {
    case Seek::kEqual:
      sql =
          select + "WHERE " + column + " = $1::bytea" + up + " LIMIT $2::int4";
      break;
    case Seek::kGreater:
      sql =
          select + "WHERE " + column + " > $1::bytea" + up + " LIMIT $2::int4";
      break;
    case Seek::kGreaterOrEqual:
      sql =
          select + "WHERE " + column + " >= $1::bytea" + up + " LIMIT $2::int4";
      break;
    case Seek::kLess:
      sql = select + "WHERE " + column + " < $1::bytea" + down +
            " LIMIT $2::int4";
      break;
    case Seek::kLessOrEqual:
      sql = select + "WHERE " + column + " <= $1::bytea" + down +
            " LIMIT $2::int4";
      break;
    case Seek::kFirst:
      sql = select + up + " LIMIT $1::int4";
      break;
    case Seek::kLast:
      sql = select + down + " LIMIT $1::int4";
      break;
    case Seek::kAfter:
      sql = select + "WHERE (" + column + ", position) > ($1::bytea, " +
            "$2::int8)" + up + " LIMIT $3::int4";
      break;
    case Seek::kBefore:
      sql = select + "WHERE (" + column + ", position) < ($1::bytea, " +
            "$2::int8)" + down + " LIMIT $3::int4";
      break;
  }
  return sql;
}

// A stored position outside 1 ... 2^32-1 can only come from damage.
bool ValidPosition(int64_t value) {
  return value >= 1 && value <= 0xFFFFFFFFLL;
}

int16_t PgFile::ReadAt(uint32_t position, std::string* data) {
  PgResult result = connection_->Run(
      "SELECT data FROM " + table_ + " WHERE position = $1::int8",
      PgParams().Int64(position));
  if (!result.ok()) return ReadStatus(result);
  if (result.rows() == 0) return kStatusInvalidPositioning;
  data->assign(result.Bytes(0, 0));
  return kStatusOk;
}

void PgFile::DropAhead() {
  if (!ahead_asked_) return;
  connection_->Forget(&ahead_);
  ahead_asked_ = false;
}

bool PgFile::TakeAhead(size_t key, Seek kind, std::string_view image,
                       uint32_t position, PgResult* result, int* first_row) {
  if (!ahead_asked_) return false;
  // The stretch holds every record after the anchor (ahead_image_,
  // ahead_position_) up to its last row: it answers a step on from the
  // anchor, and a seek upwards to an image every record of which lies
  // after the anchor (above its image; for "greater", also equal to it)
  // when the stretch reaches that image.
  const bool up = ahead_kind_ == Seek::kAfter && ahead_key_ == key;
  const bool step = ahead_key_ == key && ahead_kind_ == kind &&
                    ahead_position_ == position && ahead_image_ == image;
  const bool seek =
      up && ((kind == Seek::kGreaterOrEqual && image > ahead_image_) ||
             (kind == Seek::kGreater && image >= ahead_image_));
  bool taken = false;
  if (step || seek) {
    connection_->Settle();
    // Notifications that came with the reply were counted while it was
    // collected: a commit after the stretch was asked for shows here.
    taken = ahead_.ready && ahead_.result.ok() && changes_ != nullptr &&
            *changes_ == ahead_changes_;
  }
  *first_row = 0;
  if (taken && seek) {
    // The first row at (or, for greater, above) the image.
    const PgResult& rows = ahead_.result;
    int low = 0;
    int high = rows.rows();
    while (low < high) {
      const int middle = low + (high - low) / 2;
      const std::string row_image =
          KeyImageOfRecord(spec_, key, rows.Bytes(middle, 1));
      const bool below =
          kind == Seek::kGreater ? row_image <= image : row_image < image;
      if (below) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    // Past the stretch's end the answer is unknown.
    taken = low < rows.rows();
    if (taken) *first_row = low;
  }
  if (taken) *result = std::move(ahead_.result);
  DropAhead();
  return taken;
}

void PgFile::RunAhead(size_t key, Seek kind, int limit, bool continued,
                      const RowBatch& rows, size_t found) {
  // Only a caller that went on past a whole stretch is reading along the
  // path; after a seek the next read is as often another seek.
  if (!continued && kind != Seek::kAfter && kind != Seek::kBefore) return;
  if (limit < 2 || found < static_cast<size_t>(limit)) return;
  if (changes_ == nullptr) return;
  const bool up = kind == Seek::kAfter;
  const StoredRecord& last = rows[rows.size - 1];
  const int most = std::max<int>(
      2, std::min<int>(
             kMaxRowsAhead,
             static_cast<int>(kMaxBytesAhead / (spec_.record_length + 64u))));
  ahead_kind_ = up ? Seek::kAfter : Seek::kBefore;
  ahead_key_ = key;
  ahead_image_ = last.image;
  ahead_position_ = last.position;
  ahead_changes_ = *changes_;
  ahead_asked_ = connection_->RunAhead(SeekSql(key, ahead_kind_),
                                       PgParams()
                                           .Bytes(ahead_image_)
                                           .Int64(ahead_position_)
                                           .Int32(std::min(limit * 2, most)),
                                       &ahead_);
}

int16_t PgFile::Find(size_t key, Seek kind, std::string_view image,
                     uint32_t position, int limit, RowBatch* rows) {
  const size_t before = rows->size;
  PgResult result;
  int first_row = 0;
  const bool continued =
      TakeAhead(key, kind, image, position, &result, &first_row);
  if (!continued) {
    PgParams params;
    if (kind != Seek::kFirst && kind != Seek::kLast) params.Bytes(image);
    if (kind == Seek::kAfter || kind == Seek::kBefore) params.Int64(position);
    params.Int32(std::max(limit, 1));
    result = connection_->Run(SeekSql(key, kind), params);
  }
  if (!result.ok()) return ReadStatus(result);
  const int count = result.rows();
  for (int row = first_row; row < count; ++row) {
    const int64_t stored = result.Int64(row, 0);
    if (!ValidPosition(stored)) {
      rows->size = before;
      return kStatusIoError;
    }
    StoredRecord& record = rows->Next();
    record.position = static_cast<uint32_t>(stored);
    record.data.assign(result.Bytes(row, 1));
    record.image = KeyImageOfRecord(spec_, key, record.data);
  }
  // A stretch asked for ahead was as long as the next one will be.
  RunAhead(key, kind, continued ? count : limit, continued, *rows,
           rows->size - before);
  return kStatusOk;
}

int16_t PgFile::Begin() { return WriteStatus(connection_->Execute("BEGIN")); }

int16_t PgFile::Finish(int16_t status) {
  if (status == kStatusOk) {
    status = WriteStatus(connection_->Execute("COMMIT"));
    if (status == kStatusOk) return status;
  }
  if (!connection_->broken()) connection_->Execute("ROLLBACK");
  return status;
}

int16_t PgFile::LockForWrite(int64_t* next_position) {
  PgResult result = connection_->Run(
      "SELECT next_position, (SELECT max(position) FROM " + table_ + ") FROM " +
          schema_ + ".datafiles WHERE id = $1::int4 FOR UPDATE NOWAIT",
      PgParams().Int32(id_));
  if (!result.ok()) return WriteStatus(result);
  // The file was removed while open here.
  if (result.rows() != 1) return kStatusIoError;
  int64_t next = std::max<int64_t>(result.Int64(0, 0), 1);
  if (!result.IsNull(0, 1)) next = std::max(next, result.Int64(0, 1) + 1);
  *next_position = next;
  return kStatusOk;
}

int16_t PgFile::FirstDuplicate(const std::vector<std::string>& images,
                               uint32_t count, bool table_empty,
                               uint32_t* first) {
  const size_t keys = spec_.keys.size();
  *first = count;
  for (size_t key = 0; key < keys; ++key) {
    if (spec_.keys[key].duplicates) continue;
    std::unordered_map<std::string_view, uint32_t> seen;
    std::vector<std::string_view> distinct;
    for (uint32_t i = 0; i < count && i < *first; ++i) {
      std::string_view image = images[static_cast<size_t>(i) * keys + key];
      if (!seen.emplace(image, i).second) {
        *first = i;
        break;
      }
      distinct.push_back(image);
    }
    if (table_empty || distinct.empty()) continue;
    PgResult stored =
        connection_->Run("SELECT " + KeyColumn(key) + " FROM " + table_ +
                             " WHERE " + KeyColumn(key) + " = ANY($1::bytea[])",
                         PgParams().ByteaArray(distinct));
    if (!stored.ok()) return WriteStatus(stored);
    for (int row = 0; row < stored.rows(); ++row) {
      auto found = seen.find(stored.Bytes(row, 0));
      if (found != seen.end()) *first = std::min(*first, found->second);
    }
  }
  return kStatusOk;
}

void AppendInt(std::string& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
}

int16_t PgFile::InsertMany(const uint8_t* records, size_t stride,
                           uint32_t count, uint32_t* failed, uint32_t* last) {
  *failed = 0;
  DropAhead();
  if (count == 0) return kStatusOk;
  const size_t keys = spec_.keys.size();
  const size_t length = spec_.record_length;
  auto record = [&](uint32_t i) {
    return std::string_view(reinterpret_cast<const char*>(records) +
                                static_cast<size_t>(i) * stride,
                            length);
  };
  std::vector<std::string> images(static_cast<size_t>(count) * keys);
  for (uint32_t i = 0; i < count; ++i) {
    for (size_t key = 0; key < keys; ++key) {
      images[static_cast<size_t>(i) * keys + key] =
          KeyImageOfRecord(spec_, key, record(i));
    }
  }
  int16_t status = Begin();
  if (status != kStatusOk) return status;
  int64_t next = 0;
  status = LockForWrite(&next);
  uint32_t first_bad = count;
  if (status == kStatusOk) {
    status = FirstDuplicate(images, count, next == 1, &first_bad);
  }
  if (status == kStatusOk && first_bad < count) {
    *failed = first_bad;
    status = kStatusDuplicateKey;
  }
  // Positions end at 2^32 - 1.
  const int64_t room = 0xFFFFFFFFLL - next + 1;
  if (status == kStatusOk && room < static_cast<int64_t>(count)) {
    *failed = static_cast<uint32_t>(std::max<int64_t>(room, 0));
    status = kStatusIoError;
  }
  if (status == kStatusOk) {
    // COPY's binary form: signature, flags, header extension, then per
    // row the number of fields and each field as length and bytes.
    std::string copy("PGCOPY\n\xff\r\n\0", 11);
    AppendInt(copy, 0, 4);
    AppendInt(copy, 0, 4);
    copy.reserve(copy.size() +
                 static_cast<size_t>(count) * (2 + 12 + 4 + length + keys * 4 +
                                               images[0].size() * keys));
    for (uint32_t i = 0; i < count; ++i) {
      AppendInt(copy, 2 + keys, 2);
      AppendInt(copy, 8, 4);
      AppendInt(copy, static_cast<uint64_t>(next + i), 8);
      AppendInt(copy, length, 4);
      copy.append(record(i));
      for (size_t key = 0; key < keys; ++key) {
        const std::string& image = images[static_cast<size_t>(i) * keys + key];
        AppendInt(copy, image.size(), 4);
        copy.append(image);
      }
    }
    AppendInt(copy, 0xFFFF, 2);
    std::string columns = "position, data";
    for (size_t key = 0; key < keys; ++key) columns += ", " + KeyColumn(key);
    status = WriteStatus(connection_->CopyIn(
        "COPY " + table_ + " (" + columns + ") FROM STDIN (FORMAT binary)",
        copy));
  }
  if (status == kStatusOk) {
    status = WriteStatus(connection_->Run(
        "UPDATE " + schema_ +
            ".datafiles SET next_position = $2::int8 WHERE id = $1::int4",
        PgParams().Int32(id_).Int64(next + count)));
  }
  status = Finish(status);
  if (status == kStatusOk) *last = static_cast<uint32_t>(next + count - 1);
  return status;
}

int16_t PgFile::Update(uint32_t position, std::string_view record) {
  DropAhead();
  const size_t keys = spec_.keys.size();
  std::vector<std::string> images(keys);
  for (size_t key = 0; key < keys; ++key) {
    images[key] = KeyImageOfRecord(spec_, key, record);
  }
  int16_t status = Begin();
  if (status != kStatusOk) return status;
  int64_t next = 0;
  status = LockForWrite(&next);
  for (size_t key = 0; status == kStatusOk && key < keys; ++key) {
    if (spec_.keys[key].duplicates) continue;
    PgResult other = connection_->Run(
        "SELECT 1 FROM " + table_ + " WHERE " + KeyColumn(key) +
            " = $1::bytea AND position <> $2::int8 LIMIT 1",
        PgParams().Bytes(images[key]).Int64(position));
    status = WriteStatus(other);
    if (status == kStatusOk && other.rows() > 0) status = kStatusDuplicateKey;
  }
  if (status == kStatusOk) {
    std::string sql = "UPDATE " + table_ + " SET data = $2::bytea";
    PgParams params;
    params.Int64(position).Bytes(record);
    for (size_t key = 0; key < keys; ++key) {
      sql +=
          ", " + KeyColumn(key) + " = $" + std::to_string(key + 3) + "::bytea";
      params.Bytes(images[key]);
    }
    PgResult updated =
        connection_->Run(sql + " WHERE position = $1::int8", params);
    status = WriteStatus(updated);
    if (status == kStatusOk && updated.Affected() == 0) {
      status = kStatusInvalidPositioning;
    }
  }
  return Finish(status);
}

int16_t PgFile::Delete(uint32_t position) {
  DropAhead();
  int16_t status = Begin();
  if (status != kStatusOk) return status;
  int64_t next = 0;
  status = LockForWrite(&next);
  if (status == kStatusOk) {
    PgResult deleted =
        connection_->Run("DELETE FROM " + table_ + " WHERE position = $1::int8",
                         PgParams().Int64(position));
    status = WriteStatus(deleted);
    if (status == kStatusOk && deleted.Affected() == 0) {
      status = kStatusInvalidPositioning;
    }
  }
  return Finish(status);
}

// ---- The storage ------------------------------------------------------------

class PgStorage final : public Storage {
 public:
  explicit PgStorage(ServerSettings settings)
      : settings_(std::move(settings)),
        schema_name_(ServerSchemaName(settings_.schema)),
        schema_("\"" + schema_name_ + "\"") {}

  int16_t Open(const std::string& name, bool exclusive,
               std::unique_ptr<StoredFile>* out) override;
  int16_t Create(const std::string& name, const FileSpec& spec,
                 bool overwrite) override;
  std::string IdentityOf(const std::string& name) override;
  int16_t Remove(const std::string& name) override;
  int16_t Replace(const std::vector<FileMove>& moves) override;
  ReadAheadLimits Limits() const override;
  void Abandon() override {
    if (connection_ != nullptr) connection_->Abandon();
    connection_.reset();
  }

 private:
  struct Entry {
    int32_t id = 0;
    std::string spec;
    bool has_table = false;
    uint32_t table_oid = 0;
  };

  // A usable connection: the one there is, or a new one when there is none
  // or it broke (one attempt). Status 0 or 20.
  int16_t Connect();
  // Makes the schema, the catalog and the trigger function where missing.
  int16_t EnsureSchema();
  // The catalog row of `file`; with `lock`, locked without waiting (85).
  // Status 0, 12, 85, 2, 95.
  int16_t Lookup(const std::string& file, bool lock, Entry* entry);
  // Takes the exclusive lock of a file for the current transaction: 85
  // when a session has it open.
  int16_t LockForReplacement(const Entry& entry);
  // Drops a file inside the current transaction.
  int16_t Drop(const Entry& entry);
  int16_t Rollback(int16_t status);
  std::string Table(int32_t id) const {
    return schema_ + ".records_" + std::to_string(id);
  }
  std::string FileName(const std::string& name) const {
    return ServerFileName(name, settings_.root);
  }

  const ServerSettings settings_;
  const std::string schema_name_;
  // As written in statements (quoted: the name may be a keyword).
  const std::string schema_;
  std::shared_ptr<PgConnection> connection_;
  bool schema_ready_ = false;
};

int16_t PgStorage::Connect() {
  if (schema_name_.empty()) return kStatusServerUnreachable;
  if (connection_ != nullptr && !connection_->broken()) return kStatusOk;
  connection_.reset();
  schema_ready_ = false;
  std::string error;
  return PgConnection::Connect(settings_.connection, &connection_, &error);
}

int16_t PgStorage::Rollback(int16_t status) {
  if (connection_ != nullptr && !connection_->broken()) {
    connection_->Execute("ROLLBACK");
  }
  return status;
}

int16_t PgStorage::Lookup(const std::string& file, bool lock, Entry* entry) {
  PgResult result =
      connection_->Run("SELECT id, spec, to_regclass('" + schema_ +
                           ".records_' || id)::oid::int8 FROM " + schema_ +
                           ".datafiles WHERE name = $1::text" +
                           (lock ? " FOR UPDATE NOWAIT" : ""),
                       PgParams().Bytes(file));
  if (!result.ok()) {
    if (IsMissing(result)) return kStatusFileNotFound;
    if (IsState(result, "55P03")) return kStatusFileLocked;
    return ReadStatus(result);
  }
  if (result.rows() == 0) return kStatusFileNotFound;
  entry->id = result.Int32(0, 0);
  entry->spec.assign(result.Bytes(0, 1));
  entry->has_table = !result.IsNull(0, 2);
  entry->table_oid = static_cast<uint32_t>(result.Int64(0, 2));
  return kStatusOk;
}

int16_t PgStorage::Open(const std::string& name, bool exclusive,
                        std::unique_ptr<StoredFile>* out) {
  const std::string file = FileName(name);
  if (file.empty()) return kStatusFileNotFound;
  int16_t status = Connect();
  if (status != kStatusOk) return status;
  Entry entry;
  status = Lookup(file, false, &entry);
  if (status != kStatusOk) return status;
  std::optional<FileSpec> spec = ParseFileSpec(entry.spec);
  if (!entry.has_table || !spec) return kStatusNotADataFile;
  // Every column and every key's index must be there, or reads would fail
  // or become scans.
  std::string columns = "position, data";
  std::string indexes;
  for (size_t key = 0; key < spec->keys.size(); ++key) {
    columns += ", " + KeyColumn(key);
    indexes += std::string(key == 0 ? "" : ", ") + "'records_" +
               std::to_string(entry.id) + "_" + KeyColumn(key) + "'";
  }
  PgResult check = connection_->RunOnce(
      "SELECT (SELECT count(*)::int4 FROM pg_catalog.pg_index i JOIN "
      "pg_catalog.pg_class c ON c.oid = i.indexrelid WHERE i.indrelid = "
      "$1::int8::oid AND c.relname IN (" +
          indexes + ")), (SELECT count(*)::int4 FROM (SELECT " + columns +
          " FROM " + Table(entry.id) + " LIMIT 0) AS probe)",
      PgParams().Int64(entry.table_oid));
  if (!check.ok()) {
    return check.status() == kStatusConnectionLost
               ? int16_t{kStatusConnectionLost}
               : int16_t{kStatusNotADataFile};
  }
  if (check.Int32(0, 0) != static_cast<int32_t>(spec->keys.size())) {
    return kStatusNotADataFile;
  }
  PgResult locked = connection_->Run(
      std::string("SELECT pg_catalog.pg_try_advisory_lock") +
          (exclusive ? "" : "_shared") + "($1::int4, $2::int4)",
      PgParams()
          .Int32(kLockClass)
          .Int32(static_cast<int32_t>(entry.table_oid)));
  if (!locked.ok()) return ReadStatus(locked);
  if (!locked.Bool(0, 0)) return kStatusFileLocked;
  // From here the file's destructor releases the lock.
  auto opened =
      std::make_unique<PgFile>(connection_, schema_, entry.id, entry.table_oid,
                               std::move(*spec), exclusive);
  // A file replaced between the look-up and the lock (its replacer saw no
  // lock yet) is another file now: try again later, as with any file in
  // the middle of being replaced.
  Entry again;
  status = Lookup(file, false, &again);
  if (status == kStatusFileNotFound ||
      (status == kStatusOk &&
       (again.id != entry.id || again.table_oid != entry.table_oid))) {
    return kStatusFileLocked;
  }
  if (status != kStatusOk) return status;
  status = opened->Listen();
  if (status != kStatusOk) return status;
  *out = std::move(opened);
  return kStatusOk;
}

int16_t PgStorage::EnsureSchema() {
  if (schema_ready_) return kStatusOk;
  PgResult present = connection_->RunOnce(
      "SELECT to_regnamespace($1::text) IS NOT NULL, "
      "to_regclass($2::text) IS NOT NULL, "
      "to_regprocedure($3::text) IS NOT NULL",
      PgParams()
          .Bytes(schema_)
          .Bytes(schema_ + ".datafiles")
          .Bytes(schema_ + ".tarnevos_changed()"));
  if (!present.ok()) return ReadStatus(present);
  std::string sql;
  // Only what is missing: a schema set up by the administrator may not let
  // this user create anything.
  if (!present.Bool(0, 0))
    sql += "CREATE SCHEMA IF NOT EXISTS " + schema_ + ";";
  if (!present.Bool(0, 1)) {
    sql += "CREATE TABLE IF NOT EXISTS " + schema_ +
           ".datafiles (id integer GENERATED ALWAYS AS IDENTITY PRIMARY KEY, "
           "name text NOT NULL UNIQUE, spec bytea NOT NULL, "
           "next_position bigint NOT NULL);";
  }
  if (!present.Bool(0, 2)) {
    sql += "CREATE OR REPLACE FUNCTION " + schema_ +
           ".tarnevos_changed() RETURNS trigger LANGUAGE plpgsql AS $body$ "
           "BEGIN PERFORM pg_catalog.pg_notify('tarnevos_' || "
           "TG_RELID::pg_catalog.text, ''); RETURN NULL; END $body$;";
  }
  if (!sql.empty()) {
    // Two programs setting up at once: the loser's statements fail on the
    // winner's objects, and its second attempt finds them.
    int16_t status = kStatusOk;
    for (int attempt = 0; attempt < 2; ++attempt) {
      PgResult made = connection_->Execute("BEGIN;" + sql + "COMMIT");
      status = ReadStatus(made);
      if (status == kStatusOk || status == kStatusConnectionLost) break;
      Rollback(status);
    }
    if (status != kStatusOk) return status;
  }
  schema_ready_ = true;
  return kStatusOk;
}

int16_t PgStorage::LockForReplacement(const Entry& entry) {
  if (!entry.has_table) return kStatusOk;
  PgResult locked = connection_->Run(
      "SELECT pg_catalog.pg_try_advisory_xact_lock($1::int4, $2::int4)",
      PgParams()
          .Int32(kLockClass)
          .Int32(static_cast<int32_t>(entry.table_oid)));
  if (!locked.ok()) return ReadStatus(locked);
  return locked.Bool(0, 0) ? int16_t{kStatusOk} : int16_t{kStatusFileLocked};
}

int16_t PgStorage::Drop(const Entry& entry) {
  PgResult dropped = connection_->Execute(
      "DROP TABLE IF EXISTS " + Table(entry.id) + "; DELETE FROM " + schema_ +
      ".datafiles WHERE id = " + std::to_string(entry.id));
  return WriteStatus(dropped) == kStatusRecordLocked
             ? int16_t{kStatusFileLocked}
             : WriteStatus(dropped);
}

int16_t PgStorage::Create(const std::string& name, const FileSpec& spec,
                          bool overwrite) {
  const std::string file = FileName(name);
  if (file.empty()) return kStatusFileNotFound;
  int16_t status = Connect();
  if (status == kStatusOk) status = EnsureSchema();
  if (status == kStatusOk) status = ReadStatus(connection_->Execute("BEGIN"));
  if (status != kStatusOk) return status;
  Entry old;
  status = Lookup(file, true, &old);
  if (status == kStatusOk) {
    if (!overwrite) return Rollback(kStatusFileExists);
    status = LockForReplacement(old);
    if (status == kStatusOk) status = Drop(old);
  } else if (status == kStatusFileNotFound) {
    status = kStatusOk;
  }
  if (status != kStatusOk) return Rollback(status);
  PgResult inserted = connection_->Run(
      "INSERT INTO " + schema_ +
          ".datafiles (name, spec, next_position) VALUES ($1::text, "
          "$2::bytea, 1) RETURNING id",
      PgParams().Bytes(file).Bytes(spec.bytes));
  if (!inserted.ok()) {
    if (IsState(inserted, "23505")) return Rollback(kStatusFileExists);
    return Rollback(ReadStatus(inserted));
  }
  const int32_t id = inserted.Int32(0, 0);
  const std::string table = Table(id);
  const std::string base = "records_" + std::to_string(id);
  std::string sql = "CREATE TABLE " + table +
                    " (position bigint PRIMARY KEY, data bytea NOT NULL";
  for (size_t key = 0; key < spec.keys.size(); ++key) {
    sql += ", " + KeyColumn(key) + " bytea NOT NULL";
  }
  sql += ");";
  for (size_t key = 0; key < spec.keys.size(); ++key) {
    sql += "CREATE INDEX " + base + "_" + KeyColumn(key) + " ON " + table +
           " (" + KeyColumn(key) + ", position);";
  }
  sql += "CREATE TRIGGER " + base +
         "_changed AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON " + table +
         " FOR EACH STATEMENT EXECUTE FUNCTION " + schema_ +
         ".tarnevos_changed();COMMIT";
  PgResult made = connection_->Execute(sql);
  if (!made.ok()) {
    if (IsState(made, "23505")) return Rollback(kStatusFileExists);
    return Rollback(ReadStatus(made));
  }
  return kStatusOk;
}

std::string PgStorage::IdentityOf(const std::string& name) {
  const std::string file = FileName(name);
  Entry entry;
  if (file.empty() || Connect() != kStatusOk ||
      Lookup(file, false, &entry) != kStatusOk) {
    return {};
  }
  return schema_ + "/" + std::to_string(entry.id);
}

int16_t PgStorage::Remove(const std::string& name) {
  const std::string file = FileName(name);
  if (file.empty()) return kStatusFileNotFound;
  int16_t status = Connect();
  if (status == kStatusOk) status = ReadStatus(connection_->Execute("BEGIN"));
  if (status != kStatusOk) return status;
  Entry entry;
  status = Lookup(file, true, &entry);
  if (status == kStatusOk) status = LockForReplacement(entry);
  if (status == kStatusOk) status = Drop(entry);
  if (status != kStatusOk) return Rollback(status);
  return WriteStatus(connection_->Execute("COMMIT"));
}

int16_t PgStorage::Replace(const std::vector<FileMove>& moves) {
  int16_t status = Connect();
  if (status == kStatusOk) status = ReadStatus(connection_->Execute("BEGIN"));
  if (status != kStatusOk) return status;
  for (const FileMove& move : moves) {
    const std::string from = FileName(move.from);
    const std::string to = FileName(move.to);
    if (from.empty() || to.empty()) return Rollback(kStatusFileNotFound);
    Entry moving;
    status = Lookup(from, true, &moving);
    if (status == kStatusOk) status = LockForReplacement(moving);
    if (status != kStatusOk) return Rollback(status);
    Entry replaced;
    status = Lookup(to, true, &replaced);
    if (status == kStatusOk) {
      status = LockForReplacement(replaced);
      if (status == kStatusOk) status = Drop(replaced);
    } else if (status == kStatusFileNotFound) {
      status = kStatusOk;
    }
    if (status != kStatusOk) return Rollback(status);
    PgResult renamed = connection_->Run(
        "UPDATE " + schema_ +
            ".datafiles SET name = $1::text WHERE id = $2::int4",
        PgParams().Bytes(to).Int32(moving.id));
    status = WriteStatus(renamed);
    if (status != kStatusOk) return Rollback(status);
  }
  return WriteStatus(connection_->Execute("COMMIT"));
}

ReadAheadLimits PgStorage::Limits() const {
  // Every statement is a round trip: the first batch after a seek is
  // larger than on SQLite, where a statement costs about as much as
  // reading a few rows.
  ReadAheadLimits limits;
  limits.first_rows = 16;
  limits.max_rows = 1024;
  limits.max_bytes = 256 * 1024;
  return limits;
}

}  // namespace

std::string ServerFileName(std::string_view name, std::string_view root) {
  std::string folded = Folded(name);
  const std::string folded_root = Folded(root);
  if (!folded_root.empty() && folded.size() > folded_root.size() &&
      folded.compare(0, folded_root.size(), folded_root) == 0) {
    folded.erase(0, folded_root.size());
    const size_t start = folded.find_first_not_of('/');
    folded.erase(0, start == std::string::npos ? folded.size() : start);
  }
  std::string encoded;
  encoded.reserve(folded.size());
  for (char c : folded) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '%') {
      static constexpr char kHex[] = "0123456789abcdef";
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    } else {
      encoded += c;
    }
  }
  return encoded;
}

std::string ServerSchemaName(std::string_view schema) {
  if (schema.empty()) return kDefaultSchema;
  if (schema.size() > kMaxIdentifier) return {};
  std::string name;
  for (char c : schema) {
    char lower = Lower(c);
    const bool letter = (lower >= 'a' && lower <= 'z') || lower == '_';
    const bool digit = lower >= '0' && lower <= '9';
    if (!letter && !(digit && !name.empty())) return {};
    name += lower;
  }
  return name;
}

std::unique_ptr<Storage> MakePostgresStorage(const ServerSettings& server) {
  return std::make_unique<PgStorage>(server);
}

std::unique_ptr<RecordManager> MakePostgresRecordManager(
    const ServerSettings& server) {
  return MakeEngine(MakePostgresStorage(server));
}

}  // namespace tarnevos::platform
