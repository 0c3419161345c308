#include "platform/recordmanager/position_block.h"

#include <cstring>

#include "platform/recordmanager/record_manager.h"
#include "util/little_endian.h"

namespace tarnevos::platform {
namespace {

// Layout: magic, engine id, slot, generation, position (uint32 each, little
// endian), key number, flags, two zero bytes, check value; zeros after.
constexpr uint32_t kMagic = 0x4D525654;  // "TVRM"
constexpr int kCheckedBytes = 24;
constexpr int kCheckOffset = 24;
static_assert(kCheckOffset + 4 == kBlockUsedBytes);

using le::LoadU32;
using le::LoadU64;
using le::StoreU32;

// A keyed 32-bit check (a multiply-xorshift mix of the bytes, eight at a
// time, seeded and finished with the engine's secret) so that stray bytes
// are not taken for a block.
uint32_t CheckValue(const uint8_t* bytes, uint64_t secret) {
  uint64_t hash = secret ^ 0x9E3779B97F4A7C15ULL;
  for (int i = 0; i < kCheckedBytes; i += 8) {
    hash ^= LoadU64(bytes + i);
    hash *= 0xff51afd7ed558ccdULL;
    hash ^= hash >> 32;
  }
  hash ^= secret >> 17;
  hash *= 0xc4ceb9fe1a85ec53ULL;
  hash ^= hash >> 33;
  return static_cast<uint32_t>(hash);
}

}  // namespace

void WriteBlock(uint8_t* block, uint32_t engine_id, uint64_t secret,
                const BlockState& state) {
  std::memset(block, 0, kPositionBlockSize);
  StoreU32(block, kMagic);
  StoreU32(block + 4, engine_id);
  StoreU32(block + 8, state.slot);
  StoreU32(block + 12, state.generation);
  StoreU32(block + 16, state.position);
  block[20] = static_cast<uint8_t>(state.key_number);
  block[21] = state.flags;
  StoreU32(block + kCheckOffset, CheckValue(block, secret));
}

std::optional<BlockState> ReadBlock(const uint8_t* block, uint32_t engine_id,
                                    uint64_t secret) {
  if (block == nullptr) return std::nullopt;
  if (LoadU32(block) != kMagic || LoadU32(block + 4) != engine_id) {
    return std::nullopt;
  }
  if (block[22] != 0 || block[23] != 0) return std::nullopt;
  if (LoadU32(block + kCheckOffset) != CheckValue(block, secret)) {
    return std::nullopt;
  }
  BlockState state;
  state.slot = LoadU32(block + 8);
  state.generation = LoadU32(block + 12);
  state.position = LoadU32(block + 16);
  state.key_number = static_cast<int8_t>(block[20]);
  state.flags = block[21];
  return state;
}

uint32_t BlockSlotHint(const uint8_t* block) { return LoadU32(block + 8); }

void ClearBlock(uint8_t* block) {
  if (block != nullptr) std::memset(block, 0, kBlockUsedBytes);
}

}  // namespace tarnevos::platform
