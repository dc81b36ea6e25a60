#include "backends/FaultySystem.h"

#include <cerrno>

namespace testing_support {

void FaultySystem::Heal() {
  writesBeforeFailing = -1;
  failFlush = failSync = failClose = failReplace = failAllocate = false;
  readAtMost = 0;
  refuseOpen = nullptr;
}

std::FILE* FaultySystem::open(const char* path, const char* mode) {
  const int refusal = refuseOpen ? refuseOpen(path) : 0;
  if (refusal != 0) {
    errno = refusal;
    return nullptr;
  }
  std::FILE* stream = real.open(path, mode);
  if (stream != nullptr) {
    const std::lock_guard<std::mutex> hold(bookkeeping);
    ++opens;
    openStreams.insert(stream);
  }
  return stream;
}

std::size_t FaultySystem::write(const void* buffer, std::size_t size, std::size_t count,
                                std::FILE* stream) {
  if (writesBeforeFailing == 0) {
    return 0;
  }
  if (writesBeforeFailing > 0) {
    --writesBeforeFailing;
  }
  return real.write(buffer, size, count, stream);
}

int FaultySystem::flush(std::FILE* stream) {
  return failFlush ? EOF : real.flush(stream);
}

int FaultySystem::sync(std::FILE* stream) {
  return failSync ? -1 : real.sync(stream);
}

int FaultySystem::close(std::FILE* stream) {
  {
    const std::lock_guard<std::mutex> hold(bookkeeping);
    if (openStreams.erase(stream) == 0) {
      ++strayCloses;
    }
  }
  const int result = real.close(stream);
  return failClose ? EOF : result;
}

int FaultySystem::replace(const char* from, const char* to) {
  return failReplace ? -1 : real.replace(from, to);
}

void* FaultySystem::allocate(std::size_t size) {
  return failAllocate ? nullptr : real.allocate(size);
}

std::int64_t FaultySystem::readAt(RXM::sys::Handle handle, void* buffer, std::size_t size,
                                  std::uint64_t offset) {
  if (readAtMost != 0 && size > readAtMost) {
    size = readAtMost;
  }
  return real.readAt(handle, buffer, size, offset);
}

}  // namespace testing_support
