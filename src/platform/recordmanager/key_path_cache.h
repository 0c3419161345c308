#ifndef TARNEVOS_PLATFORM_RECORDMANAGER_KEY_PATH_CACHE_H_
#define TARNEVOS_PLATFORM_RECORDMANAGER_KEY_PATH_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/recordmanager/storage.h"

// What the engine keeps of one open file between calls, whatever the
// storage: the records read ahead along a key path and the answers of get
// equal. Everything is valid only while the file's change stamp is the one
// it was read under; no transaction or statement stays open for it.
namespace tarnevos::platform {

// Records that follow (or precede) the record `anchor` on key `key`, read in
// one statement and handed out one by one.
struct ReadAhead {
  bool valid = false;
  bool forward = true;
  int8_t key = 0;
  uint32_t anchor = 0;
  RowBatch rows;
  size_t next = 0;
  int batch = 0;  // rows asked for by the statement that filled it
};

// The answer of one get equal: the first record with that key image, or
// none.
struct EqualAnswer {
  bool found = false;
  uint32_t position = 0;
  std::string data;
};

class KeyPathCache {
 public:
  // Get-equal answers kept per file, at most this many bytes.
  static constexpr size_t kEqualBytes = 1024 * 1024;

  explicit KeyPathCache(size_t keys) : equal_(keys) {}

  // Drops everything when `stamp` is not the stamp the cache was filled
  // under; afterwards new entries belong to `stamp`.
  void Revalidate(const ChangeStamp& stamp);
  // Drops everything (after a write through this engine, or when asked).
  void Invalidate();

  ReadAhead& ahead() { return ahead_; }

  // The kept answer for `image` on key `key`, or nullptr.
  const EqualAnswer* FindEqual(size_t key, const std::string& image) const;
  // Keeps an answer (making room when the cache is full) and returns it.
  const EqualAnswer& KeepEqual(size_t key, const std::string& image,
                               EqualAnswer answer);

  // The answer of a seek upwards (greater, or greater or equal when not
  // `strictly`) on key `key`, when the read-ahead holds it: its records are
  // a stretch of the key path with nothing between them, so a record whose
  // predecessor in the stretch lies below the image is the first one at or
  // above it. Moves the read-ahead on past that record; nullptr (and nothing
  // changed) when the stretch does not tell.
  const StoredRecord* SeekUpwards(int8_t key, std::string_view image,
                                  bool strictly);

 private:
  void ClearEqual();

  bool stamp_known_ = false;
  ChangeStamp stamp_;
  ReadAhead ahead_;
  std::vector<std::unordered_map<std::string, EqualAnswer>> equal_;
  size_t equal_bytes_ = 0;
};

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_RECORDMANAGER_KEY_PATH_CACHE_H_
