#ifndef TARNEVOS_DATA_KEY_SPEC_H_
#define TARNEVOS_DATA_KEY_SPEC_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// What a data file's statistics say about its records and keys, and key
// images: strings whose plain byte comparison follows the record manager's
// order of a key (little-endian integer segments reversed, collated
// segments translated through the file's collating table).
//
// The statistics buffer (as Stat returns it and Create takes it): record
// length u16 at 0, number of keys u16 at 4, 16-byte segment descriptions
// from offset 16 (length u16 at +2, flags u16 at +4), the segments of key 0
// first; after the last segment an optional 265-byte collating sequence
// whose translation of byte b is at offset 9 + b.
namespace tarnevos {

// Segment flags.
constexpr uint16_t kSegmentDuplicates = 0x0001;
constexpr uint16_t kSegmentBinary = 0x0004;
constexpr uint16_t kSegmentContinues = 0x0010;
constexpr uint16_t kSegmentCollated = 0x0020;

constexpr size_t kStatisticsHeaderSize = 16;
constexpr size_t kSegmentSpecSize = 16;
constexpr size_t kCollatingSequenceSize = 265;

// --- Reading a statistics buffer (pure; never reads past its end) ---------

// Record length stored at offset 0; 0 when the buffer is shorter.
int32_t RecordLengthOf(std::span<const uint8_t> statistics);
// Sum of the segment lengths of `key_number`; 0 when the file has no such
// key (negative or not below the number of keys).
int16_t KeyLengthOf(std::span<const uint8_t> statistics, int key_number);
// True when a creation specification (or statistics buffer) is long
// enough for its own layout: a record length, at least one key, and every
// segment its keys announce.
bool DescribesRecords(std::span<const uint8_t> specification);

// True when a file's statistics and a creation specification (a
// dictionary's) describe the same records: the same record length, the
// same keys made of segments at the same positions, of the same lengths,
// binary, continued and collated alike. Page size, duplicates and other
// flags may differ. False when either buffer ends inside its own layout.
bool SameRecordLayout(std::span<const uint8_t> statistics,
                      std::span<const uint8_t> specification);

// Key image of `key_value` taken as a value of key `key_number`.
std::string KeyImageOf(std::span<const uint8_t> statistics, int key_number,
                       std::string key_value);

// --- On open files ---------------------------------------------------------

// Key length of `key_number` and the file's record length; both 0 when the
// handle is not open, the key length 0 when the file has no such key.
void ReadKeyInfo(int16_t handle, int16_t key_number, int16_t& key_length,
                 int32_t& record_length);

// Key image of a value of the file's current key; the value unchanged when
// the handle is not open.
std::string KeyImage(std::string key_value, int16_t handle);

}  // namespace tarnevos

#endif  // TARNEVOS_DATA_KEY_SPEC_H_
