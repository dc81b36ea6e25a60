// Little-endian integers in byte images (file records, PE headers): the one
// place that turns bytes into numbers and back.
#ifndef RXMFILES_FILES_LITTLEENDIAN_H
#define RXMFILES_FILES_LITTLEENDIAN_H

#include <cstdint>
#include <cstring>

namespace RXM {
namespace LittleEndian {

// The 16-bit value whose low byte is bytes[0].
inline std::uint16_t Decode16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

// The 32-bit value whose lowest byte is bytes[0].
inline std::uint32_t Decode32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The 64-bit value whose lowest byte is bytes[0]: one load, turned round on a
// big-endian machine.
inline std::uint64_t Decode64(const std::uint8_t* bytes) {
  std::uint64_t value = 0;
  std::memcpy(&value, bytes, sizeof value);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  value = __builtin_bswap64(value);
#endif
  return value;
}

// Writes `value` into bytes[0..1], lowest byte first.
inline void Encode16(std::uint16_t value, std::uint8_t* bytes) {
  bytes[0] = static_cast<std::uint8_t>(value & 0xFFu);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

// Writes `value` into bytes[0..3], lowest byte first.
inline void Encode32(std::uint32_t value, std::uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

}  // namespace LittleEndian
}  // namespace RXM

#endif  // RXMFILES_FILES_LITTLEENDIAN_H
