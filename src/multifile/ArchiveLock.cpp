#include "multifile/ArchiveLock.h"

#include <algorithm>
#include <cerrno>

#include "files/Failure.h"

namespace RXM {
namespace {

// Each pause while another writer holds the lock: short at first, so that a
// short write costs little waiting, then at most this long.
constexpr std::uint32_t kLongestPause = 100;

// A lock taken on a file that was replaced in the meantime is given up and
// the new file locked; as many times as this before giving up.
constexpr int kMostReplacements = 1000;
constexpr int kReplaced = -1;  // TryOnce: the locked file is no longer the archive
constexpr int kFolder = -2;    // TryOnce: the archive's name is a folder
constexpr int kNotAFile = -3;  // TryOnce: ... a FIFO, a socket or a device

// 0 when the archive `target`, whose lock `handle` opened, is a regular
// file; kFolder or kNotAFile when it is none, or the errno value when that
// cannot be found out. On POSIX the lock is the archive's own file, so its
// handle is examined; on Windows it is a file of its own beside the archive,
// which is examined by name (a file system that has no FIFOs, and whose
// opens of the archive refuse a folder).
int KindOf(sys::System& system, sys::Handle handle, const std::string& target) {
  sys::FileInfo info;
#if defined(_WIN32)
  (void)handle;
  if (system.inspect(target.c_str(), &info) != 0) {
    return info.error != 0 ? info.error : EIO;
  }
  if (info.kind == sys::FileKind::kMissing) {
    return 0;
  }
#else
  (void)target;
  if (system.inspectHandle(handle, &info) != 0) {
    return info.error != 0 ? info.error : EIO;
  }
#endif
  if (info.kind == sys::FileKind::kFolder) {
    return kFolder;
  }
  return info.kind == sys::FileKind::kFile ? 0 : kNotAFile;
}

// Why the lock of `target` could not be opened (`error`): what is under the
// name when that says it (a socket refuses every open), else `error`.
int RefusalOf(sys::System& system, const std::string& target, int error) {
  sys::FileInfo info;
  if (system.inspect(target.c_str(), &info) == 0) {
    if (info.kind == sys::FileKind::kFolder) {
      return kFolder;
    }
    if (info.kind == sys::FileKind::kOther) {
      return kNotAFile;
    }
  }
  return error;
}

#if !defined(_WIN32)
// Whether `handle` and the name `path` reach the same file.
bool SameFile(sys::System& system, sys::Handle handle, const std::string& path) {
  sys::FileInfo held, named;
  if (system.inspectHandle(handle, &held) != 0 || system.inspect(path.c_str(), &named) != 0) {
    return false;
  }
  return held.device == named.device && held.node == named.node;
}
#endif

}  // namespace

Status ArchiveLock::Acquire(const std::string& name, const LockWait& wait) {
  Release();
  if (system.resolveLinks(name.c_str(), &target) != 0) {
    const int error = errno;
    return Status(ErrorCode::kCannotOpen, name + ": " + SystemReason(error), error);
  }
  const int writable = system.checkWritable(target.c_str());
  if (writable == EACCES || writable == EPERM || writable == EROFS) {
    return Status(
        ErrorCode::kReadOnly,
        name + ": " + Describe(ErrorCode::kReadOnly) + " (" + SystemReason(writable) + ")",
        writable);
  }
  if (writable != 0) {
    return Status(ErrorCode::kCannotOpen, name + ": " + SystemReason(writable), writable);
  }
  std::uint32_t waited = 0;
  std::uint32_t pause = 1;
  for (int attempt = 0; attempt < kMostReplacements; ++attempt) {
    const int result = TryOnce();
    if (result == 0) {
      return Status::Ok();
    }
    if (result == kReplaced) {
      continue;
    }
    if (result == kFolder || result == kNotAFile) {
      return result == kFolder ? Failure(ErrorCode::kIsAFolder, name) : NotARegularFile(name);
    }
    if (result != EWOULDBLOCK) {
      return SystemFailure(ErrorCode::kCannotOpen, name, "cannot be locked", result);
    }
    if (waited >= wait.milliseconds) {
      break;
    }
    if (waited == 0 && wait.waiting != nullptr) {
      wait.waiting(name.c_str(), wait.context);
    }
    pause = std::min({pause * 2, kLongestPause, wait.milliseconds - waited});
    system.pause(pause);
    waited += pause;
  }
  return Failure(ErrorCode::kBusy, name);
}

// The kind is checked on the file opened, never by the name alone, so that
// nothing put under the name in between is taken for the archive.
int ArchiveLock::TryOnce() {
  handle = system.openLock(target.c_str());
  if (handle == sys::kNoHandle) {
    const int error = errno;
    return error == ENOENT ? 0 : RefusalOf(system, target, error);
  }
  int result = KindOf(system, handle, target);
  if (result == 0) {
    result = system.tryLock(handle);
  }
#if !defined(_WIN32)
  if (result == 0 && !SameFile(system, handle, target)) {
    system.unlock(handle);
    result = kReplaced;
  }
#endif
  if (result != 0) {
    system.closeHandle(handle);
    handle = sys::kNoHandle;
  }
  return result;
}

bool ArchiveLock::Locks(std::FILE* stream) const {
  if (!IsHeld()) {
    return false;
  }
#if defined(_WIN32)
  (void)stream;
  return true;
#else
  sys::FileInfo held, open;
  return stream != nullptr && system.inspectHandle(handle, &held) == 0 &&
         system.inspectHandle(system.handleOf(stream), &open) == 0 && held.device == open.device &&
         held.node == open.node;
#endif
}

void ArchiveLock::Release() {
  if (handle != sys::kNoHandle) {
    system.unlock(handle);
    system.closeHandle(handle);
    handle = sys::kNoHandle;
  }
}

}  // namespace RXM
