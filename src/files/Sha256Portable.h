// SHA-256 (FIPS 180-4) in plain C++, for where no system library computes
// it: the POSIX builds hash with libcrypto, loaded when the first digest is
// made (files/CryptoLibrary.h), and with this when it cannot be loaded, so
// that sums are made and checked the same either way, only more slowly
// (libcrypto uses the processor's SHA instructions).
#ifndef RXMFILES_FILES_SHA256PORTABLE_H
#define RXMFILES_FILES_SHA256PORTABLE_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace RXM {

class Sha256Portable {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  // A digest begun, of no bytes yet.
  Sha256Portable();

  // Adds `size` bytes to the digest.
  void Update(const void* data, std::size_t size);
  // The digest of every byte added since construction or the last Finish;
  // the object then begins a new digest.
  Digest Finish();

 private:
  void Begin();
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state{};
  std::array<std::uint8_t, 64> pending{};  // the bytes of a block not yet full
  std::size_t pendingSize = 0;
  std::uint64_t length = 0;  // bytes added, all blocks
};

}  // namespace RXM

#endif  // RXMFILES_FILES_SHA256PORTABLE_H
