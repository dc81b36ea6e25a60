#include "backends/OperatingSystem.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

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

// Whether Windows would take `component` for something else than a name in
// its folder: a device (CON, NUL, COM1, ... whatever the extension) or a
// stream (":").
bool IsSpecialComponent(const std::string& component) {
  if (component.find(':') != std::string::npos) {
    return true;
  }
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') {
    base.pop_back();
  }
  for (char& c : base) {
    c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (base == device) {
      return true;
    }
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '0' && base[3] <= '9';
}

// `root` joined with each component of `name`, every one of which must exist
// and be no reparse point; "" when one fails.
std::string PathBelow(const char* root, const std::string& name) {
  std::string path = root;
  std::size_t begin = 0;
  while (begin < name.size()) {
    std::size_t end = name.find('/', begin);
    end = end == std::string::npos ? name.size() : end;
    const std::string component = name.substr(begin, end - begin);
    if (IsSpecialComponent(component)) {
      return "";
    }
    path += "\\" + component;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return "";
    }
    begin = end + 1;
  }
  return path;
}

}  // namespace

Handle OperatingSystem::openBelow(const char* root, const char* name) {
  const std::string path = PathBelow(root, name);
  if (path.empty()) {
    return kNoHandle;
  }
  const HANDLE handle = CreateFileA(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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
  const std::string path = *folder == '\0' ? std::string(root) : PathBelow(root, folder);
  WIN32_FIND_DATAA data;
  const HANDLE search =
      path.empty() ? INVALID_HANDLE_VALUE : FindFirstFileA((path + "\\*").c_str(), &data);
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

// The folder `root`, then each "/"-separated component of `path` opened
// relative to the folder before it, never through a link: the last folder's
// descriptor, or -1.
int OpenFolderBelow(const char* root, const std::string& path) {
  int folder = ::open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::size_t begin = 0;
  while (folder >= 0 && begin < path.size()) {
    std::size_t end = path.find('/', begin);
    end = end == std::string::npos ? path.size() : end;
    const std::string component = path.substr(begin, end - begin);
    const int next =
        ::openat(folder, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(folder);
    folder = next;
    begin = end + 1;
  }
  return folder;
}

}  // namespace

// O_NONBLOCK: opening a FIFO planted in the folder must not wait for a writer.
Handle OperatingSystem::openBelow(const char* root, const char* name) {
  const std::string path = name;
  const std::size_t slash = path.rfind('/');
  const int folder =
      OpenFolderBelow(root, slash == std::string::npos ? std::string() : path.substr(0, slash));
  if (folder < 0) {
    return kNoHandle;
  }
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
  const int descriptor = OpenFolderBelow(root, folder);
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
