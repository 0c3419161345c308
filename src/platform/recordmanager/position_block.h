#ifndef TARNEVOS_PLATFORM_RECORDMANAGER_POSITION_BLOCK_H_
#define TARNEVOS_PLATFORM_RECORDMANAGER_POSITION_BLOCK_H_

#include <cstdint>
#include <optional>

// What the SQLite engine keeps in the caller's 128-byte position block: which
// open file of which engine it belongs to and where the caller stands in it.
// The block carries a check value keyed by the engine, so a block of zeros,
// blanks, garbage, or one written by another engine reads as "not open".
namespace tarnevos::platform {

struct BlockState {
  uint32_t slot = 0;        // the engine's table index of the open file
  uint32_t generation = 0;  // distinguishes successive opens of one slot
  uint32_t position = 0;    // the current record (see flags)
  int8_t key_number = 0;    // current key path
  uint8_t flags = 0;        // kBlock... below

  bool operator==(const BlockState&) const = default;
};

// The block stands somewhere on the key path: next/previous may move.
constexpr uint8_t kBlockPlaced = 0x01;
// `position` is a record this block read or wrote and has not deleted.
constexpr uint8_t kBlockCurrent = 0x02;

// The bytes of a block that WriteBlock fills; the rest stays zero.
constexpr int kBlockUsedBytes = 28;

// Writes `state` into a 128-byte block (the rest of it is zeroed).
void WriteBlock(uint8_t* block, uint32_t engine_id, uint64_t secret,
                const BlockState& state);

// Reads a block written by WriteBlock with the same engine id and secret;
// nullopt for anything else (including a null pointer).
std::optional<BlockState> ReadBlock(const uint8_t* block, uint32_t engine_id,
                                    uint64_t secret);

// The slot a block names, unchecked: only a hint for finding the file
// whose last written block it may be.
uint32_t BlockSlotHint(const uint8_t* block);

// Makes a block unreadable for every engine.
void ClearBlock(uint8_t* block);

}  // namespace tarnevos::platform

#endif  // TARNEVOS_PLATFORM_RECORDMANAGER_POSITION_BLOCK_H_
