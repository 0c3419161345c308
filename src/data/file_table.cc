#include "data/file_table.h"

namespace tarnevos {
namespace {

std::array<FileSlot, kFileSlotCount>& Slots() {
  static std::array<FileSlot, kFileSlotCount> slots;
  return slots;
}

}  // namespace

FileSlot* SlotAt(int slot) {
  if (slot < 1 || slot > kFileSlotCount) return nullptr;
  return &Slots()[slot - 1];
}

int FindFileSlot(int16_t handle) {
  // Files are opened into the highest free slot, so the open ones sit at
  // the top: scanning downwards finds them after a few steps. A handle is
  // open in one slot at most, so the direction does not change the answer.
  std::array<FileSlot, kFileSlotCount>& slots = Slots();
  int free_slot = 0;
  for (int slot = kFileSlotCount; slot >= 1; --slot) {
    const FileSlot& entry = slots[slot - 1];
    if (entry.handle == 0) {
      if (free_slot == 0) free_slot = slot;
    } else if (entry.handle == handle) {
      return slot;
    }
  }
  return -free_slot;
}

const std::vector<uint8_t>& FileStatistics(FileSlot& slot) {
  if (!slot.statistics.empty()) return slot.statistics;
  static std::vector<uint8_t> scratch;
  scratch.assign(kDataBufferSize, 0);
  std::array<uint8_t, kKeyBufferSize> key{};
  uint32_t length = kDataBufferSize;
  int16_t status = platform::RecordManagerCall(
      platform::kOpStat, slot.position_block.data(), scratch.data(), &length,
      key.data(), kKeyBufferSize, 0);
  if (status != platform::kStatusOk) return scratch;
  slot.statistics = scratch;
  return slot.statistics;
}

void ClearSlot(FileSlot& slot) { slot = FileSlot{}; }

void ClearAllSlots() {
  for (FileSlot& slot : Slots()) ClearSlot(slot);
}

}  // namespace tarnevos
