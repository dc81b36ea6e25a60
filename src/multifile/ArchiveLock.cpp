#include "multifile/ArchiveLock.h"

#include <algorithm>
#include <cerrno>

#include "multifile/ArchiveStatus.h"

namespace RXM {
namespace {

using kymf::Failure;

// Each pause while another writer holds the lock: short at first, so that a
// short write costs little waiting, then at most this long.
constexpr std::uint32_t kLongestPause = 100;

// A lock taken on a file that was replaced in the meantime is given up and
// the new file locked; as many times as this before giving up.
constexpr int kMostReplacements = 1000;
constexpr int kReplaced = -1;  // TryOnce: the locked file is no longer the archive

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
    return Failure(ErrorCode::kCannotOpen, name, SystemReason(errno));
  }
  const int writable = system.checkWritable(target.c_str());
  if (writable == EACCES || writable == EPERM || writable == EROFS) {
    return Failure(
        ErrorCode::kReadOnly, name,
        std::string(Describe(ErrorCode::kReadOnly)) + " (" + SystemReason(writable) + ")");
  }
  if (writable != 0) {
    return Failure(ErrorCode::kCannotOpen, name, SystemReason(writable));
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
    if (result != EWOULDBLOCK) {
      return Failure(ErrorCode::kCannotOpen, name, "cannot be locked: " + SystemReason(result));
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

int ArchiveLock::TryOnce() {
  handle = system.openLock(target.c_str());
  if (handle == sys::kNoHandle) {
    return errno == ENOENT ? 0 : errno;
  }
  int result = system.tryLock(handle);
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
