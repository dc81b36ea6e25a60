// Bytes read by offset, with no position to share: what entry streams read
// through, whether the bytes are in a file on disk or an object on a server.
#ifndef RXMFILES_FILES_POSITIONALREADER_H
#define RXMFILES_FILES_POSITIONALREADER_H

#include <cstddef>
#include <cstdint>

namespace RXM {

// Implementations allow any number of ReadAt calls at once, from any threads;
// hold them by std::shared_ptr, whose count is thread-safe.
class PositionalReader {
 public:
  virtual ~PositionalReader() = default;
  // Reads up to `size` bytes at `offset`; the bytes read (fewer only at the
  // end, or when reading fails).
  virtual std::size_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const = 0;
  // Says that the `size` bytes at `offset` are about to be read in pieces, so
  // that a reader for which each fetch costs a round trip fetches them
  // together. Only a hint: reads answer the same without it.
  virtual void Prefetch(std::uint64_t offset, std::uint64_t size) const {
    static_cast<void>(offset);
    static_cast<void>(size);
  }
};

}  // namespace RXM

#endif  // RXMFILES_FILES_POSITIONALREADER_H
