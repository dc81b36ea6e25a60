// OperatingSystem's walk below a folder: opening a folder or a file below a
// root, and listing a folder, without ever following a link out of it; and
// a folder made for the process alone, and removed.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "backends/OperatingSystem.h"
#include "files/SafeName.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace RXM {
namespace sys {

#if defined(_WIN32)
int ErrnoOf(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    default:
      return EIO;
  }
}

namespace {

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

// A new folder takes its parent's access rules: a user's own temporary
// folder (%TEMP%) admits no one else already.
int OperatingSystem::makePrivateFolder(const char* path) {
  return CreateDirectoryA(path, nullptr) ? 0 : ErrnoOf(GetLastError());
}

int OperatingSystem::currentFolder(std::string* path) {
  std::string text(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(text.size()), &text[0]);
    if (length == 0) {
      return ErrnoOf(GetLastError());
    }
    if (length < text.size()) {  // the length without the NUL: it fitted
      text.resize(length);
      *path = text;
      return 0;
    }
    text.assign(length, '\0');  // the room it needs, its NUL counted
  }
}

// GetTempPath reads TMP, TEMP and USERPROFILE, and ends its answer with a
// separator.
int OperatingSystem::temporaryFolder(std::string* path) {
  char text[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof text, text);
  if (length == 0 || length > sizeof text) {
    return length == 0 ? ErrnoOf(GetLastError()) : ENAMETOOLONG;
  }
  std::string folder(text, length);
  while (folder.size() > 3 && IsPathSeparator(folder.back())) {
    folder.pop_back();
  }
  *path = folder;
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return ErrnoOf(GetLastError());
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ENOTDIR;
}

// The C runtime's remove deletes files only; a folder (or a junction, whose
// own entry goes, never what it reaches) needs RemoveDirectory.
int OperatingSystem::remove(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return std::remove(path);
  }
  if (RemoveDirectoryA(path)) {
    return 0;
  }
  errno = ErrnoOf(GetLastError());
  return -1;
}
#else
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
      kind = S_ISDIR(status.st_mode)   ? FileKind::kFolder
             : S_ISREG(status.st_mode) ? FileKind::kFile
                                       : FileKind::kOther;
    }
    visit(entry->d_name, kind, context);
    ++visited;
  }
  ::closedir(listing);
  return visited;
}

// Mode 0700: the process's umask can only take bits away, never add any, so
// the folder is the user's alone whatever it is. mkdir never follows a link
// at the name: that is EEXIST like any other.
int OperatingSystem::makePrivateFolder(const char* path) {
  return ::mkdir(path, 0700) == 0 ? 0 : errno;
}

int OperatingSystem::currentFolder(std::string* path) {
  std::string text(256, '\0');
  while (::getcwd(&text[0], text.size()) == nullptr) {
    if (errno != ERANGE) {
      return errno;
    }
    text.resize(text.size() * 2);
  }
  text.resize(std::strlen(text.c_str()));
  *path = text;
  return 0;
}

// The variables std::filesystem::temp_directory_path reads, in its order;
// read before any thread starts, as every program's environment is.
int OperatingSystem::temporaryFolder(std::string* path) {
  const char* folder = "/tmp";
  for (const char* variable : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
    const char* value = std::getenv(variable);  // NOLINT(concurrency-mt-unsafe)
    if (value != nullptr && *value != '\0') {
      folder = value;
      break;
    }
  }
  *path = folder;
  struct stat status {};
  if (::stat(folder, &status) != 0) {
    return errno;
  }
  return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
}

// POSIX's remove takes an empty folder as well (rmdir).
int OperatingSystem::remove(const char* path) {
  return std::remove(path);
}
#endif

}  // namespace sys
}  // namespace RXM
