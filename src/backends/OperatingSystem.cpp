#include "backends/OperatingSystem.h"

#include <cerrno>
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
#include <unistd.h>
#endif

namespace RXM {
namespace sys {

std::FILE* OperatingSystem::open(const char* path, const char* mode) {
#if defined(_WIN32)
  return _fsopen(path, mode, _SH_DENYNO);
#else
  return std::fopen(path, mode);
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

int OperatingSystem::remove(const char* path) {
  return std::remove(path);
}

void* OperatingSystem::allocate(std::size_t size) {
  return std::malloc(size);
}

std::size_t OperatingSystem::read(void* buffer, std::size_t size, std::size_t count,
                                  std::FILE* stream) {
  return std::fread(buffer, size, count, stream);
}

#if !defined(_WIN32)

namespace {

// What a stat says of a name, as the seam reports it.
void Describe(const struct stat& status, FileInfo* info) {
  if (S_ISDIR(status.st_mode)) {
    info->kind = FileKind::kFolder;
  } else if (S_ISREG(status.st_mode)) {
    info->kind = FileKind::kFile;
    info->size = static_cast<std::uint64_t>(status.st_size);
  } else {
    info->kind = FileKind::kOther;
  }
}

}  // namespace

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
  Describe(status, info);
  return 0;
#endif
}

Handle OperatingSystem::openForReading(const char* path) {
#if defined(_WIN32)
  const HANDLE handle =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? kNoHandle : reinterpret_cast<Handle>(handle);
#else
  const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
  return descriptor < 0 ? kNoHandle : static_cast<Handle>(descriptor);
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

namespace {

// An errno value for the Win32 error of a walk.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    default:
      return EIO;
  }
}

// `root` ("." for "") and below it `path`, with Windows' separator.
std::string Joined(const char* root, const std::string& path) {
  std::string joined = *root == '\0' ? "." : root;
  if (!path.empty()) {
    joined += "\\" + path;
    for (std::size_t at = joined.size() - path.size(); at < joined.size(); ++at) {
      joined[at] = joined[at] == '/' ? '\\' : joined[at];
    }
  }
  return joined;
}

// Whether the component `next` (a path) is a folder that is no link, made
// first when missing and `create`; `stop` says why not.
bool StepInto(const std::string& next, bool create, WalkStop* stop) {
  DWORD attributes = GetFileAttributesA(next.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES && create &&
      (CreateDirectoryA(next.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)) {
    attributes = GetFileAttributesA(next.c_str());
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    stop->error = ErrnoOf(GetLastError());
  } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    stop->found = FileKind::kOther;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    stop->found = FileKind::kFile;
  } else {
    return true;
  }
  return false;
}

}  // namespace

// The root may itself be reached through a link: it is the caller's choice.
Handle OperatingSystem::openFolderBelow(const char* root, const char* path, bool create,
                                        WalkStop* stop) {
  *stop = WalkStop();
  const std::string names = path;
  std::string at = Joined(root, "");
  for (std::size_t begin = 0; begin < names.size();) {
    std::size_t end = names.find('/', begin);
    end = end == std::string::npos ? names.size() : end;
    const std::string component = names.substr(begin, end - begin);
    stop->at = begin;
    if (IsDeviceName(component)) {
      stop->found = FileKind::kOther;
      return kNoHandle;
    }
    at += "\\" + component;
    if (!StepInto(at, create, stop)) {
      return kNoHandle;
    }
    begin = end + 1;
  }
  const HANDLE handle =
      CreateFileA(at.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  FileInfo info;
  if (handle == INVALID_HANDLE_VALUE) {
    stop->error = ErrnoOf(GetLastError());
    return kNoHandle;
  }
  if (inspectHandle(reinterpret_cast<Handle>(handle), &info) != 0 ||
      info.kind != FileKind::kFolder) {
    ::CloseHandle(handle);
    stop->found = FileKind::kFile;
    stop->error = ENOTDIR;
    return kNoHandle;
  }
  return reinterpret_cast<Handle>(handle);
}

Handle OperatingSystem::openBelow(const char* root, const char* name) {
  const std::string path = name;
  const std::size_t slash = path.rfind('/');
  const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  WalkStop stop;
  const Handle folder = openFolderBelow(
      root, slash == std::string::npos ? "" : path.substr(0, slash).c_str(), false, &stop);
  if (folder == kNoHandle) {
    return kNoHandle;
  }
  closeHandle(folder);
  if (IsDeviceName(leaf)) {
    return kNoHandle;
  }
  const HANDLE handle =
      CreateFileA(Joined(root, path).c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return kNoHandle;
  }
  FileInfo info;
  if (inspectHandle(reinterpret_cast<Handle>(handle), &info) != 0 || info.kind != FileKind::kFile) {
    ::CloseHandle(handle);
    return kNoHandle;
  }
  return reinterpret_cast<Handle>(handle);
}

int OperatingSystem::listBelow(const char* root, const char* folder,
                               void (*visit)(const char* name, FileKind kind, void* context),
                               void* context) {
  WalkStop stop;
  const Handle opened = openFolderBelow(root, folder, false, &stop);
  if (opened == kNoHandle) {
    return -1;
  }
  closeHandle(opened);
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA((Joined(root, folder) + "\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) {
    return -1;
  }
  int visited = 0;
  do {
    if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) {
      continue;
    }
    FileKind kind = FileKind::kFile;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      kind = FileKind::kOther;
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      kind = FileKind::kFolder;
    }
    visit(data.cFileName, kind, context);
    ++visited;
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return visited;
}
#else
int OperatingSystem::inspectHandle(Handle handle, FileInfo* info) {
  *info = FileInfo();
  struct stat status;
  if (::fstat(static_cast<int>(handle), &status) != 0) {
    info->error = errno;
    return -1;
  }
  Describe(status, info);
  return 0;
}

namespace {

// The folder `component` of `folder`, never through a link, made first when
// missing and `create`: its descriptor, or -1 with `stop` saying why.
int FolderIn(int folder, const char* component, bool create, WalkStop* stop) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int next = ::openat(folder, component, kFlags);
  if (next < 0 && errno == ENOENT && create) {
    if (::mkdirat(folder, component, 0777) != 0 && errno != EEXIST) {
      stop->error = errno;
      return -1;
    }
    next = ::openat(folder, component, kFlags);
  }
  if (next < 0) {
    stop->error = errno;
    struct stat status;
    if (::fstatat(folder, component, &status, AT_SYMLINK_NOFOLLOW) == 0) {
      stop->found = S_ISLNK(status.st_mode) ? FileKind::kOther : FileKind::kFile;
    }
  }
  return next;
}

}  // namespace

// The root may itself be reached through a link: it is the caller's choice.
Handle OperatingSystem::openFolderBelow(const char* root, const char* path, bool create,
                                        WalkStop* stop) {
  *stop = WalkStop();
  int folder = ::open(*root == '\0' ? "." : root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    stop->error = errno;
    return kNoHandle;
  }
  const std::string names = path;
  for (std::size_t begin = 0; begin < names.size();) {
    std::size_t end = names.find('/', begin);
    end = end == std::string::npos ? names.size() : end;
    stop->at = begin;
    const int next = FolderIn(folder, names.substr(begin, end - begin).c_str(), create, stop);
    ::close(folder);
    if (next < 0) {
      return kNoHandle;
    }
    folder = next;
    begin = end + 1;
  }
  return static_cast<Handle>(folder);
}

// O_NONBLOCK: opening a FIFO planted in the folder must not wait for a writer.
Handle OperatingSystem::openBelow(const char* root, const char* name) {
  const std::string path = name;
  const std::size_t slash = path.rfind('/');
  WalkStop stop;
  const Handle opened = openFolderBelow(
      root, slash == std::string::npos ? "" : path.substr(0, slash).c_str(), false, &stop);
  if (opened == kNoHandle) {
    return kNoHandle;
  }
  const int folder = static_cast<int>(opened);
  const char* leaf = slash == std::string::npos ? name : name + slash + 1;
  const int descriptor = ::openat(folder, leaf, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  ::close(folder);
  FileInfo info;
  if (descriptor >= 0 && (inspectHandle(descriptor, &info) != 0 || info.kind != FileKind::kFile)) {
    ::close(descriptor);
    return kNoHandle;
  }
  return descriptor < 0 ? kNoHandle : static_cast<Handle>(descriptor);
}

int OperatingSystem::listBelow(const char* root, const char* folder,
                               void (*visit)(const char* name, FileKind kind, void* context),
                               void* context) {
  WalkStop stop;
  const Handle opened = openFolderBelow(root, folder, false, &stop);
  const int descriptor = opened == kNoHandle ? -1 : static_cast<int>(opened);
  DIR* listing = descriptor < 0 ? nullptr : ::fdopendir(descriptor);
  if (listing == nullptr) {
    if (descriptor >= 0) {
      ::close(descriptor);
    }
    return -1;
  }
  int visited = 0;
  // readdir is safe on a stream that no other thread uses, as this one is.
  while (const dirent* entry = ::readdir(listing)) {  // NOLINT(concurrency-mt-unsafe)
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
      continue;
    }
    struct stat status;
    FileKind kind = FileKind::kOther;
    if (::fstatat(::dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
      kind = S_ISDIR(status.st_mode) ? FileKind::kFolder
             : S_ISREG(status.st_mode) ? FileKind::kFile
                                       : FileKind::kOther;
    }
    visit(entry->d_name, kind, context);
    ++visited;
  }
  ::closedir(listing);
  return visited;
}
#endif

}  // namespace sys
}  // namespace RXM
