#include "backends/FaultySystem.h"

#include <cerrno>

namespace testing_support {

void FaultySystem::Heal() {
  writesBeforeFailing = -1;
  failFlush = failSync = failClose = failReplace = failAllocate = failReopen = false;
  readAtMost = 0;
  refuseOpen = nullptr;
  shortCopyRange = false;
  inspectInError = createInError = renameInError = createTemporaryError = 0;
  pauseInstead = nullptr;
  afterOpen = nullptr;
  beforeCall = nullptr;
  FailCall(0);
}

void FaultySystem::FailCall(int number) {
  calls = 0;
  failed = nullptr;
  failAt = number;
}

bool FaultySystem::Fails(const char* call) {
  const int number = ++calls;
  if (beforeCall) {
    beforeCall(number, call);
  }
  if (number != failAt.load()) {
    return false;
  }
  failed = call;
  errno = EIO;
  return true;
}

std::FILE* FaultySystem::open(const char* path, const char* mode) {
  if (Fails("open")) {
    return nullptr;
  }
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
  if (Fails("createTemporary")) {
    return nullptr;
  }
  if (createTemporaryError != 0) {
    errno = createTemporaryError;
    return nullptr;
  }
  return Opened(real.createTemporary(prefix, name));
}

int FaultySystem::inspectIn(RXM::sys::Handle folder, const char* name, RXM::sys::FileInfo* info) {
  const bool fails = Fails("inspectIn");
  if (fails || inspectInError != 0) {
    *info = RXM::sys::FileInfo();
    info->error = fails ? EIO : inspectInError;
    return -1;
  }
  return real.inspectIn(folder, name, info);
}

std::FILE* FaultySystem::createIn(RXM::sys::Handle folder, const char* name) {
  if (Fails("createIn")) {
    return nullptr;
  }
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
  if (Fails("write")) {
    return 0;
  }
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
  return Fails("flush") || failFlush ? EOF : real.flush(stream);
}

int FaultySystem::sync(std::FILE* stream) {
  return Fails("sync") || failSync ? -1 : real.sync(stream);
}

int FaultySystem::close(std::FILE* stream) {
  {
    const std::lock_guard<std::mutex> hold(bookkeeping);
    if (openStreams.erase(stream) == 0) {
      ++strayCloses;
    }
  }
  const bool fails = Fails("close");
  const int result = real.close(stream);
  return fails || failClose ? EOF : result;
}

int FaultySystem::replace(const char* from, const char* to) {
  if (Fails("replace")) {
    return -1;
  }
  if (failReplace) {
    errno = EXDEV;
    return -1;
  }
  return real.replace(from, to);
}

void* FaultySystem::allocate(std::size_t size) {
  return Fails("allocate") || failAllocate ? nullptr : real.allocate(size);
}

std::int64_t FaultySystem::readAt(RXM::sys::Handle handle, void* buffer, std::size_t size,
                                  std::uint64_t offset) {
  if (Fails("readAt")) {
    return -1;
  }
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
  if (Fails("copyRange")) {
    return 0;
  }
  if (shortCopyRange) {
    return size == 0 ? 0 : size - 1;
  }
  return real.copyRange(from, offset, size, to);
}

// The calls that only forward, or fail as FailCall says.

int FaultySystem::syncDirectoryOf(const char* path) {
  return Fails("syncDirectoryOf") ? -1 : real.syncDirectoryOf(path);
}

int FaultySystem::remove(const char* path) {
  return Fails("remove") ? -1 : real.remove(path);
}

std::size_t FaultySystem::read(void* buffer, std::size_t size, std::size_t count,
                               std::FILE* stream) {
  return Fails("read") ? 0 : real.read(buffer, size, count, stream);
}

int FaultySystem::seek(std::FILE* stream, std::int64_t offset, int origin) {
  return Fails("seek") ? -1 : real.seek(stream, offset, origin);
}

std::int64_t FaultySystem::tell(std::FILE* stream) {
  return Fails("tell") ? -1 : real.tell(stream);
}

int FaultySystem::inspect(const char* path, RXM::sys::FileInfo* info) {
  if (Fails("inspect")) {
    *info = RXM::sys::FileInfo();
    info->error = EIO;
    return -1;
  }
  return real.inspect(path, info);
}

RXM::sys::Handle FaultySystem::openForReading(const char* path) {
  return Fails("openForReading") ? RXM::sys::kNoHandle : real.openForReading(path);
}

RXM::sys::Handle FaultySystem::duplicateForReading(std::FILE* stream) {
  return Fails("duplicateForReading") ? RXM::sys::kNoHandle : real.duplicateForReading(stream);
}

RXM::sys::Handle FaultySystem::reopenForReading(RXM::sys::Handle handle) {
  if (Fails("reopenForReading") || failReopen) {
    errno = EMFILE;
    return RXM::sys::kNoHandle;
  }
  return real.reopenForReading(handle);
}

int FaultySystem::closeHandle(RXM::sys::Handle handle) {
  const bool fails = Fails("closeHandle");
  const int result = real.closeHandle(handle);
  return fails ? -1 : result;
}

int FaultySystem::inspectHandle(RXM::sys::Handle handle, RXM::sys::FileInfo* info) {
  if (Fails("inspectHandle")) {
    *info = RXM::sys::FileInfo();
    info->error = EIO;
    return -1;
  }
  return real.inspectHandle(handle, info);
}

RXM::sys::Handle FaultySystem::handleOf(std::FILE* stream) {
  return Fails("handleOf") ? RXM::sys::kNoHandle : real.handleOf(stream);
}

RXM::sys::Handle FaultySystem::openFolderBelow(const char* root, const char* path, bool create,
                                               RXM::sys::WalkStop* stop) {
  if (Fails("openFolderBelow")) {
    *stop = RXM::sys::WalkStop();
    stop->error = EIO;
    return RXM::sys::kNoHandle;
  }
  return real.openFolderBelow(root, path, create, stop);
}

RXM::sys::Handle FaultySystem::openBelow(const char* root, const char* name) {
  return Fails("openBelow") ? RXM::sys::kNoHandle : real.openBelow(root, name);
}

int FaultySystem::listBelow(const char* root, const char* folder,
                            void (*visit)(const char* name, RXM::sys::FileKind kind, void* context),
                            void* context) {
  return Fails("listBelow") ? -1 : real.listBelow(root, folder, visit, context);
}

int FaultySystem::renameIn(RXM::sys::Handle folder, const char* from, const char* to,
                           bool replace) {
  if (Fails("renameIn")) {
    return EIO;
  }
  return renameInError != 0 ? renameInError : real.renameIn(folder, from, to, replace);
}

int FaultySystem::removeIn(RXM::sys::Handle folder, const char* name) {
  return Fails("removeIn") ? EIO : real.removeIn(folder, name);
}

int FaultySystem::resolveLinks(const char* path, std::string* target) {
  return Fails("resolveLinks") ? -1 : real.resolveLinks(path, target);
}

int FaultySystem::checkWritable(const char* path) {
  return Fails("checkWritable") ? EIO : real.checkWritable(path);
}

RXM::sys::Handle FaultySystem::openLock(const char* path) {
  return Fails("openLock") ? RXM::sys::kNoHandle : real.openLock(path);
}

int FaultySystem::tryLock(RXM::sys::Handle handle) {
  return Fails("tryLock") ? EIO : real.tryLock(handle);
}

int FaultySystem::unlock(RXM::sys::Handle handle) {
  return Fails("unlock") ? -1 : real.unlock(handle);
}

int FaultySystem::removeAbandoned(const char* path) {
  return Fails("removeAbandoned") ? -1 : real.removeAbandoned(path);
}

int FaultySystem::placeNew(const char* from, const char* to) {
  return Fails("placeNew") ? EIO : real.placeNew(from, to);
}

int FaultySystem::copyAttributes(const char* model, std::FILE* stream) {
  return Fails("copyAttributes") ? -1 : real.copyAttributes(model, stream);
}

int FaultySystem::makePrivateFolder(const char* path) {
  return Fails("makePrivateFolder") ? EIO : real.makePrivateFolder(path);
}

int FaultySystem::currentFolder(std::string* path) {
  return Fails("currentFolder") ? EIO : real.currentFolder(path);
}

// A failing call still names the folder, as the real one does.
int FaultySystem::temporaryFolder(std::string* path) {
  const int error = real.temporaryFolder(path);
  return Fails("temporaryFolder") ? EIO : error;
}

int FaultySystem::stampModified(const char* path, std::int64_t nanoseconds) {
  return Fails("stampModified") ? -1 : real.stampModified(path, nanoseconds);
}

}  // namespace testing_support
