#include "files/ByteSource.h"

namespace RXM {

ByteSource::~ByteSource() = default;

std::uint32_t ByteSource::ReadItems(void* buffer, std::uint32_t size, std::uint32_t count,
                                    std::uint64_t offset) const {
  return static_cast<std::uint32_t>(ReadAt(buffer, std::size_t{size} * count, offset) / size);
}

bool ByteSource::Follow(std::int64_t, std::int64_t, bool) const {
  return true;
}

void ByteSource::Prefetch(std::uint64_t, std::uint64_t) const {}

std::intptr_t ByteSource::FileHandle() const {
  return -1;
}

}  // namespace RXM
