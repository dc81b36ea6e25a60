// OperatingSystem's calls for replacing an archive (System.h says what each
// does): the lock, the temporary file, and the copy into it.
#include "backends/OperatingSystem.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

namespace RXM {
namespace sys {

Handle HandleOf(std::FILE* stream) {
#if defined(_WIN32)
  return static_cast<Handle>(_get_osfhandle(_fileno(stream)));
#else
  return static_cast<Handle>(fileno(stream));
#endif
}

namespace {

// Six letters and digits that differ from call to call and from process to
// process; exclusivity comes from the exclusive creation, not from these.
std::string Suffix() {
  static std::atomic<std::uint64_t> state{
      std::random_device()() ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
  std::uint64_t value = state.fetch_add(0x9E3779B97F4A7C15ull) * 0xBF58476D1CE4E5B9ull;
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 6; ++i) {
    suffix += kAlphabet[value % 36];
    value /= 36;
  }
  return suffix;
}

// The bytes of a copy that cannot stay in the kernel pass through this much
// memory at a time.
constexpr std::size_t kCopyBuffer = std::size_t{1} << 18;

// Reads at `offset` and appends through `to`'s buffer, a bounded block at a
// time.
std::uint64_t CopyThroughBuffer(System& system, Handle from, std::uint64_t offset,
                                std::uint64_t size, std::FILE* to) {
  std::vector<char> buffer(size < kCopyBuffer ? static_cast<std::size_t>(size) : kCopyBuffer);
  std::uint64_t copied = 0;
  while (copied < size) {
    const std::uint64_t left = size - copied;
    const std::size_t part = left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
    const std::int64_t got = system.readAt(from, buffer.data(), part, offset + copied);
    if (got <= 0 || std::fwrite(buffer.data(), 1, static_cast<std::size_t>(got), to) !=
                        static_cast<std::size_t>(got)) {
      break;
    }
    copied += static_cast<std::uint64_t>(got);
  }
  return copied;
}

}  // namespace

#if defined(_WIN32)

int OperatingSystem::resolveLinks(const char* path, std::string* target) {
  *target = path;
  return 0;
}

int OperatingSystem::checkWritable(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return 0;
  }
  return (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? EACCES : 0;
}

Handle OperatingSystem::openLock(const char* path) {
  const std::string lock = std::string(path) + ".lock";
  const HANDLE handle = CreateFileA(lock.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? kNoHandle : reinterpret_cast<Handle>(handle);
}

int OperatingSystem::tryLock(Handle handle) {
  OVERLAPPED at = {};
  if (LockFileEx(reinterpret_cast<HANDLE>(handle),
                 LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    return 0;
  }
  return GetLastError() == ERROR_LOCK_VIOLATION ? EWOULDBLOCK : EIO;
}

int OperatingSystem::unlock(Handle handle) {
  OVERLAPPED at = {};
  return UnlockFileEx(reinterpret_cast<HANDLE>(handle), 0, 1, 0, &at) ? 0 : -1;
}

void OperatingSystem::pause(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

// The C runtime never shares deletion, so removeAbandoned cannot delete the
// file while this stream has it open.
std::FILE* OperatingSystem::createTemporary(const char* prefix, std::string* name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = std::string(prefix) + Suffix();
    const int file = _open(name->c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                           _S_IREAD | _S_IWRITE);
    if (file >= 0) {
      std::FILE* stream = _fdopen(file, "wb");
      if (stream == nullptr) {
        _close(file);
        _unlink(name->c_str());
      }
      return stream;
    }
    if (errno != EEXIST) {
      return nullptr;
    }
  }
  return nullptr;
}

int OperatingSystem::removeAbandoned(const char* path) {
  return DeleteFileA(path) ? 0 : -1;
}

int OperatingSystem::placeNew(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH)) {
    return 0;
  }
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? EEXIST : EIO;
}

int OperatingSystem::copyAttributes(const char* /*model*/, std::FILE* /*stream*/) {
  return 0;
}

int OperatingSystem::stampModified(const char* path, std::int64_t nanoseconds) {
  const HANDLE file = CreateFileA(path, FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return -1;
  }
  const std::uint64_t ticks = static_cast<std::uint64_t>(nanoseconds / 100 + 116444736000000000LL);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  const bool stamped = SetFileTime(file, nullptr, nullptr, &time) != 0;
  CloseHandle(file);
  return stamped ? 0 : -1;
}

std::uint64_t OperatingSystem::copyRange(Handle from, std::uint64_t offset, std::uint64_t size,
                                         std::FILE* to) {
  return CopyThroughBuffer(*this, from, offset, size, to);
}

#else

int OperatingSystem::resolveLinks(const char* path, std::string* target) {
  std::string current = path;
  for (int hop = 0; hop <= 40; ++hop) {
    struct stat status;
    if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      *target = current;
      return 0;
    }
    char link[4096];
    const ssize_t length = ::readlink(current.c_str(), link, sizeof link);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof link) {
      return -1;
    }
    const std::string next(link, static_cast<std::size_t>(length));
    const std::size_t slash = current.rfind('/');
    if (next[0] == '/' || slash == std::string::npos) {
      current = next;
    } else {
      current.resize(slash + 1);  // the link's folder, to which a relative target is joined
      current += next;
    }
  }
  errno = ELOOP;
  return -1;
}

int OperatingSystem::checkWritable(const char* path) {
  struct stat status;
  if (::stat(path, &status) != 0) {
    return errno == ENOENT ? 0 : errno;
  }
  if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    return EACCES;
  }
  return ::access(path, W_OK) == 0 ? 0 : errno;
}

// O_NONBLOCK: a FIFO under the archive's name must not stop the writer.
Handle OperatingSystem::openLock(const char* path) {
  const int descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  return descriptor < 0 ? kNoHandle : static_cast<Handle>(descriptor);
}

int OperatingSystem::tryLock(Handle handle) {
  int result;
  do {
    result = ::flock(static_cast<int>(handle), LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) {
    return 0;
  }
  return errno == EWOULDBLOCK ? EWOULDBLOCK : errno;
}

int OperatingSystem::unlock(Handle handle) {
  return ::flock(static_cast<int>(handle), LOCK_UN);
}

void OperatingSystem::pause(std::uint32_t milliseconds) {
  timespec time = {static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&time, &time) != 0 && errno == EINTR) {
  }
}

std::FILE* OperatingSystem::createTemporary(const char* prefix, std::string* name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = std::string(prefix) + Suffix();
    const int file =
        ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (file >= 0) {
      ::flock(file, LOCK_EX | LOCK_NB);
      std::FILE* stream = ::fdopen(file, "wb");
      if (stream == nullptr) {
        ::unlink(name->c_str());
        ::close(file);
      }
      return stream;
    }
    if (errno != EEXIST) {
      return nullptr;
    }
  }
  return nullptr;
}

// The lock is tried on the file that was opened, and the name removed only
// while it still names that file.
int OperatingSystem::removeAbandoned(const char* path) {
  const int file = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) {
    return -1;
  }
  struct stat opened, named;
  int result = -1;
  if (::fstat(file, &opened) == 0 && S_ISREG(opened.st_mode) &&
      ::flock(file, LOCK_EX | LOCK_NB) == 0 && ::lstat(path, &named) == 0 &&
      named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
    result = ::unlink(path);
  }
  ::close(file);
  return result;
}

// A file system without hard links gets a plain rename, which would replace
// a file made under `to` in the moment since the caller looked.
int OperatingSystem::placeNew(const char* from, const char* to) {
  if (::link(from, to) != 0) {
    if (errno == EEXIST) {
      return EEXIST;
    }
    return std::rename(from, to) == 0 ? 0 : errno;
  }
  ::unlink(from);
  return 0;
}

// The owner first: changing it may clear the set-user-ID bits that the mode
// then sets again.
int OperatingSystem::copyAttributes(const char* model, std::FILE* stream) {
  struct stat status;
  if (::stat(model, &status) != 0) {
    return errno == ENOENT ? 0 : -1;
  }
  const int file = fileno(stream);
  if (::fchown(file, status.st_uid, status.st_gid) != 0) {
    (void)::fchown(file, static_cast<uid_t>(-1), status.st_gid);
  }
  return ::fchmod(file, status.st_mode & 07777);
}

int OperatingSystem::stampModified(const char* path, std::int64_t nanoseconds) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays
  times[1].tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
  times[1].tv_nsec = static_cast<long>(nanoseconds % 1000000000);
  return ::utimensat(AT_FDCWD, path, times, 0);
}

std::uint64_t OperatingSystem::copyRange(Handle from, std::uint64_t offset, std::uint64_t size,
                                         std::FILE* to) {
  if (std::fflush(to) != 0) {
    return 0;
  }
  std::uint64_t copied = 0;
#if defined(__linux__)
  const int out = fileno(to);
  bool throughMemory = false;
  while (copied < size) {
    loff_t at = static_cast<loff_t>(offset + copied);
    const std::uint64_t left = size - copied;
    const ssize_t got = ::copy_file_range(static_cast<int>(from), &at, out, nullptr,
                                          left < (1u << 30) ? left : (1u << 30), 0);
    if (got > 0) {
      copied += static_cast<std::uint64_t>(got);
      continue;
    }
    if (got < 0 && errno == EINTR) {
      continue;
    }
    // No copy inside the kernel between these two files (another file
    // system, an old kernel, a special file): through memory below.
    throughMemory = got < 0 && copied == 0 &&
                    (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                     errno == EBADF);
    break;
  }
  if (!throughMemory) {
    return std::fseek(to, 0, SEEK_END) == 0 ? copied : 0;
  }
#endif
  return CopyThroughBuffer(*this, from, offset, size, to);
}

#endif

}  // namespace sys
}  // namespace RXM
