#include "files/MemorySource.h"

#include <cstring>
#include <utility>

namespace RXM {

MemorySource::MemorySource(std::shared_ptr<const void> owner, const std::uint8_t* memory,
                           std::uint64_t length)
    : keeper(std::move(owner)), bytes(memory), size(length) {}

std::size_t MemorySource::ReadAt(void* buffer, std::size_t wanted, std::uint64_t offset) const {
  if (offset >= size || wanted == 0) {
    return 0;
  }
  const std::uint64_t left = size - offset;
  const std::size_t copied = left < wanted ? static_cast<std::size_t>(left) : wanted;
  std::memcpy(buffer, bytes + offset, copied);
  return copied;
}

}  // namespace RXM
