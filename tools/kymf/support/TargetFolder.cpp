#include "support/TargetFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <system_error>

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

#include "support/Reporter.h"

namespace kymf {
namespace {

using RXM::ErrorCode;
using RXM::Status;

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
      return RXM::OpenFailure(shown, errno);
    }
  }
  if (file < 0) {
    temporary.clear();  // every name was taken, by files that are not ours
    return RXM::OpenFailure(shown, EEXIST);
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
    status = RXM::OpenFailure(shown, writeError);
  }
  return status;
}

}  // namespace

std::string TargetFolder::Shown(const std::string& name) const {
  return path.empty() ? name : path + "/" + name;
}

// A folder the walk reached, closed with the object; on Windows its path too,
// by which the calls there name what is in it.
struct TargetFolder::Folder {
  explicit Folder(RXM::sys::System& calls) : system(calls) {}
  ~Folder() {
    if (handle != RXM::sys::kNoHandle) {
      system.closeHandle(handle);
    }
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  RXM::sys::System& system;
  RXM::sys::Handle handle = RXM::sys::kNoHandle;
  std::string path;
};

Status TargetFolder::Open(const std::string& folder) {
  path = folder;
  Folder root(system);
  RXM::sys::WalkStop stop;
  root.handle = system.openFolderBelow(path.c_str(), "", false, &stop);
  if (root.handle == RXM::sys::kNoHandle) {
    const std::string shown = folder.empty() ? "." : folder;
    return stop.error != 0 ? RXM::OpenFailure(shown, stop.error) : NotAFolder(shown);
  }
  return Status::Ok();
}

// The folders on the way to `name`, made when missing, through the one walk.
Status TargetFolder::OpenParent(const std::string& name, Folder& parent) const {
  const std::size_t slash = name.rfind('/');
  const std::string folders = slash == std::string::npos ? std::string() : name.substr(0, slash);
  RXM::sys::WalkStop stop;
  parent.handle = system.openFolderBelow(path.c_str(), folders.c_str(), true, &stop);
  if (parent.handle == RXM::sys::kNoHandle) {
    const std::string shown = folders.empty()
                                  ? (path.empty() ? "." : path)
                                  : Shown(folders.substr(0, folders.find('/', stop.at)));
    if (stop.found == RXM::sys::FileKind::kOther) {
      return LinkRefused(shown);
    }
    return stop.found == RXM::sys::FileKind::kMissing ? RXM::OpenFailure(shown, stop.error)
                                                      : NotAFolder(shown);
  }
#if defined(_WIN32)
  parent.path = path.empty() ? "." : path;
  if (!folders.empty()) {
    parent.path += "\\" + folders;
    std::replace(parent.path.begin(), parent.path.end(), '/', '\\');
  }
#endif
  return Status::Ok();
}

#if !defined(_WIN32)

Status TargetFolder::CheckExisting(const Folder& parent, const std::string& name, Existing existing,
                                   bool* exists, bool* kept) const {
  struct stat info;
  if (::fstatat(static_cast<int>(parent.handle), LeafOf(name).c_str(), &info,
                AT_SYMLINK_NOFOLLOW) != 0) {
    *exists = false;
    return errno == ENOENT ? Status::Ok() : RXM::OpenFailure(Shown(name), errno);
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
  const int folder = static_cast<int>(parent.handle);
  const NewFileCalls calls{[folder](const std::string& temporary) {
                             return ::openat(folder, temporary.c_str(),
                                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                             0666);
                           },
                           [](int file, const char* bytes, std::size_t size) -> long long {
                             const ssize_t written = ::write(file, bytes, size);
                             return written < 0 && errno == EINTR ? 0 : written;
                           },
                           [](int file) { return ::close(file); }};
  std::string temporary;
  Status status = FillNewFile(calls, leaf, Shown(name), fill, temporary);
  if (status.IsOk() && ::renameat(folder, temporary.c_str(), folder, leaf.c_str()) != 0) {
    status = RXM::OpenFailure(Shown(name), errno);
  }
  if (!status.IsOk() && !temporary.empty()) {
    ::unlinkat(folder, temporary.c_str(), 0);
  }
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
  const NewFileCalls calls{
      [&folder](const std::string& temporary) {
        return _open((folder + temporary).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                     _S_IREAD | _S_IWRITE);
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
#if defined(_WIN32)
  for (std::size_t start = 0; start <= name.size();) {
    const std::size_t end = std::min(name.find('/', start), name.size());
    if (RXM::IsDeviceName(name.substr(start, end - start))) {
      return Status(ErrorCode::kNameRefused, name + ": " + RXM::Describe(ErrorCode::kNameRefused) +
                                                 ": is a Windows device name");
    }
    start = end + 1;
  }
#endif
  Folder parent(system);
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
