// OperatingSystem's calls on the names in a folder that a walk opened: how
// a new file is made beside its target and put in its place.
#include <cerrno>
#include <cstdio>
#include <string>

#include "backends/OperatingSystem.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace RXM {
namespace sys {

#if defined(_WIN32)
namespace {

// The path of `name` in the folder open as `folder`, or "" with errno set
// when the system does not say where the folder is.
std::string PathIn(Handle folder, const char* name) {
  char path[MAX_PATH * 4];
  const DWORD length =
      GetFinalPathNameByHandleA(reinterpret_cast<HANDLE>(folder), path, sizeof path, 0);
  if (length == 0 || length >= sizeof path) {
    errno = length == 0 ? ErrnoOf(GetLastError()) : ENAMETOOLONG;
    return std::string();
  }
  return std::string(path, length) + "\\" + name;
}

}  // namespace

int OperatingSystem::inspectIn(Handle folder, const char* name, FileInfo* info) {
  *info = FileInfo();
  const std::string path = PathIn(folder, name);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    info->error = path.empty() ? errno : ErrnoOf(GetLastError());
    if (info->error == ENOENT) {
      info->error = 0;
      return 0;
    }
    return -1;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    info->kind = FileKind::kOther;
    info->link = true;
  } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    info->kind = FileKind::kFolder;
  } else {
    info->kind = FileKind::kFile;
    info->size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  return 0;
}

// _O_EXCL is CREATE_NEW, which fails on any existing name, a link's too.
std::FILE* OperatingSystem::createIn(Handle folder, const char* name) {
  const std::string path = PathIn(folder, name);
  if (path.empty()) {
    return nullptr;
  }
  const int file = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                         _S_IREAD | _S_IWRITE);
  if (file < 0) {
    return nullptr;
  }
  std::FILE* stream = _fdopen(file, "wb");
  if (stream == nullptr) {
    const int error = errno;
    _close(file);
    DeleteFileA(path.c_str());
    errno = error;
  }
  return stream;
}

int OperatingSystem::renameIn(Handle folder, const char* from, const char* to, bool replace) {
  const std::string source = PathIn(folder, from);
  const std::string target = source.empty() ? std::string() : PathIn(folder, to);
  if (target.empty()) {
    return errno;
  }
  if (MoveFileExA(source.c_str(), target.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    return 0;
  }
  return ErrnoOf(GetLastError());
}

int OperatingSystem::removeIn(Handle folder, const char* name) {
  const std::string path = PathIn(folder, name);
  if (path.empty()) {
    return errno;
  }
  return DeleteFileA(path.c_str()) ? 0 : ErrnoOf(GetLastError());
}

#else

int OperatingSystem::inspectIn(Handle folder, const char* name, FileInfo* info) {
  *info = FileInfo();
  struct stat status;
  if (::fstatat(static_cast<int>(folder), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) {
      return 0;
    }
    info->error = errno;
    return -1;
  }
  FillFileInfo(status, info);
  info->names = static_cast<std::uint64_t>(status.st_nlink);
  info->link = S_ISLNK(status.st_mode);
  return 0;
}

std::FILE* OperatingSystem::createIn(Handle folder, const char* name) {
  const int at = static_cast<int>(folder);
  const int file = ::openat(at, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (file < 0) {
    return nullptr;
  }
  std::FILE* stream = ::fdopen(file, "wb");
  if (stream == nullptr) {
    const int error = errno;
    ::close(file);
    ::unlinkat(at, name, 0);
    errno = error;
  }
  return stream;
}

// renameat replaces what `to` names either way.
int OperatingSystem::renameIn(Handle folder, const char* from, const char* to, bool /*replace*/) {
  const int at = static_cast<int>(folder);
  return ::renameat(at, from, at, to) == 0 ? 0 : errno;
}

int OperatingSystem::removeIn(Handle folder, const char* name) {
  return ::unlinkat(static_cast<int>(folder), name, 0) == 0 ? 0 : errno;
}

#endif

}  // namespace sys
}  // namespace RXM
