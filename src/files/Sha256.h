// SHA-256 through the platform's cryptography library, which uses the
// processor's SHA instructions where it has them: OpenSSL's libcrypto on
// POSIX systems, BCrypt on Windows. Nothing of the digest is computed here.
#ifndef RXMFILES_FILES_SHA256_H
#define RXMFILES_FILES_SHA256_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "framework/Export.h"

namespace RXM {

class RXMFILES_API Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  // A digest begun, of no bytes yet. Throws std::bad_alloc when the library
  // cannot make one (it has no other way to fail).
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Adds `size` bytes to the digest.
  void Update(const void* data, std::size_t size);
  // The digest of every byte added since construction or the last Finish;
  // the object then begins a new digest.
  Digest Finish();

  // The 64 lowercase hexadecimal digits of `digest`, as sha256sum writes them.
  static std::string Hex(const Digest& digest);
  // The hexadecimal digest of `size` bytes at `data`.
  static std::string HexOf(const void* data, std::size_t size);

 private:
  struct State;
  std::unique_ptr<State> state;
};

}  // namespace RXM

#endif  // RXMFILES_FILES_SHA256_H
