#include "files/BoundedStream.h"

namespace RXM {

BoundedStream::BoundedStream(const StreamPolicy& chosen) : policy(chosen) {}

void BoundedStream::Open(const ByteSource* from, std::int64_t at, std::uint32_t length) {
  source = from;
  start = at;
  size = length;
  position = 0;
  ended = false;
}

bool BoundedStream::Close() {
  const bool wasOpen = IsOpen();
  source = nullptr;
  return wasOpen;
}

// A window that starts before the source's first byte holds no bytes that
// can be read: every read of it is short.
std::uint32_t BoundedStream::Read(void* buffer, std::uint32_t itemSize, std::uint32_t count) {
  if (!IsOpen()) {
    return 0;
  }
  if (itemSize == 0) {
    return policy.zeroSizeItems == ZeroSizeItems::kAllFit ? count : 0;
  }
  const std::uint32_t fit = (size - static_cast<std::uint32_t>(position)) / itemSize;
  const std::uint32_t wanted = count < fit ? count : fit;
  const std::int64_t at = start + position;
  const std::uint32_t got =
      at < 0 ? 0 : source->ReadItems(buffer, itemSize, wanted, static_cast<std::uint64_t>(at));
  position += static_cast<std::int32_t>(got * itemSize);
  if (got < wanted && policy.shortRead == ShortRead::kEnds) {
    ended = true;
  }
  return got;
}

// Bounds are computed in 64 bits, so no offset can overflow them.
bool BoundedStream::Seek(long offset, int origin) {
  if (!IsOpen()) {
    return false;
  }
  const std::int64_t end = size;
  std::int64_t target = offset;
  switch (origin) {
    case 0:
      break;
    case 1:
      target += position;
      break;
    case 2:
      target += end;
      break;
    default:
      return policy.unknownOrigin == UnknownOrigin::kIgnored;
  }
  const bool inside = target >= 0 && target <= end;
  const bool absolute = inside && origin != 1;
  target = target < 0 ? 0 : (target > end ? end : target);
  if (!source->Follow(start + position, start + target, absolute)) {
    return false;
  }
  position = static_cast<std::int32_t>(target);
  return true;
}

std::uint32_t BoundedStream::Size() const {
  if (!IsOpen() && policy.whenClosed == WhenClosed::kEmptyAndAtEnd) {
    return 0;
  }
  return size;
}

bool BoundedStream::AtEnd() const {
  if (!IsOpen()) {
    return policy.whenClosed == WhenClosed::kEmptyAndAtEnd;
  }
  return ended || static_cast<std::uint32_t>(position) >= size;
}

}  // namespace RXM
