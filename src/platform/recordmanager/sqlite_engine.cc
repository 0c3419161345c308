// The SQLite engine behind RecordManagerCall: a table of open files, the
// position blocks that name them, and the caches that keep stepping along a
// key path fast without holding a read transaction between calls.

#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/recordmanager/file_spec.h"
#include "platform/recordmanager/position_block.h"
#include "platform/recordmanager/record_manager.h"
#include "platform/recordmanager/sqlite_data_file.h"
#include "platform/system/paths.h"
#include "util/little_endian.h"

namespace tarnevos::platform {
namespace {

// The first read-ahead after a seek is small (a single next costs little
// more than a point read); while the caller keeps stepping the batch
// doubles up to kMaxReadAheadRows, or kReadAheadBytes of records. A seek
// upwards also fetches as many records as the caller stepped over after
// the file's previous seek: callers that read a run of records (a unit's
// collections, a community's units) read runs of much the same length.
constexpr int kFirstReadAhead = 8;
constexpr int kMaxReadAheadRows = 1024;
constexpr size_t kReadAheadBytes = 256 * 1024;
// Results of get equal kept per file while nothing changes.
constexpr size_t kEqualCacheBytes = 1024 * 1024;

// Bumped in the child after fork(): SQLite connections must not cross it.
std::atomic<uint32_t> fork_epoch{0};
void CountFork() { fork_epoch.fetch_add(1, std::memory_order_relaxed); }

uint32_t NextEngineId() {
  static std::atomic<uint32_t> next{0x5A000000u};
  return next.fetch_add(1, std::memory_order_relaxed);
}

uint64_t RandomSecret() {
  try {
    std::random_device device;
    return static_cast<uint64_t>(device()) << 32 | device();
  } catch (...) {
    // No entropy source: the check value still catches stray bytes.
    static const int marker = 0;
    return reinterpret_cast<uintptr_t>(&marker) ^ 0x9E3779B97F4A7C15ULL;
  }
}

bool IsRead(int operation) {
  return (operation >= kOpGetEqual && operation <= kOpGetLast) ||
         operation == kOpGetPosition || operation == kOpGetDirect;
}

// The caller's buffers for one call.
struct Buffers {
  uint8_t* data = nullptr;
  uint32_t* data_length = nullptr;
  uint32_t capacity = 0;
  uint8_t* key = nullptr;
  uint8_t key_length = 0;

  std::string_view Data() const {
    return {reinterpret_cast<const char*>(data), capacity};
  }
  void SetReturned(uint32_t bytes) const {
    if (data_length != nullptr) *data_length = bytes;
  }
  // The key buffer as a value of `length` bytes (zero bytes past its end).
  std::string KeyValue(size_t length) const {
    std::string value(length, '\0');
    if (key != nullptr) {
      std::memcpy(value.data(), key, std::min<size_t>(length, key_length));
    }
    return value;
  }
  // A file name: up to the first NUL, or the whole buffer less trailing
  // blanks.
  std::string FileName() const {
    if (key == nullptr) return {};
    const char* text = reinterpret_cast<const char*>(key);
    size_t length = strnlen(text, key_length);
    if (length == key_length) {
      while (length > 0 && text[length - 1] == ' ') --length;
    }
    return std::string(text, length);
  }
};

struct EqualEntry {
  bool found = false;
  uint32_t position = 0;
  std::string data;
};

// Records that follow (or precede) the record `anchor` on key `key`, read in
// one statement and handed out one by one while the file is unchanged.
struct ReadAhead {
  bool valid = false;
  bool forward = true;
  int8_t key = 0;
  uint32_t anchor = 0;
  RowBatch rows;
  size_t next = 0;
  int batch = kFirstReadAhead;
};

struct OpenFile {
  std::unique_ptr<DataFile> file;
  uint32_t generation = 0;
  // The state this engine last wrote into a position block of this file,
  // and the image of that block's record on its key. A block that still
  // holds this state needs no read to find its place again.
  bool cursor_known = false;
  BlockState cursor;
  std::string cursor_image;
  // The bytes of that block: a block that still holds them is recognised
  // without checking it again.
  std::array<uint8_t, kBlockUsedBytes> cursor_block{};
  // Steps upwards since the last seek upwards.
  int steps_since_seek = 0;
  // Caches, valid while `stamp` is the file's change stamp.
  bool stamp_known = false;
  ChangeStamp stamp;
  ReadAhead ahead;
  std::vector<std::unordered_map<std::string, EqualEntry>> equal;
  size_t equal_bytes = 0;
};

class SqliteEngine final : public RecordManager {
 public:
  SqliteEngine()
      : engine_id_(NextEngineId()),
        secret_(RandomSecret()),
        epoch_(fork_epoch.load(std::memory_order_relaxed)) {}
  ~SqliteEngine() override {
    if (epoch_ != fork_epoch.load(std::memory_order_relaxed)) Abandon();
  }
  SqliteEngine(const SqliteEngine&) = delete;
  SqliteEngine& operator=(const SqliteEngine&) = delete;

  int16_t Call(int16_t operation, uint8_t* position_block, uint8_t* data,
               uint32_t* data_length, uint8_t* key, uint8_t key_length,
               int8_t key_number) override;
  int16_t InsertMany(uint8_t* position_block, const uint8_t* records,
                     uint32_t record_size, uint32_t count, int8_t key_number,
                     uint32_t* failed_index) override;

 private:
  // Open files.
  int16_t Open(uint8_t* block, const Buffers& buffers, int8_t mode);
  int16_t Create(const Buffers& buffers, int8_t mode);
  int16_t Close(uint8_t* block);
  void CloseAll();
  void Abandon();
  OpenFile* Find(const uint8_t* block, BlockState* state);

  // Reads.
  int16_t GetByKey(OpenFile& file, uint8_t* block, const BlockState& state,
                   int operation, int8_t key, const Buffers& buffers);
  int16_t GetEqual(OpenFile& file, uint8_t* block, const BlockState& state,
                   int8_t key, const Buffers& buffers);
  int16_t Step(OpenFile& file, uint8_t* block, const BlockState& state,
               bool forward, int8_t key, const Buffers& buffers);
  int16_t GetDirect(OpenFile& file, uint8_t* block, const BlockState& state,
                    int8_t key, const Buffers& buffers);
  int16_t GetPosition(const BlockState& state, const Buffers& buffers);
  int16_t Stat(OpenFile& file, const Buffers& buffers);
  // Where `state` stands on key `key`: its record's image. Status 8 when it
  // stands nowhere or its record is gone (and the engine did not keep it).
  int16_t CursorImage(OpenFile& file, const BlockState& state, int8_t key,
                      std::string* image);

  // Writes.
  int16_t Insert(OpenFile& file, uint8_t* block, const BlockState& state,
                 int8_t key, const Buffers& buffers);
  int16_t Update(OpenFile& file, uint8_t* block, const BlockState& state,
                 const Buffers& buffers);
  int16_t Delete(OpenFile& file, uint8_t* block, const BlockState& state);

  // Hands a record to the caller and makes it the block's current record.
  int16_t Deliver(OpenFile& file, uint8_t* block, const BlockState& state,
                  int8_t key, uint32_t position, std::string_view record,
                  std::string_view image, const Buffers& buffers);
  void SetCursor(OpenFile& file, uint8_t* block, const BlockState& state,
                 std::string_view image);
  void ReturnKeyValue(const OpenFile& file, int8_t key, std::string_view record,
                      const Buffers& buffers) const;
  // Drops the caches if another connection committed since they were
  // filled; reads the stamp that new cache entries will be valid for.
  void Revalidate(OpenFile& file);
  void Invalidate(OpenFile& file);

  const uint32_t engine_id_;
  const uint64_t secret_;
  uint32_t epoch_;
  uint32_t next_generation_ = 1;
  std::vector<std::unique_ptr<OpenFile>> files_;
  RowBatch scratch_;  // rows of reads that keep none
};

bool ValidKey(const OpenFile& file, int8_t key) {
  return key >= 0 && static_cast<size_t>(key) < file.file->spec().keys.size();
}

// The most records one read-ahead may hold.
int MaxBatch(const OpenFile& file, size_t image_bytes) {
  size_t row_bytes = file.file->spec().record_length + image_bytes + 64;
  return std::max(1, std::min(kMaxReadAheadRows,
                              static_cast<int>(kReadAheadBytes / row_bytes)));
}

int16_t SqliteEngine::Call(int16_t operation, uint8_t* position_block,
                           uint8_t* data, uint32_t* data_length, uint8_t* key,
                           uint8_t key_length, int8_t key_number) {
  uint32_t epoch = fork_epoch.load(std::memory_order_relaxed);
  if (epoch != epoch_) {
    Abandon();
    epoch_ = epoch;
  }
  int base = operation;
  if (operation >= 100 && operation < 500) {
    // A lock bias: this engine takes no record locks; reads read.
    base = operation % 100;
    if (!IsRead(base)) return kStatusInvalidOperation;
  }
  Buffers buffers;
  buffers.data = data;
  buffers.data_length = data_length;
  buffers.capacity =
      (data != nullptr && data_length != nullptr) ? *data_length : 0;
  buffers.key = key;
  buffers.key_length = key != nullptr ? key_length : 0;

  switch (base) {
    case kOpOpen:
      return Open(position_block, buffers, key_number);
    case kOpCreate:
      return Create(buffers, key_number);
    case kOpReset:
      CloseAll();
      return kStatusOk;
    case kOpClose:
      return Close(position_block);
    default:
      break;
  }
  BlockState state;
  OpenFile* file = Find(position_block, &state);
  bool known = (base >= kOpInsert && base <= kOpGetLast) || base == kOpStat ||
               base == kOpGetPosition || base == kOpGetDirect;
  if (!known) return kStatusInvalidOperation;
  if (file == nullptr) return kStatusNotOpen;
  switch (base) {
    case kOpInsert:
      return Insert(*file, position_block, state, key_number, buffers);
    case kOpUpdate:
      return Update(*file, position_block, state, buffers);
    case kOpDelete:
      return Delete(*file, position_block, state);
    case kOpGetEqual:
      return GetEqual(*file, position_block, state, key_number, buffers);
    case kOpGetNext:
      return Step(*file, position_block, state, true, key_number, buffers);
    case kOpGetPrevious:
      return Step(*file, position_block, state, false, key_number, buffers);
    case kOpStat:
      return Stat(*file, buffers);
    case kOpGetPosition:
      return GetPosition(state, buffers);
    case kOpGetDirect:
      return GetDirect(*file, position_block, state, key_number, buffers);
    default:
      return GetByKey(*file, position_block, state, base, key_number, buffers);
  }
}

// ---- Open files ----------------------------------------------------------

OpenFile* SqliteEngine::Find(const uint8_t* block, BlockState* state) {
  if (block == nullptr) return nullptr;
  // Most calls bring back the block this engine wrote last for the file.
  const uint32_t hint = BlockSlotHint(block);
  if (hint < files_.size() && files_[hint] != nullptr) {
    OpenFile* file = files_[hint].get();
    if (file->cursor_known &&
        std::memcmp(block, file->cursor_block.data(), kBlockUsedBytes) == 0) {
      *state = file->cursor;
      return file;
    }
  }
  std::optional<BlockState> read = ReadBlock(block, engine_id_, secret_);
  if (!read || read->slot >= files_.size()) return nullptr;
  OpenFile* file = files_[read->slot].get();
  if (file == nullptr || file->generation != read->generation) return nullptr;
  *state = *read;
  return file;
}

int16_t SqliteEngine::Open(uint8_t* block, const Buffers& buffers,
                           int8_t mode) {
  if (block == nullptr) return kStatusIoError;
  // A block that still names an open file is reused: close that file
  // rather than lose it.
  BlockState old;
  if (Find(block, &old) != nullptr) files_[old.slot].reset();
  std::unique_ptr<DataFile> data_file;
  constexpr int8_t kExclusiveMode = -4;
  int16_t status = DataFile::Open(NativePath(buffers.FileName()),
                                  mode == kExclusiveMode, &data_file);
  if (status != kStatusOk) return status;
  auto file = std::make_unique<OpenFile>();
  file->file = std::move(data_file);
  file->generation = next_generation_++;
  file->equal.resize(file->file->spec().keys.size());
  auto free_slot = std::find(files_.begin(), files_.end(), nullptr);
  size_t slot = static_cast<size_t>(free_slot - files_.begin());
  if (free_slot == files_.end()) files_.emplace_back();
  BlockState state;
  state.slot = static_cast<uint32_t>(slot);
  state.generation = file->generation;
  WriteBlock(block, engine_id_, secret_, state);
  files_[slot] = std::move(file);
  return kStatusOk;
}

int16_t SqliteEngine::Create(const Buffers& buffers, int8_t mode) {
  std::optional<FileSpec> spec = ParseFileSpec(buffers.Data());
  if (!spec) return kStatusIoError;
  std::string path = NativePath(buffers.FileName());
  bool overwrite = mode != -1;
  if (overwrite && !path.empty()) {
    // This engine's own connections would not show up as "in use" to the
    // exclusive-lock test (locks are per process).
    struct stat info;
    if (::stat(path.c_str(), &info) == 0) {
      for (const auto& file : files_) {
        if (file != nullptr && file->file->device() == info.st_dev &&
            file->file->inode() == info.st_ino) {
          return kStatusFileLocked;
        }
      }
    }
  }
  return DataFile::Create(path, *spec, overwrite);
}

int16_t SqliteEngine::Close(uint8_t* block) {
  BlockState state;
  if (Find(block, &state) == nullptr) return kStatusNotOpen;
  files_[state.slot].reset();
  ClearBlock(block);
  return kStatusOk;
}

void SqliteEngine::CloseAll() { files_.clear(); }

void SqliteEngine::Abandon() {
  // In a forked child the connections belong to the parent: closing them
  // here could checkpoint and delete the parent's WAL. Let them go unused.
  for (auto& file : files_) {
    if (file != nullptr) {
      (void)file->file.release();
    }
  }
  files_.clear();
}

// ---- Caches ---------------------------------------------------------------

void SqliteEngine::Revalidate(OpenFile& file) {
  ChangeStamp stamp = file.file->Stamp();
  if (file.stamp_known && stamp == file.stamp) return;
  file.ahead.valid = false;
  for (auto& map : file.equal) map.clear();
  file.equal_bytes = 0;
  file.stamp = stamp;
  file.stamp_known = true;
}

void SqliteEngine::Invalidate(OpenFile& file) {
  file.ahead.valid = false;
  for (auto& map : file.equal) map.clear();
  file.equal_bytes = 0;
  file.stamp_known = false;
}

// ---- Delivering records ---------------------------------------------------

void SqliteEngine::ReturnKeyValue(const OpenFile& file, int8_t key,
                                  std::string_view record,
                                  const Buffers& buffers) const {
  if (buffers.key == nullptr) return;
  CopyKeyValue(file.file->spec(), static_cast<size_t>(key), record, buffers.key,
               buffers.key_length);
}

void SqliteEngine::SetCursor(OpenFile& file, uint8_t* block,
                             const BlockState& state, std::string_view image) {
  WriteBlock(block, engine_id_, secret_, state);
  file.cursor = state;
  file.cursor_image.assign(image);
  std::memcpy(file.cursor_block.data(), block, kBlockUsedBytes);
  file.cursor_known = true;
}

int16_t SqliteEngine::Deliver(OpenFile& file, uint8_t* block,
                              const BlockState& state, int8_t key,
                              uint32_t position, std::string_view record,
                              std::string_view image, const Buffers& buffers) {
  uint32_t length = static_cast<uint32_t>(
      std::min<size_t>(record.size(), file.file->spec().record_length));
  uint32_t returned = std::min(length, buffers.capacity);
  if (returned > 0) std::memcpy(buffers.data, record.data(), returned);
  buffers.SetReturned(returned);
  ReturnKeyValue(file, key, record, buffers);
  BlockState next = state;
  next.position = position;
  next.key_number = key;
  next.flags = kBlockPlaced | kBlockCurrent;
  SetCursor(file, block, next, image);
  return returned < length ? int16_t{kStatusBufferTooShort}
                           : int16_t{kStatusOk};
}

// ---- Reads ----------------------------------------------------------------

// The answer of a seek upwards, when the read-ahead holds it: its records
// are a stretch of the key path with nothing between them, so a record
// whose predecessor in the stretch lies below the image is the first one at
// or above it. Moves the read-ahead on past that record; nullptr (and
// nothing changed) when the stretch does not tell.
const StoredRecord* SeekInReadAhead(ReadAhead& ahead, int8_t key,
                                    std::string_view image, bool strictly) {
  if (!ahead.valid || !ahead.forward || ahead.key != key) return nullptr;
  const auto begin = ahead.rows.rows.begin();
  const auto end = begin + static_cast<std::ptrdiff_t>(ahead.rows.size);
  const auto at = std::partition_point(
      begin, end, [image, strictly](const StoredRecord& row) {
        return strictly ? row.image <= image : row.image < image;
      });
  if (at == begin || at == end) return nullptr;
  ahead.next = static_cast<size_t>(at - begin) + 1;
  ahead.anchor = at->position;
  return &*at;
}

int16_t SqliteEngine::GetEqual(OpenFile& file, uint8_t* block,
                               const BlockState& state, int8_t key,
                               const Buffers& buffers) {
  if (!ValidKey(file, key)) return kStatusInvalidKeyNumber;
  const FileSpec& spec = file.file->spec();
  std::string image =
      KeyImageOfValue(spec, key, buffers.KeyValue(spec.keys[key].length));
  Revalidate(file);
  auto& cache = file.equal[key];
  auto hit = cache.find(image);
  if (hit == cache.end()) {
    int16_t status = file.file->Find(key, Seek::kEqual, image, 0, 1, &scratch_);
    if (status != kStatusOk) return status;
    EqualEntry entry;
    entry.found = !scratch_.empty();
    if (entry.found) {
      entry.position = scratch_[0].position;
      entry.data = scratch_[0].data;
    }
    size_t bytes = image.size() + entry.data.size() + 64;
    if (file.equal_bytes + bytes > kEqualCacheBytes) {
      for (auto& map : file.equal) map.clear();
      file.equal_bytes = 0;
    }
    file.equal_bytes += bytes;
    hit = cache.emplace(image, std::move(entry)).first;
  }
  if (!hit->second.found) {
    buffers.SetReturned(0);
    return kStatusKeyNotFound;
  }
  return Deliver(file, block, state, key, hit->second.position,
                 hit->second.data, image, buffers);
}

int16_t SqliteEngine::GetByKey(OpenFile& file, uint8_t* block,
                               const BlockState& state, int operation,
                               int8_t key, const Buffers& buffers) {
  if (!ValidKey(file, key)) return kStatusInvalidKeyNumber;
  Seek kind = Seek::kFirst;
  switch (operation) {
    case kOpGetGreater:
      kind = Seek::kGreater;
      break;
    case kOpGetGreaterOrEqual:
      kind = Seek::kGreaterOrEqual;
      break;
    case kOpGetLess:
      kind = Seek::kLess;
      break;
    case kOpGetLessOrEqual:
      kind = Seek::kLessOrEqual;
      break;
    case kOpGetLast:
      kind = Seek::kLast;
      break;
    default:
      break;
  }
  const FileSpec& spec = file.file->spec();
  std::string image;
  if (kind != Seek::kFirst && kind != Seek::kLast) {
    image = KeyImageOfValue(spec, key, buffers.KeyValue(spec.keys[key].length));
  }
  const bool upward = kind == Seek::kFirst || kind == Seek::kGreater ||
                      kind == Seek::kGreaterOrEqual;
  int limit = 1;
  if (upward) {
    limit = std::min(file.steps_since_seek + 1, MaxBatch(file, image.size()));
    file.steps_since_seek = 0;
  }
  // The records after the one found become the read-ahead of the steps
  // that follow; the cache must be current before they are kept.
  Revalidate(file);
  ReadAhead& ahead = file.ahead;
  if (kind == Seek::kGreater || kind == Seek::kGreaterOrEqual) {
    const StoredRecord* found =
        SeekInReadAhead(ahead, key, image, kind == Seek::kGreater);
    if (found != nullptr) {
      return Deliver(file, block, state, key, found->position, found->data,
                     found->image, buffers);
    }
  }
  ahead.valid = false;
  int16_t status = file.file->Find(key, kind, image, 0, limit, &ahead.rows);
  if (status == kStatusOk && ahead.rows.empty()) status = kStatusEndOfFile;
  if (status != kStatusOk) {
    buffers.SetReturned(0);
    return status;
  }
  const StoredRecord& row = ahead.rows[0];
  if (upward && ahead.rows.size > 1) {
    ahead.valid = true;
    ahead.forward = true;
    ahead.key = key;
    ahead.anchor = row.position;
    ahead.next = 1;
    ahead.batch = std::max(limit, kFirstReadAhead);
  }
  return Deliver(file, block, state, key, row.position, row.data, row.image,
                 buffers);
}

int16_t SqliteEngine::CursorImage(OpenFile& file, const BlockState& state,
                                  int8_t key, std::string* image) {
  if (!(state.flags & kBlockPlaced)) return kStatusInvalidPositioning;
  if (file.cursor_known && file.cursor == state && state.key_number == key) {
    *image = file.cursor_image;
    return kStatusOk;
  }
  // A block the engine did not write last (a copy kept by the caller, or a
  // different key asked for): find its place from its record.
  if (!(state.flags & kBlockCurrent)) return kStatusInvalidPositioning;
  std::string record;
  int16_t status = file.file->ReadAt(state.position, &record);
  if (status != kStatusOk) return status;
  *image = KeyImageOfRecord(file.file->spec(), key, record);
  return kStatusOk;
}

int16_t SqliteEngine::Step(OpenFile& file, uint8_t* block,
                           const BlockState& state, bool forward, int8_t key,
                           const Buffers& buffers) {
  if (!ValidKey(file, key)) return kStatusInvalidKeyNumber;
  std::string image;
  int16_t status = CursorImage(file, state, key, &image);
  if (status != kStatusOk) {
    buffers.SetReturned(0);
    return status;
  }
  Revalidate(file);
  ReadAhead& ahead = file.ahead;
  bool continues = ahead.valid && ahead.forward == forward &&
                   ahead.key == key && ahead.anchor == state.position;
  if (!continues || ahead.next >= ahead.rows.size) {
    int batch = kFirstReadAhead;
    if (continues) {
      batch = std::max(kFirstReadAhead,
                       std::min(ahead.batch * 2, MaxBatch(file, image.size())));
    }
    status = file.file->Find(key, forward ? Seek::kAfter : Seek::kBefore, image,
                             state.position, batch, &ahead.rows);
    ahead.valid = status == kStatusOk && !ahead.rows.empty();
    if (!ahead.valid) {
      buffers.SetReturned(0);
      return status != kStatusOk ? status : int16_t{kStatusEndOfFile};
    }
    ahead.forward = forward;
    ahead.key = key;
    ahead.next = 0;
    ahead.batch = batch;
  }
  const StoredRecord& row = ahead.rows[ahead.next++];
  ahead.anchor = row.position;
  if (forward) ++file.steps_since_seek;
  return Deliver(file, block, state, key, row.position, row.data, row.image,
                 buffers);
}

int16_t SqliteEngine::GetDirect(OpenFile& file, uint8_t* block,
                                const BlockState& state, int8_t key,
                                const Buffers& buffers) {
  if (buffers.capacity < 4) {
    buffers.SetReturned(0);
    return kStatusBufferTooShort;
  }
  if (!ValidKey(file, key)) return kStatusInvalidKeyNumber;
  const uint32_t position = le::LoadU32(buffers.data);
  std::string record;
  int16_t status = position == 0 ? int16_t{kStatusInvalidPositioning}
                                 : file.file->ReadAt(position, &record);
  if (status != kStatusOk) {
    buffers.SetReturned(0);
    return status;
  }
  std::string image = KeyImageOfRecord(file.file->spec(), key, record);
  return Deliver(file, block, state, key, position, record, image, buffers);
}

int16_t SqliteEngine::GetPosition(const BlockState& state,
                                  const Buffers& buffers) {
  if (!(state.flags & kBlockCurrent)) {
    buffers.SetReturned(0);
    return kStatusInvalidPositioning;
  }
  uint8_t bytes[4];
  le::StoreU32(bytes, state.position);
  uint32_t returned = std::min<uint32_t>(4, buffers.capacity);
  if (returned > 0) std::memcpy(buffers.data, bytes, returned);
  buffers.SetReturned(returned);
  return returned < 4 ? int16_t{kStatusBufferTooShort} : int16_t{kStatusOk};
}

int16_t SqliteEngine::Stat(OpenFile& file, const Buffers& buffers) {
  const std::string& bytes = file.file->spec().bytes;
  uint32_t returned =
      std::min(static_cast<uint32_t>(bytes.size()), buffers.capacity);
  if (returned > 0) std::memcpy(buffers.data, bytes.data(), returned);
  buffers.SetReturned(returned);
  return returned < bytes.size() ? int16_t{kStatusBufferTooShort}
                                 : int16_t{kStatusOk};
}

// ---- Writes ---------------------------------------------------------------

int16_t SqliteEngine::Insert(OpenFile& file, uint8_t* block,
                             const BlockState& state, int8_t key,
                             const Buffers& buffers) {
  const FileSpec& spec = file.file->spec();
  if (!ValidKey(file, key)) return kStatusInvalidKeyNumber;
  if (buffers.capacity < spec.record_length) return kStatusBufferTooShort;
  std::string_view record = buffers.Data().substr(0, spec.record_length);
  uint32_t position = 0;
  int16_t status = file.file->Insert(record, &position);
  Invalidate(file);
  if (status != kStatusOk) return status;
  ReturnKeyValue(file, key, record, buffers);
  BlockState next = state;
  next.position = position;
  next.key_number = key;
  next.flags = kBlockPlaced | kBlockCurrent;
  SetCursor(file, block, next, KeyImageOfRecord(spec, key, record));
  return kStatusOk;
}

int16_t SqliteEngine::InsertMany(uint8_t* position_block,
                                 const uint8_t* records, uint32_t record_size,
                                 uint32_t count, int8_t key_number,
                                 uint32_t* failed_index) {
  if (failed_index != nullptr) *failed_index = 0;
  BlockState state;
  OpenFile* file = Find(position_block, &state);
  if (file == nullptr) return kStatusNotOpen;
  const FileSpec& spec = file->file->spec();
  if (!ValidKey(*file, key_number)) return kStatusInvalidKeyNumber;
  if (record_size < spec.record_length) return kStatusBufferTooShort;
  if (count == 0) return kStatusOk;
  if (records == nullptr) return kStatusBufferTooShort;
  uint32_t failed = 0;
  uint32_t last = 0;
  int16_t status =
      file->file->InsertMany(records, record_size, count, &failed, &last);
  Invalidate(*file);
  if (status != kStatusOk) {
    if (failed_index != nullptr) *failed_index = failed;
    return status;
  }
  std::string_view record(reinterpret_cast<const char*>(records) +
                              static_cast<size_t>(count - 1) * record_size,
                          spec.record_length);
  BlockState next = state;
  next.position = last;
  next.key_number = key_number;
  next.flags = kBlockPlaced | kBlockCurrent;
  SetCursor(*file, position_block, next,
            KeyImageOfRecord(spec, key_number, record));
  return kStatusOk;
}

int16_t SqliteEngine::Update(OpenFile& file, uint8_t* block,
                             const BlockState& state, const Buffers& buffers) {
  const FileSpec& spec = file.file->spec();
  if (!(state.flags & kBlockCurrent)) return kStatusInvalidPositioning;
  if (buffers.capacity < spec.record_length) return kStatusBufferTooShort;
  std::string_view record = buffers.Data().substr(0, spec.record_length);
  int16_t status = file.file->Update(state.position, record);
  Invalidate(file);
  if (status != kStatusOk) return status;
  int8_t key = ValidKey(file, state.key_number) ? state.key_number : 0;
  ReturnKeyValue(file, key, record, buffers);
  BlockState next = state;
  next.key_number = key;
  SetCursor(file, block, next, KeyImageOfRecord(spec, key, record));
  return kStatusOk;
}

int16_t SqliteEngine::Delete(OpenFile& file, uint8_t* block,
                             const BlockState& state) {
  if (!(state.flags & kBlockCurrent)) return kStatusInvalidPositioning;
  int8_t key = ValidKey(file, state.key_number) ? state.key_number : 0;
  // Keep the deleted record's place so that next/previous go on from it.
  std::string image;
  int16_t status = CursorImage(file, state, key, &image);
  if (status == kStatusOk) status = file.file->Delete(state.position);
  Invalidate(file);
  if (status != kStatusOk) return status;
  BlockState next = state;
  next.key_number = key;
  next.flags = kBlockPlaced;
  SetCursor(file, block, next, image);
  return kStatusOk;
}

}  // namespace

std::unique_ptr<RecordManager> MakeSqliteRecordManager() {
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, CountFork);
    return true;
  }();
  (void)registered;
  return std::make_unique<SqliteEngine>();
}

}  // namespace tarnevos::platform
