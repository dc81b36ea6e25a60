// Little-endian fields of a Windows module, read from bytes already known to
// be there. The module reader's one decoding helper.
#ifndef RXMFILES_BACKENDS_RESOURCEENDIAN_H
#define RXMFILES_BACKENDS_RESOURCEENDIAN_H

#include <cstdint>

namespace RXM {

inline std::uint16_t Read16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

inline std::uint32_t Read32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace RXM

#endif  // RXMFILES_BACKENDS_RESOURCEENDIAN_H
