#ifndef TARNEVOS_UTIL_LITTLE_ENDIAN_H_
#define TARNEVOS_UTIL_LITTLE_ENDIAN_H_

#include <cstddef>
#include <cstdint>
#include <string>

// Little-endian integers as the suite's files and the record manager's
// buffers hold them, whatever the host's byte order. Header only, so that
// every layer (the platform's included) can use it. The caller guarantees
// that the bytes exist.
namespace tarnevos::le {

template <typename Unsigned, typename Byte>
constexpr Unsigned Load(const Byte* at) {
  Unsigned value = 0;
  for (size_t i = sizeof(Unsigned); i-- > 0;) {
    value = static_cast<Unsigned>(value << 8 | static_cast<uint8_t>(at[i]));
  }
  return value;
}

template <typename Unsigned, typename Byte>
constexpr void Store(Byte* at, Unsigned value) {
  for (size_t i = 0; i < sizeof(Unsigned); ++i) {
    at[i] = static_cast<Byte>(static_cast<uint8_t>(value >> (8 * i)));
  }
}

template <typename Byte>
constexpr uint16_t LoadU16(const Byte* at) {
  return Load<uint16_t>(at);
}
template <typename Byte>
constexpr uint32_t LoadU32(const Byte* at) {
  return Load<uint32_t>(at);
}
template <typename Byte>
constexpr uint64_t LoadU64(const Byte* at) {
  return Load<uint64_t>(at);
}
template <typename Byte>
constexpr int16_t LoadI16(const Byte* at) {
  return static_cast<int16_t>(Load<uint16_t>(at));
}
template <typename Byte>
constexpr int32_t LoadI32(const Byte* at) {
  return static_cast<int32_t>(Load<uint32_t>(at));
}

template <typename Byte>
constexpr void StoreU16(Byte* at, uint16_t value) {
  Store(at, value);
}
template <typename Byte>
constexpr void StoreU32(Byte* at, uint32_t value) {
  Store(at, value);
}
template <typename Byte>
constexpr void StoreI16(Byte* at, int16_t value) {
  Store(at, static_cast<uint16_t>(value));
}
template <typename Byte>
constexpr void StoreI32(Byte* at, int32_t value) {
  Store(at, static_cast<uint32_t>(value));
}

// Appends the value's bytes to `out`.
inline void AppendU16(std::string& out, uint16_t value) {
  char bytes[2];
  StoreU16(bytes, value);
  out.append(bytes, 2);
}
inline void AppendU32(std::string& out, uint32_t value) {
  char bytes[4];
  StoreU32(bytes, value);
  out.append(bytes, 4);
}

}  // namespace tarnevos::le

#endif  // TARNEVOS_UTIL_LITTLE_ENDIAN_H_
