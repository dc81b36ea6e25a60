#include "support/TargetFolder.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <system_error>

#include "support/SignalCleanup.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kymf {
namespace {

using RXM::ErrorCode;
using RXM::Status;

// `shown` and the system's text for the errno value `error`.
Status SystemFailure(const std::string& shown, int error) {
  if (error == ENOENT) {
    return Status(ErrorCode::kNoSuchFile, shown + ": " + RXM::Describe(ErrorCode::kNoSuchFile));
  }
  return Status(ErrorCode::kCannotOpen, shown + ": " + std::generic_category().message(error));
}

Status LinkRefused(const std::string& shown) {
  return Status(ErrorCode::kCannotOpen, shown + ": is a link; not followed");
}

Status NotAFolder(const std::string& shown) {
  return Status(ErrorCode::kCannotOpen, shown + ": " + std::generic_category().message(ENOTDIR));
}

Status ExistsRefused(const std::string& shown, const char* kind) {
  return Status(ErrorCode::kAlreadyExists, shown + ": " + RXM::Describe(ErrorCode::kAlreadyExists) +
                                               kind + " (--force replaces it, -k keeps it)");
}

std::string LeafOf(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// A name for the temporary file beside `leaf` that no entry can have (safe
// names never hold a '~' after a '.kymf').
std::string TemporaryName(const std::string& leaf, int attempt) {
#if defined(_WIN32)
  const int process = _getpid();
#else
  const int process = static_cast<int>(getpid());
#endif
  return "." + leaf.substr(0, 32) + ".kymf~" + std::to_string(process) + "-" +
         std::to_string(attempt);
}

// One new file's calls, as each platform makes them: `create` makes the file
// of a temporary name exclusively, never through a link (a descriptor, or -1
// with errno set); `writeSome` writes up to `size` bytes (how many, 0 after an
// interruption, or -1 with errno set); `close`.
struct NewFileCalls {
  std::function<int(const std::string& temporary)> create;
  std::function<long long(int file, const char* bytes, std::size_t size)> writeSome;
  std::function<int(int file)> close;
};

// Makes a new file under the first free one of 100 temporary names beside
// `leaf` (its name left in `temporary`) and fills it through `fill`. Ok, or
// why not, naming `shown`; when the file was made it is closed, and
// `temporary` is empty exactly when no file was made.
Status FillNewFile(const NewFileCalls& calls, const std::string& leaf, const std::string& shown,
                   const TargetFolder::Fill& fill, std::string& temporary) {
  int file = -1;
  for (int attempt = 0; file < 0 && attempt < 100; ++attempt) {
    temporary = TemporaryName(leaf, attempt);
    file = calls.create(temporary);
    if (file < 0 && errno != EEXIST) {
      temporary.clear();
      return SystemFailure(shown, errno);
    }
  }
  if (file < 0) {
    temporary.clear();  // every name was taken, by files that are not ours
    return SystemFailure(shown, EEXIST);
  }
  int writeError = 0;
  const TargetFolder::Write write = [&](const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0 && writeError == 0) {
      const long long written = calls.writeSome(file, bytes, size);
      if (written < 0) {
        writeError = errno;
      } else {
        bytes += written;
        size -= static_cast<std::size_t>(written);
      }
    }
    return writeError == 0;
  };
  Status status = fill(write);
  if (calls.close(file) != 0 && writeError == 0) {
    writeError = errno;
  }
  if (status.IsOk() && writeError != 0) {
    status = SystemFailure(shown, writeError);
  }
  return status;
}

}  // namespace

std::string TargetFolder::Shown(const std::string& name) const {
  return path.empty() ? name : path + "/" + name;
}

#if !defined(_WIN32)

struct TargetFolder::Folder {
  int descriptor = -1;
  bool owned = false;
  ~Folder() { Release(); }
  void Release() {
    if (owned && descriptor >= 0) {
      ::close(descriptor);
    }
  }
  void Take(int next) {
    Release();
    descriptor = next;
    owned = true;
  }
};

TargetFolder::~TargetFolder() {
  if (descriptor >= 0) {
    ::close(descriptor);
  }
}

Status TargetFolder::Open(const std::string& folder) {
  path = folder;
  descriptor = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) {
    return SystemFailure(folder.empty() ? "." : folder, errno);
  }
  return Status::Ok();
}

Status TargetFolder::OpenParent(const std::string& name, Folder& parent) const {
  parent.descriptor = descriptor;
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  std::size_t start = 0;
  for (std::size_t slash = name.find('/'); slash != std::string::npos;
       slash = name.find('/', start)) {
    const std::string part = name.substr(start, slash - start);
    const std::string shown = Shown(name.substr(0, slash));
    int next = ::openat(parent.descriptor, part.c_str(), kFlags);
    if (next < 0 && errno == ENOENT) {
      if (::mkdirat(parent.descriptor, part.c_str(), 0777) != 0 && errno != EEXIST) {
        return SystemFailure(shown, errno);
      }
      next = ::openat(parent.descriptor, part.c_str(), kFlags);
    }
    if (next < 0) {
      const int error = errno;
      struct stat info;
      if (::fstatat(parent.descriptor, part.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        return S_ISLNK(info.st_mode) ? LinkRefused(shown) : NotAFolder(shown);
      }
      return SystemFailure(shown, error);
    }
    parent.Take(next);
    start = slash + 1;
  }
  return Status::Ok();
}

Status TargetFolder::CheckExisting(const Folder& parent, const std::string& name, Existing existing,
                                   bool* exists, bool* kept) const {
  struct stat info;
  if (::fstatat(parent.descriptor, LeafOf(name).c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    *exists = false;
    return errno == ENOENT ? Status::Ok() : SystemFailure(Shown(name), errno);
  }
  *exists = true;
  if (S_ISDIR(info.st_mode)) {
    return Status(ErrorCode::kIsAFolder, Shown(name) + ": " + RXM::Describe(ErrorCode::kIsAFolder));
  }
  if (existing == Existing::kKeep) {
    *kept = true;
  }
  if (existing != Existing::kRefuse) {
    return Status::Ok();
  }
  const char* kind = S_ISLNK(info.st_mode) ? ", as a symbolic link"
                     : info.st_nlink > 1   ? ", as a hard link"
                                           : "";
  return ExistsRefused(Shown(name), kind);
}

Status TargetFolder::WriteAndRename(const Folder& parent, const std::string& name, bool replace,
                                    const Fill& fill) const {
  (void)replace;  // rename() replaces the name's directory entry either way
  const std::string leaf = LeafOf(name);
  const int folder = parent.descriptor;
  int slot = -1;
  const NewFileCalls calls{[folder, &slot](const std::string& temporary) {
                             const int file = ::openat(
                                 folder, temporary.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
                             if (file >= 0) {
                               slot = SignalCleanup::Add(folder, temporary.c_str());
                             }
                             return file;
                           },
                           [](int file, const char* bytes, std::size_t size) -> long long {
                             const ssize_t written = ::write(file, bytes, size);
                             return written < 0 && errno == EINTR ? 0 : written;
                           },
                           [](int file) { return ::close(file); }};
  std::string temporary;
  Status status = FillNewFile(calls, leaf, Shown(name), fill, temporary);
  if (status.IsOk() && ::renameat(folder, temporary.c_str(), folder, leaf.c_str()) != 0) {
    status = SystemFailure(Shown(name), errno);
  }
  if (!status.IsOk() && !temporary.empty()) {
    ::unlinkat(folder, temporary.c_str(), 0);
  }
  SignalCleanup::Drop(slot);
  return status;
}

#else  // Windows

namespace {

Status WindowsFailure(const std::string& shown, DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return Status(ErrorCode::kNoSuchFile, shown + ": " + RXM::Describe(ErrorCode::kNoSuchFile));
  }
  return Status(ErrorCode::kCannotOpen,
                shown + ": " + std::system_category().message(static_cast<int>(error)));
}

}  // namespace

struct TargetFolder::Folder {
  std::string path;
};

TargetFolder::~TargetFolder() = default;

Status TargetFolder::Open(const std::string& folder) {
  path = folder;
  const std::string shown = folder.empty() ? "." : folder;
  const DWORD attributes = GetFileAttributesA(shown.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return WindowsFailure(shown, GetLastError());
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return NotAFolder(shown);
  }
  return Status::Ok();
}

Status TargetFolder::OpenParent(const std::string& name, Folder& parent) const {
  parent.path = path.empty() ? "." : path;
  std::size_t start = 0;
  for (std::size_t slash = name.find('/'); slash != std::string::npos;
       slash = name.find('/', start)) {
    const std::string shown = Shown(name.substr(0, slash));
    const std::string next = parent.path + "\\" + name.substr(start, slash - start);
    const DWORD attributes = GetFileAttributesA(next.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      if (!CreateDirectoryA(next.c_str(), nullptr)) {
        return WindowsFailure(shown, GetLastError());
      }
    } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return LinkRefused(shown);
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return NotAFolder(shown);
    }
    parent.path = next;
    start = slash + 1;
  }
  return Status::Ok();
}

Status TargetFolder::CheckExisting(const Folder& parent, const std::string& name, Existing existing,
                                   bool* exists, bool* kept) const {
  const std::string target = parent.path + "\\" + LeafOf(name);
  const DWORD attributes = GetFileAttributesA(target.c_str());
  *exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!*exists) {
    return Status::Ok();
  }
  const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!link && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Status(ErrorCode::kIsAFolder, Shown(name) + ": " + RXM::Describe(ErrorCode::kIsAFolder));
  }
  if (existing == Existing::kKeep) {
    *kept = true;
  }
  if (existing != Existing::kRefuse) {
    return Status::Ok();
  }
  return ExistsRefused(Shown(name), link ? ", as a link" : "");
}

Status TargetFolder::WriteAndRename(const Folder& parent, const std::string& name, bool replace,
                                    const Fill& fill) const {
  const std::string leaf = LeafOf(name);
  const std::string folder = parent.path + "\\";
  int slot = -1;
  const NewFileCalls calls{
      [&folder, &slot](const std::string& temporary) {
        const int file = _open((folder + temporary).c_str(),
                               _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (file >= 0) {
          slot = SignalCleanup::Add(SignalCleanup::kPath, (folder + temporary).c_str());
        }
        return file;
      },
      [](int file, const char* bytes, std::size_t size) -> long long {
        const unsigned int piece = size > (1u << 30) ? (1u << 30) : static_cast<unsigned int>(size);
        return _write(file, bytes, piece);
      },
      [](int file) { return _close(file); }};
  std::string temporary;
  Status status = FillNewFile(calls, leaf, Shown(name), fill, temporary);
  if (status.IsOk() && !MoveFileExA((folder + temporary).c_str(), (folder + leaf).c_str(),
                                    replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    status = WindowsFailure(Shown(name), GetLastError());
  }
  if (!status.IsOk() && !temporary.empty()) {
    DeleteFileA((folder + temporary).c_str());
  }
  SignalCleanup::Drop(slot);
  return status;
}

#endif

Status TargetFolder::Place(const std::string& name, Existing existing, const Fill& fill,
                           bool* kept) {
  *kept = false;
  const RXM::NameFault fault = RXM::CheckSafeName(name.c_str(), name.size());
  if (fault != RXM::NameFault::kNone) {  // callers check first; this is the last guard
    return Status(ErrorCode::kNameRefused, name + ": " + RXM::Describe(ErrorCode::kNameRefused) +
                                               ": " + RXM::DescribeNameFault(fault));
  }
  Folder parent;
  Status status = OpenParent(name, parent);
  bool exists = false;
  if (status.IsOk()) {
    status = CheckExisting(parent, name, existing, &exists, kept);
  }
  if (!status.IsOk() || *kept) {
    return status;
  }
  return WriteAndRename(parent, name, exists && existing == Existing::kReplace, fill);
}

}  // namespace kymf
