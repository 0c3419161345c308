#include "platform/recordmanager/key_path_cache.h"

#include <algorithm>

namespace tarnevos::platform {

void KeyPathCache::Revalidate(const ChangeStamp& stamp) {
  if (stamp_known_ && stamp == stamp_) return;
  ahead_.valid = false;
  ClearEqual();
  stamp_ = stamp;
  stamp_known_ = true;
}

void KeyPathCache::Invalidate() {
  ahead_.valid = false;
  ClearEqual();
  stamp_known_ = false;
}

void KeyPathCache::ClearEqual() {
  if (equal_bytes_ == 0) return;
  for (auto& map : equal_) map.clear();
  equal_bytes_ = 0;
}

const EqualAnswer* KeyPathCache::FindEqual(size_t key,
                                           const std::string& image) const {
  if (key >= equal_.size()) return nullptr;
  auto hit = equal_[key].find(image);
  return hit == equal_[key].end() ? nullptr : &hit->second;
}

const EqualAnswer& KeyPathCache::KeepEqual(size_t key, const std::string& image,
                                           EqualAnswer answer) {
  const size_t bytes = image.size() + answer.data.size() + 64;
  if (equal_bytes_ + bytes > kEqualBytes) ClearEqual();
  // Counted before the emplace so that the bytes count the map's contents
  // even when the clear above emptied it.
  equal_bytes_ += bytes;
  auto& map = equal_[key];
  auto [at, inserted] = map.insert_or_assign(image, std::move(answer));
  (void)inserted;
  return at->second;
}

const StoredRecord* KeyPathCache::SeekUpwards(int8_t key,
                                              std::string_view image,
                                              bool strictly) {
  ReadAhead& ahead = ahead_;
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

}  // namespace tarnevos::platform
