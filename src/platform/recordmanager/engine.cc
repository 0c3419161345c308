// The engine behind RecordManagerCall, the same over every storage: a table
// of open files, the position blocks that name them, and the caches that
// keep stepping along a key path fast without holding a read transaction
// between calls.
//
// The first read-ahead after a seek is small (a single next costs little
// more than a point read); while the caller keeps stepping the batch
// doubles up to the storage's limits. A seek upwards also fetches as many
// records as the caller stepped over after the file's previous seek:
// callers that read a run of records (a unit's collections, a community's
// units) read runs of much the same length.

#include "platform/recordmanager/engine.h"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/recordmanager/file_spec.h"
#include "platform/recordmanager/key_path_cache.h"
#include "platform/recordmanager/position_block.h"
#include "platform/recordmanager/record_manager.h"
#include "util/little_endian.h"

namespace tarnevos::platform {
namespace {

// Records of a finished stretch kept in front of the next one.
constexpr size_t kKeptBehind = 64;

// Bumped in the child after fork(): connections must not cross it.
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

struct OpenFile {
  explicit OpenFile(std::unique_ptr<StoredFile> stored)
      : file(std::move(stored)), cache(file->spec().keys.size()) {}

  std::unique_ptr<StoredFile> file;
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
  // Read ahead and get-equal answers, valid while the file's change stamp
  // stays the one they were read under.
  KeyPathCache cache;
};

class Engine final : public RecordManager {
 public:
  explicit Engine(std::unique_ptr<Storage> storage)
      : storage_(std::move(storage)),
        limits_(storage_->Limits()),
        engine_id_(NextEngineId()),
        secret_(RandomSecret()),
        epoch_(fork_epoch.load(std::memory_order_relaxed)) {}
  ~Engine() override {
    if (epoch_ != fork_epoch.load(std::memory_order_relaxed)) Abandon();
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  int16_t Call(int16_t operation, uint8_t* position_block, uint8_t* data,
               uint32_t* data_length, uint8_t* key, uint8_t key_length,
               int8_t key_number) override;
  int16_t InsertMany(uint8_t* position_block, const uint8_t* records,
                     uint32_t record_size, uint32_t count, int8_t key_number,
                     uint32_t* failed_index) override;
  void Refresh() override;
  int16_t RemoveFile(const std::string& name) override;
  int16_t ReplaceFiles(const std::vector<FileMove>& moves) override;

 private:
  // Open files.
  int16_t Open(uint8_t* block, const Buffers& buffers, int8_t mode);
  int16_t Create(const Buffers& buffers, int8_t mode);
  int16_t Close(uint8_t* block);
  void CloseAll();
  void Abandon();
  OpenFile* Find(const uint8_t* block, BlockState* state);
  // Whether this engine has the file of `identity` open (and with
  // `exclusive_only`, open exclusively).
  bool HasOpen(const std::string& identity, bool exclusive_only,
               const OpenFile* besides = nullptr) const;
  // Status 85 when this engine has the file `name` denotes open.
  int16_t CheckNotOpenHere(const std::string& name);
  int MaxBatch(const OpenFile& file, size_t image_bytes) const;

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
  void Revalidate(OpenFile& file) { file.cache.Revalidate(file.file->Stamp()); }

  std::unique_ptr<Storage> storage_;
  const ReadAheadLimits limits_;
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
int Engine::MaxBatch(const OpenFile& file, size_t image_bytes) const {
  size_t row_bytes = file.file->spec().record_length + image_bytes + 64;
  return std::max(1, std::min(limits_.max_rows,
                              static_cast<int>(limits_.max_bytes / row_bytes)));
}

int16_t Engine::Call(int16_t operation, uint8_t* position_block, uint8_t* data,
                     uint32_t* data_length, uint8_t* key, uint8_t key_length,
                     int8_t key_number) {
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

OpenFile* Engine::Find(const uint8_t* block, BlockState* state) {
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

int16_t Engine::Open(uint8_t* block, const Buffers& buffers, int8_t mode) {
  if (block == nullptr) return kStatusIoError;
  // A block that still names an open file is reused: close that file
  // rather than lose it.
  BlockState old;
  if (Find(block, &old) != nullptr) files_[old.slot].reset();
  std::unique_ptr<StoredFile> stored;
  constexpr int8_t kExclusiveMode = -4;
  const bool exclusive = mode == kExclusiveMode;
  int16_t status = storage_->Open(buffers.FileName(), exclusive, &stored);
  if (status != kStatusOk) return status;
  // The storage's locks do not tell this engine's own opens apart (one
  // server session; one process for SQLite), so they are checked here.
  if (HasOpen(stored->identity(), !exclusive)) return kStatusFileLocked;
  auto file = std::make_unique<OpenFile>(std::move(stored));
  file->generation = next_generation_++;
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

bool Engine::HasOpen(const std::string& identity, bool exclusive_only,
                     const OpenFile* besides) const {
  if (identity.empty()) return false;
  for (const auto& file : files_) {
    if (file == nullptr || file.get() == besides) continue;
    if (file->file->identity() != identity) continue;
    if (!exclusive_only || file->file->exclusive()) return true;
  }
  return false;
}

int16_t Engine::CheckNotOpenHere(const std::string& name) {
  if (files_.empty()) return kStatusOk;
  return HasOpen(storage_->IdentityOf(name), false) ? int16_t{kStatusFileLocked}
                                                    : int16_t{kStatusOk};
}

int16_t Engine::Create(const Buffers& buffers, int8_t mode) {
  std::optional<FileSpec> spec = ParseFileSpec(buffers.Data());
  if (!spec) return kStatusIoError;
  const std::string name = buffers.FileName();
  bool overwrite = mode != -1;
  if (overwrite) {
    // This engine's own opens would not show up as "in use" to the
    // storage's lock test (locks are per process or per session).
    int16_t status = CheckNotOpenHere(name);
    if (status != kStatusOk) return status;
  }
  return storage_->Create(name, *spec, overwrite);
}

int16_t Engine::RemoveFile(const std::string& name) {
  int16_t status = CheckNotOpenHere(name);
  return status != kStatusOk ? status : storage_->Remove(name);
}

int16_t Engine::ReplaceFiles(const std::vector<FileMove>& moves) {
  for (const FileMove& move : moves) {
    for (const std::string* name : {&move.from, &move.to}) {
      int16_t status = CheckNotOpenHere(*name);
      if (status != kStatusOk) return status;
    }
  }
  return storage_->Replace(moves);
}

void Engine::Refresh() {
  for (auto& file : files_) {
    if (file == nullptr) continue;
    file->cache.Invalidate();
    file->file->Refresh();
  }
}

int16_t Engine::Close(uint8_t* block) {
  BlockState state;
  if (Find(block, &state) == nullptr) return kStatusNotOpen;
  files_[state.slot].reset();
  ClearBlock(block);
  return kStatusOk;
}

void Engine::CloseAll() { files_.clear(); }

void Engine::Abandon() {
  // In a forked child the connections belong to the parent: closing them
  // here could checkpoint and delete the parent's WAL, or end the parent's
  // server session. Let them go unused.
  for (auto& file : files_) {
    if (file != nullptr) {
      (void)file->file.release();
    }
  }
  files_.clear();
  storage_->Abandon();
}

// ---- Delivering records ---------------------------------------------------

void Engine::ReturnKeyValue(const OpenFile& file, int8_t key,
                            std::string_view record,
                            const Buffers& buffers) const {
  if (buffers.key == nullptr) return;
  CopyKeyValue(file.file->spec(), static_cast<size_t>(key), record, buffers.key,
               buffers.key_length);
}

void Engine::SetCursor(OpenFile& file, uint8_t* block, const BlockState& state,
                       std::string_view image) {
  WriteBlock(block, engine_id_, secret_, state);
  file.cursor = state;
  file.cursor_image.assign(image);
  std::memcpy(file.cursor_block.data(), block, kBlockUsedBytes);
  file.cursor_known = true;
}

int16_t Engine::Deliver(OpenFile& file, uint8_t* block, const BlockState& state,
                        int8_t key, uint32_t position, std::string_view record,
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

int16_t Engine::GetEqual(OpenFile& file, uint8_t* block,
                         const BlockState& state, int8_t key,
                         const Buffers& buffers) {
  if (!ValidKey(file, key)) return kStatusInvalidKeyNumber;
  const FileSpec& spec = file.file->spec();
  std::string image =
      KeyImageOfValue(spec, key, buffers.KeyValue(spec.keys[key].length));
  Revalidate(file);
  const EqualAnswer* answer = file.cache.FindEqual(key, image);
  if (answer == nullptr) {
    scratch_.size = 0;
    int16_t status = file.file->Find(key, Seek::kEqual, image, 0, 1, &scratch_);
    if (status != kStatusOk) {
      buffers.SetReturned(0);
      return status;
    }
    EqualAnswer fresh;
    fresh.found = !scratch_.empty();
    if (fresh.found) {
      fresh.position = scratch_[0].position;
      fresh.data = scratch_[0].data;
    }
    answer = &file.cache.KeepEqual(key, image, std::move(fresh));
  }
  if (!answer->found) {
    buffers.SetReturned(0);
    return kStatusKeyNotFound;
  }
  return Deliver(file, block, state, key, answer->position, answer->data, image,
                 buffers);
}

int16_t Engine::GetByKey(OpenFile& file, uint8_t* block,
                         const BlockState& state, int operation, int8_t key,
                         const Buffers& buffers) {
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
  ReadAhead& ahead = file.cache.ahead();
  if (kind == Seek::kGreater || kind == Seek::kGreaterOrEqual) {
    const StoredRecord* found =
        file.cache.SeekUpwards(key, image, kind == Seek::kGreater);
    if (found != nullptr) {
      return Deliver(file, block, state, key, found->position, found->data,
                     found->image, buffers);
    }
  }
  ahead.valid = false;
  ahead.rows.size = 0;
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
    ahead.batch = std::max(limit, limits_.first_rows);
  }
  return Deliver(file, block, state, key, row.position, row.data, row.image,
                 buffers);
}

int16_t Engine::CursorImage(OpenFile& file, const BlockState& state, int8_t key,
                            std::string* image) {
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

int16_t Engine::Step(OpenFile& file, uint8_t* block, const BlockState& state,
                     bool forward, int8_t key, const Buffers& buffers) {
  if (!ValidKey(file, key)) return kStatusInvalidKeyNumber;
  std::string image;
  int16_t status = CursorImage(file, state, key, &image);
  if (status != kStatusOk) {
    buffers.SetReturned(0);
    return status;
  }
  Revalidate(file);
  ReadAhead& ahead = file.cache.ahead();
  bool continues = ahead.valid && ahead.forward == forward &&
                   ahead.key == key && ahead.anchor == state.position;
  if (!continues || ahead.next >= ahead.rows.size) {
    int batch = limits_.first_rows;
    if (continues) {
      batch = std::max(limits_.first_rows,
                       std::min(ahead.batch * 2, MaxBatch(file, image.size())));
    }
    // Going on upwards, the last records read stay in front of the new
    // ones: a caller that goes back to the start of the run it is reading
    // (a community's units, read once for its totals and once for its
    // lines) finds it there without a statement.
    size_t kept = 0;
    if (continues && forward) {
      kept = std::min(ahead.rows.size, kKeptBehind);
      std::rotate(ahead.rows.rows.begin(),
                  ahead.rows.rows.begin() +
                      static_cast<std::ptrdiff_t>(ahead.rows.size - kept),
                  ahead.rows.rows.begin() +
                      static_cast<std::ptrdiff_t>(ahead.rows.size));
    }
    ahead.rows.size = kept;
    status = file.file->Find(key, forward ? Seek::kAfter : Seek::kBefore, image,
                             state.position, batch, &ahead.rows);
    ahead.valid = status == kStatusOk && ahead.rows.size > kept;
    if (!ahead.valid) {
      ahead.rows.size = 0;
      buffers.SetReturned(0);
      return status != kStatusOk ? status : int16_t{kStatusEndOfFile};
    }
    ahead.forward = forward;
    ahead.key = key;
    ahead.next = kept;
    ahead.batch = batch;
  }
  const StoredRecord& row = ahead.rows[ahead.next++];
  ahead.anchor = row.position;
  if (forward) ++file.steps_since_seek;
  return Deliver(file, block, state, key, row.position, row.data, row.image,
                 buffers);
}

int16_t Engine::GetDirect(OpenFile& file, uint8_t* block,
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

int16_t Engine::GetPosition(const BlockState& state, const Buffers& buffers) {
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

int16_t Engine::Stat(OpenFile& file, const Buffers& buffers) {
  const std::string& bytes = file.file->spec().bytes;
  uint32_t returned =
      std::min(static_cast<uint32_t>(bytes.size()), buffers.capacity);
  if (returned > 0) std::memcpy(buffers.data, bytes.data(), returned);
  buffers.SetReturned(returned);
  return returned < bytes.size() ? int16_t{kStatusBufferTooShort}
                                 : int16_t{kStatusOk};
}

// ---- Writes ---------------------------------------------------------------

int16_t Engine::Insert(OpenFile& file, uint8_t* block, const BlockState& state,
                       int8_t key, const Buffers& buffers) {
  const FileSpec& spec = file.file->spec();
  if (!ValidKey(file, key)) return kStatusInvalidKeyNumber;
  if (buffers.capacity < spec.record_length) return kStatusBufferTooShort;
  std::string_view record = buffers.Data().substr(0, spec.record_length);
  uint32_t position = 0;
  uint32_t failed = 0;
  int16_t status =
      file.file->InsertMany(reinterpret_cast<const uint8_t*>(record.data()),
                            record.size(), 1, &failed, &position);
  file.cache.Invalidate();
  if (status != kStatusOk) return status;
  ReturnKeyValue(file, key, record, buffers);
  BlockState next = state;
  next.position = position;
  next.key_number = key;
  next.flags = kBlockPlaced | kBlockCurrent;
  SetCursor(file, block, next, KeyImageOfRecord(spec, key, record));
  return kStatusOk;
}

int16_t Engine::InsertMany(uint8_t* position_block, const uint8_t* records,
                           uint32_t record_size, uint32_t count,
                           int8_t key_number, uint32_t* failed_index) {
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
  file->cache.Invalidate();
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

int16_t Engine::Update(OpenFile& file, uint8_t* block, const BlockState& state,
                       const Buffers& buffers) {
  const FileSpec& spec = file.file->spec();
  if (!(state.flags & kBlockCurrent)) return kStatusInvalidPositioning;
  if (buffers.capacity < spec.record_length) return kStatusBufferTooShort;
  std::string_view record = buffers.Data().substr(0, spec.record_length);
  int16_t status = file.file->Update(state.position, record);
  file.cache.Invalidate();
  if (status != kStatusOk) return status;
  int8_t key = ValidKey(file, state.key_number) ? state.key_number : 0;
  ReturnKeyValue(file, key, record, buffers);
  BlockState next = state;
  next.key_number = key;
  SetCursor(file, block, next, KeyImageOfRecord(spec, key, record));
  return kStatusOk;
}

int16_t Engine::Delete(OpenFile& file, uint8_t* block,
                       const BlockState& state) {
  if (!(state.flags & kBlockCurrent)) return kStatusInvalidPositioning;
  int8_t key = ValidKey(file, state.key_number) ? state.key_number : 0;
  // Keep the deleted record's place so that next/previous go on from it.
  std::string image;
  int16_t status = CursorImage(file, state, key, &image);
  if (status == kStatusOk) status = file.file->Delete(state.position);
  file.cache.Invalidate();
  if (status != kStatusOk) return status;
  BlockState next = state;
  next.key_number = key;
  next.flags = kBlockPlaced;
  SetCursor(file, block, next, image);
  return kStatusOk;
}

}  // namespace

std::unique_ptr<RecordManager> MakeEngine(std::unique_ptr<Storage> storage) {
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, CountFork);
    return true;
  }();
  (void)registered;
  return std::make_unique<Engine>(std::move(storage));
}

}  // namespace tarnevos::platform
