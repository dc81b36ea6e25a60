// Bytes that are in memory already.
#ifndef RXMFILES_FILES_MEMORYSOURCE_H
#define RXMFILES_FILES_MEMORYSOURCE_H

#include <cstdint>
#include <memory>

#include "files/ByteSource.h"

namespace RXM {

// The `size` bytes at `bytes`, kept valid by `keeper` (null when something
// else, such as a loaded module, outlives every stream over them). Reads are
// copies; they never change anything, so any number of threads may read.
class MemorySource final : public ByteSource {
 public:
  MemorySource(std::shared_ptr<const void> keeper, const std::uint8_t* bytes, std::uint64_t size);

  // Copies the bytes inside [0, size); fewer past the end.
  std::size_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const override;

 private:
  std::shared_ptr<const void> keeper;
  const std::uint8_t* bytes;
  std::uint64_t size;
};

}  // namespace RXM

#endif  // RXMFILES_FILES_MEMORYSOURCE_H
