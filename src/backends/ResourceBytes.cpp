#include "backends/ResourceBytes.h"

#if defined(_WIN32)

#include <windows.h>

namespace RXM {

namespace {

// The end of the committed, readable region that holds `at`, or `at` itself
// when that memory cannot be read.
std::uintptr_t ReadableEnd(std::uintptr_t at) {
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) == 0 ||
      region.State != MEM_COMMIT || (region.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0) {
    return at;
  }
  return reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
}

}  // namespace

bool ResourceBytesReadable(const void* bytes, std::uint32_t size) {
  if (bytes == nullptr) {
    return false;
  }
  const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(bytes);
  const std::uintptr_t end = begin + size;
  if (end < begin) {
    return false;
  }
  // One query per region of like pages, so a long resource costs few calls.
  for (std::uintptr_t at = begin; at < end;) {
    const std::uintptr_t next = ReadableEnd(at);
    if (next == at) {
      return false;
    }
    at = next;
  }
  return true;
}

std::uint32_t ReadableExtent(const void* start, std::uint32_t limit) {
  const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(start);
  std::uintptr_t at = begin;
  while (at - begin < limit) {
    const std::uintptr_t next = ReadableEnd(at);
    if (next <= at) {
      break;
    }
    at = next;
  }
  return at - begin < limit ? static_cast<std::uint32_t>(at - begin) : limit;
}

}  // namespace RXM

#endif  // _WIN32
