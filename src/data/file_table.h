#ifndef TARNEVOS_DATA_FILE_TABLE_H_
#define TARNEVOS_DATA_FILE_TABLE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/recordmanager/record_manager.h"

// The open-file table behind the access layer and the key operations: 40
// slots, numbered 1 to 40, each describing one open data file. Internal to
// src/data; callers outside use the operations of access_layer.h.
namespace tarnevos {

constexpr int kFileSlotCount = 40;
// Every buffer the layer hands to the record manager is this long.
constexpr size_t kDataBufferSize = 1536;
constexpr size_t kKeyBufferSize = 255;

struct FileSlot {
  int16_t handle = 0;     // 0: the slot is free
  std::string file_name;  // as the caller named it at open, for messages
  std::array<uint8_t, platform::kPositionBlockSize + 1> position_block{};
  uint8_t* record_area = nullptr;
  size_t area_size = 0;       // bytes the caller's area holds
  int32_t record_length = 0;  // the file's, from its statistics
  int16_t key_number = 0;
  std::string key_value;
  int16_t lock_mode = 0;
  // The file's statistics, kept once a Stat call has succeeded: the record
  // length and key layout of an open file never change.
  std::vector<uint8_t> statistics;
};

// Slot 1..40; nullptr for any other number.
FileSlot* SlotAt(int slot);

// The slot holding `handle`; otherwise minus the highest free slot, or 0
// when every slot is taken. Handle 0 marks free slots and is never found.
int FindFileSlot(int16_t handle);

// The statistics (Stat, key number 0) of the file in `slot`, a buffer of
// kDataBufferSize bytes. A failed Stat gives what the record manager left in
// a zeroed buffer, valid until the next call, and is asked again next time.
const std::vector<uint8_t>& FileStatistics(FileSlot& slot);

// Frees the slot (handle 0, everything cleared).
void ClearSlot(FileSlot& slot);
void ClearAllSlots();

}  // namespace tarnevos

#endif  // TARNEVOS_DATA_FILE_TABLE_H_
