#include "backends/FaultySystem.h"

#include <cerrno>

namespace testing_support {

void FaultySystem::Heal() {
  writesBeforeFailing = -1;
  failFlush = failSync = failClose = failReplace = failAllocate = false;
  readAtMost = 0;
  refuseOpen = nullptr;
  shortCopyRange = false;
  inspectInError = createInError = renameInError = createTemporaryError = 0;
  pauseInstead = nullptr;
  afterOpen = nullptr;
}

std::FILE* FaultySystem::open(const char* path, const char* mode) {
  const int refusal = refuseOpen ? refuseOpen(path) : 0;
  if (refusal != 0) {
    errno = refusal;
    return nullptr;
  }
  std::FILE* stream = Opened(real.open(path, mode));
  if (stream != nullptr && afterOpen) {
    afterOpen(path);
  }
  return stream;
}

std::FILE* FaultySystem::createTemporary(const char* prefix, std::string* name) {
  if (createTemporaryError != 0) {
    errno = createTemporaryError;
    return nullptr;
  }
  return Opened(real.createTemporary(prefix, name));
}

int FaultySystem::inspectIn(RXM::sys::Handle folder, const char* name, RXM::sys::FileInfo* info) {
  if (inspectInError != 0) {
    *info = RXM::sys::FileInfo();
    info->error = inspectInError;
    return -1;
  }
  return real.inspectIn(folder, name, info);
}

std::FILE* FaultySystem::createIn(RXM::sys::Handle folder, const char* name) {
  if (createInError != 0) {
    errno = createInError;
    return nullptr;
  }
  return Opened(real.createIn(folder, name));
}

std::FILE* FaultySystem::Opened(std::FILE* stream) {
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
    errno = ENOSPC;
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
  if (failReplace) {
    errno = EXDEV;
    return -1;
  }
  return real.replace(from, to);
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

void FaultySystem::pause(std::uint32_t milliseconds) {
  if (pauseInstead) {
    pauseInstead(milliseconds);
  } else {
    real.pause(milliseconds);
  }
}

std::uint64_t FaultySystem::copyRange(RXM::sys::Handle from, std::uint64_t offset,
                                      std::uint64_t size, std::FILE* to) {
  if (shortCopyRange) {
    return size == 0 ? 0 : size - 1;
  }
  return real.copyRange(from, offset, size, to);
}

}  // namespace testing_support
