#include "backends/OperatingSystem.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files/SafeName.h"

#if defined(_WIN32)
#include <io.h>
#include <share.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace RXM {
namespace sys {

#if defined(_WIN32)
namespace {

// A Windows file time (100 ns units since 1601) as nanoseconds since 1970.
std::int64_t UnixNanoseconds(const FILETIME& time) {
  const std::int64_t ticks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  return (ticks - 116444736000000000LL) * 100;
}

// The identity of what `path` reaches (following links), which the
// attributes do not say: an open that asks for no access and shares
// everything, so that it succeeds whoever holds the file, and folders open
// too (FILE_FLAG_BACKUP_SEMANTICS). Left 0, unknown, when even that fails.
void FillIdentity(const char* path, FileInfo* info) {
  const HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return;
  }
  BY_HANDLE_FILE_INFORMATION data;
  if (GetFileInformationByHandle(handle, &data)) {
    info->device = data.dwVolumeSerialNumber;
    info->node = (static_cast<std::uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
  }
  CloseHandle(handle);
}

}  // namespace
#endif

#if !defined(_WIN32)
namespace {

// A mode that only reads: "r" or "rb", no "+".
bool ReadsOnly(const char* mode) {
  return mode[0] == 'r' && std::strchr(mode, '+') == nullptr;
}

// fopen(path, "r"), except that the open never waits: a FIFO with no writer
// yet is opened at once (O_NONBLOCK, taken off again once it is open), so
// that the caller can look at what it opened before it reads.
std::FILE* OpenForReadingOnly(const char* path, const char* mode) {
  const int descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    return nullptr;
  }
  const int flags = ::fcntl(descriptor, F_GETFL);
  std::FILE* stream = nullptr;
  if (flags != -1 && ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == 0) {
    stream = ::fdopen(descriptor, mode);
  }
  if (stream == nullptr) {
    const int error = errno;
    ::close(descriptor);
    errno = error;
  }
  return stream;
}

}  // namespace
#endif

std::FILE* OperatingSystem::open(const char* path, const char* mode) {
#if defined(_WIN32)
  return _fsopen(path, mode, _SH_DENYNO);
#else
  return ReadsOnly(mode) ? OpenForReadingOnly(path, mode) : std::fopen(path, mode);
#endif
}

std::size_t OperatingSystem::write(const void* buffer, std::size_t size, std::size_t count,
                                   std::FILE* stream) {
  return std::fwrite(buffer, size, count, stream);
}

int OperatingSystem::flush(std::FILE* stream) {
  return std::fflush(stream);
}

int OperatingSystem::sync(std::FILE* stream) {
#if defined(_WIN32)
  return _commit(_fileno(stream));
#else
  return fsync(fileno(stream));
#endif
}

int OperatingSystem::close(std::FILE* stream) {
  return std::fclose(stream);
}

int OperatingSystem::replace(const char* from, const char* to) {
#if defined(_WIN32)
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
#else
  return std::rename(from, to);
#endif
}

// On Windows MOVEFILE_WRITE_THROUGH has already made the move durable.
int OperatingSystem::syncDirectoryOf(const char* path) {
#if defined(_WIN32)
  (void)path;
  return 0;
#else
  std::string directory(path);
  const std::size_t slash = directory.find_last_of('/');
  if (slash == std::string::npos) {
    directory = ".";
  } else if (slash == 0) {
    directory = "/";
  } else {
    directory.resize(slash);
  }
  const int descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
  if (descriptor < 0) {
    return -1;
  }
  const int result = fsync(descriptor);
  ::close(descriptor);
  return result;
#endif
}

void* OperatingSystem::allocate(std::size_t size) {
  return std::malloc(size);
}

std::size_t OperatingSystem::read(void* buffer, std::size_t size, std::size_t count,
                                  std::FILE* stream) {
  return std::fread(buffer, size, count, stream);
}

int OperatingSystem::seek(std::FILE* stream, std::int64_t offset, int origin) {
#if defined(_WIN32)
  // fseek wherever a long reaches: it clears the end-of-file indicator, as
  // DiskFile's Seek promises, which the _fseeki64 that mingw-w64 links
  // against msvcrt does not. Only a larger move needs _fseeki64.
  if (offset >= LONG_MIN && offset <= LONG_MAX) {
    return std::fseek(stream, static_cast<long>(offset), origin);
  }
  return _fseeki64(stream, offset, origin);
#else
  return fseeko(stream, static_cast<off_t>(offset), origin);
#endif
}

std::int64_t OperatingSystem::tell(std::FILE* stream) {
#if defined(_WIN32)
  return _ftelli64(stream);
#else
  return static_cast<std::int64_t>(ftello(stream));
#endif
}

#if !defined(_WIN32)

namespace {

OtherKind OtherOf(mode_t mode) {
  if (S_ISFIFO(mode)) {
    return OtherKind::kFifo;
  }
  if (S_ISSOCK(mode)) {
    return OtherKind::kSocket;
  }
  return S_ISCHR(mode) || S_ISBLK(mode) ? OtherKind::kDevice : OtherKind::kUnknown;
}

}  // namespace

void FillFileInfo(const struct stat& status, FileInfo* info) {
  info->device = static_cast<std::uint64_t>(status.st_dev);
  info->node = static_cast<std::uint64_t>(status.st_ino);
  info->modified = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                   static_cast<std::int64_t>(status.st_mtim.tv_nsec);
  if (S_ISDIR(status.st_mode)) {
    info->kind = FileKind::kFolder;
  } else if (S_ISREG(status.st_mode)) {
    info->kind = FileKind::kFile;
    info->size = static_cast<std::uint64_t>(status.st_size);
  } else {
    info->kind = FileKind::kOther;
    info->other = OtherOf(status.st_mode);
  }
}

#if defined(STATX_BTIME)
void FillFileInfo(const struct statx& status, FileInfo* info) {
  info->device = static_cast<std::uint64_t>(makedev(status.stx_dev_major, status.stx_dev_minor));
  info->node = static_cast<std::uint64_t>(status.stx_ino);
  if (S_ISDIR(status.stx_mode)) {
    info->kind = FileKind::kFolder;
  } else if (S_ISREG(status.stx_mode)) {
    info->kind = FileKind::kFile;
    info->size = static_cast<std::uint64_t>(status.stx_size);
  } else {
    info->kind = FileKind::kOther;
    info->other = OtherOf(status.stx_mode);
  }
  info->modified = static_cast<std::int64_t>(status.stx_mtime.tv_sec) * 1000000000 +
                   static_cast<std::int64_t>(status.stx_mtime.tv_nsec);
  if (status.stx_mask & STATX_BTIME) {
    info->created = static_cast<std::int64_t>(status.stx_btime.tv_sec) * 1000000000 +
                    static_cast<std::int64_t>(status.stx_btime.tv_nsec);
  }
}
#endif

#endif

int OperatingSystem::inspect(const char* path, FileInfo* info) {
  *info = FileInfo();
#if defined(_WIN32)
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return 0;
    }
    info->error = error == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return -1;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    info->kind = FileKind::kFolder;
  } else {
    info->kind = FileKind::kFile;
    info->size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  info->modified = UnixNanoseconds(data.ftLastWriteTime);
  info->created = UnixNanoseconds(data.ftCreationTime);
  FillIdentity(path, info);
  return 0;
#elif defined(STATX_BTIME)
  // statx, for the birth time too, in the one call that stat would be.
  struct statx status;
  if (::statx(AT_FDCWD, path, 0, STATX_BASIC_STATS | STATX_BTIME, &status) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return 0;
    }
    info->error = errno;
    return -1;
  }
  FillFileInfo(status, info);
  return 0;
#else
  struct stat status;
  if (::stat(path, &status) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return 0;
    }
    info->error = errno;
    return -1;
  }
  FillFileInfo(status, info);
  return 0;
#endif
}

Handle OperatingSystem::openForReading(const char* path) {
#if defined(_WIN32)
  const HANDLE handle =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = ErrnoOf(GetLastError());
    return kNoHandle;
  }
  // A device ("CON", "NUL") or a pipe is no file to read at offsets.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    errno = ENXIO;
    return kNoHandle;
  }
  return reinterpret_cast<Handle>(handle);
#else
  // O_NONBLOCK: a FIFO under the name must not stop the caller; it is
  // refused with the other files that are no regular ones.
  const int descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    return kNoHandle;
  }
  struct stat status;
  const bool examined = ::fstat(descriptor, &status) == 0;
  if (!examined || !S_ISREG(status.st_mode)) {
    const int error = !examined ? errno : S_ISDIR(status.st_mode) ? EISDIR : ENXIO;
    ::close(descriptor);
    errno = error;
    return kNoHandle;
  }
  return static_cast<Handle>(descriptor);
#endif
}

#if !defined(_WIN32)
namespace {

// A descriptor with an open file of its own on the very file `shared` has
// open, or -1. A duplicate (F_DUPFD) would share the stream's open file, and
// Linux then takes that file's position lock at every seek and read of the
// stream, which an open of an entry by name pays on each seek (250 ns became
// 280). Linux opens a descriptor's link in /proc/self/fd as the file itself,
// even after the name was taken by another file or removed: what ReOpenFile
// gives on Windows. Only a regular file is opened again (a FIFO would wait
// for a writer), and only an answer that is the same file is kept; anything
// else (no /proc, its rights, another system) leaves the duplicate to the
// caller.
int ReopenedDescriptor(int shared) {
#if defined(__linux__)
  struct stat opened;
  if (::fstat(shared, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    return -1;
  }
  const std::string link = "/proc/self/fd/" + std::to_string(shared);
  const int saved = errno;
  const int own = ::open(link.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat reopened;
  if (own >= 0 && (::fstat(own, &reopened) != 0 || reopened.st_dev != opened.st_dev ||
                   reopened.st_ino != opened.st_ino)) {
    ::close(own);
    errno = saved;
    return -1;
  }
  errno = saved;
  return own;
#else
  (void)shared;
  return -1;
#endif
}

}  // namespace
#endif

// A file object of its own where the system gives one: on Windows a
// duplicated handle would share the stream's file pointer, which the C
// runtime reads from. Elsewhere a duplicate will do (pread ignores the
// shared offset).
Handle OperatingSystem::duplicateForReading(std::FILE* stream) {
  const Handle own = reopenForReading(HandleOf(stream));
#if defined(_WIN32)
  return own;
#else
  if (own != kNoHandle) {
    return own;
  }
  const int descriptor = ::fcntl(fileno(stream), F_DUPFD_CLOEXEC, 0);
  return descriptor < 0 ? kNoHandle : static_cast<Handle>(descriptor);
#endif
}

Handle OperatingSystem::reopenForReading(Handle handle) {
#if defined(_WIN32)
  const HANDLE own = ReOpenFile(reinterpret_cast<HANDLE>(handle), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (own == INVALID_HANDLE_VALUE) {
    errno = ErrnoOf(GetLastError());
    return kNoHandle;
  }
  return reinterpret_cast<Handle>(own);
#else
  const int own = ReopenedDescriptor(static_cast<int>(handle));
  if (own < 0) {
    errno = ENOTSUP;
    return kNoHandle;
  }
  return static_cast<Handle>(own);
#endif
}

std::int64_t OperatingSystem::readAt(Handle handle, void* buffer, std::size_t size,
                                     std::uint64_t offset) {
#if defined(_WIN32)
  // An OVERLAPPED offset on a handle opened without FILE_FLAG_OVERLAPPED is a
  // synchronous read at that offset; the handle's own position is not used.
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD wanted = size > 0x7fffffffu ? 0x7fffffffu : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle), buffer, wanted, &got, &at)) {
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return got;
#else
  ssize_t got;
  do {
    got = ::pread(static_cast<int>(handle), buffer, size, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  return got;
#endif
}

int OperatingSystem::closeHandle(Handle handle) {
#if defined(_WIN32)
  return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) ? 0 : -1;
#else
  return ::close(static_cast<int>(handle));
#endif
}

#if defined(_WIN32)

namespace {

FileInfo InfoOf(const BY_HANDLE_FILE_INFORMATION& data) {
  FileInfo info;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    info.kind = FileKind::kOther;
  } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    info.kind = FileKind::kFolder;
  } else {
    info.kind = FileKind::kFile;
    info.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  info.modified = UnixNanoseconds(data.ftLastWriteTime);
  info.created = UnixNanoseconds(data.ftCreationTime);
  info.device = data.dwVolumeSerialNumber;
  info.node = (static_cast<std::uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
  return info;
}

}  // namespace

int OperatingSystem::inspectHandle(Handle handle, FileInfo* info) {
  BY_HANDLE_FILE_INFORMATION data;
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &data)) {
    *info = FileInfo();
    info->error = EIO;
    return -1;
  }
  *info = InfoOf(data);
  return 0;
}

#else
int OperatingSystem::inspectHandle(Handle handle, FileInfo* info) {
  *info = FileInfo();
  struct stat status;
  if (::fstat(static_cast<int>(handle), &status) != 0) {
    info->error = errno;
    return -1;
  }
  FillFileInfo(status, info);
  return 0;
}

#endif

}  // namespace sys
}  // namespace RXM
