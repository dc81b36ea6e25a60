#include "support/TargetFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>

#include "files/SafeName.h"
#include "support/SignalCleanup.h"

#if defined(_WIN32)
#include <process.h>
#else
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

Status TargetFolder::CheckExisting(const Folder& parent, const std::string& name, Existing existing,
                                   bool* exists, bool* kept) const {
  RXM::sys::FileInfo info;
  if (system.inspectIn(parent.handle, LeafOf(name).c_str(), &info) != 0) {
    *exists = false;
    return RXM::OpenFailure(Shown(name), info.error);
  }
  *exists = info.kind != RXM::sys::FileKind::kMissing;
  if (!*exists) {
    return Status::Ok();
  }
  if (info.kind == RXM::sys::FileKind::kFolder) {
    return Status(ErrorCode::kIsAFolder, Shown(name) + ": " + RXM::Describe(ErrorCode::kIsAFolder));
  }
  if (existing == Existing::kKeep) {
    *kept = true;
  }
  if (existing != Existing::kRefuse) {
    return Status::Ok();
  }
#if defined(_WIN32)
  const char* const linkKind = ", as a link";
#else
  const char* const linkKind = ", as a symbolic link";
#endif
  const char* kind = info.link ? linkKind : info.names > 1 ? ", as a hard link" : "";
  return ExistsRefused(Shown(name), kind);
}

// Makes a new file under the first free one of 100 temporary names beside
// the leaf of `name` (its name left in `temporary`), registered for removal by
// a signal in `slot`, and fills it through `fill`. Ok, or why not; when the
// file was made it is closed, and `temporary` is empty exactly when no file
// was made.
Status TargetFolder::FillNewFile(const Folder& parent, const std::string& name, const Fill& fill,
                                 std::string& temporary, int& slot) const {
  std::FILE* file = nullptr;
  for (int attempt = 0; file == nullptr && attempt < 100; ++attempt) {
    temporary = TemporaryName(LeafOf(name), attempt);
    errno = 0;
    file = system.createIn(parent.handle, temporary.c_str());
    if (file == nullptr && errno != EEXIST) {
      temporary.clear();
      return RXM::OpenFailure(Shown(name), errno);
    }
  }
  if (file == nullptr) {
    temporary.clear();  // every name was taken, by files that are not ours
    return RXM::OpenFailure(Shown(name), EEXIST);
  }
#if defined(_WIN32)
  slot = SignalCleanup::Add(SignalCleanup::kPath, (parent.path + "\\" + temporary).c_str());
#else
  slot = SignalCleanup::Add(static_cast<int>(parent.handle), temporary.c_str());
#endif
  // A failure the system gives no number for (none set) is an I/O error.
  const auto failure = [] { return errno != 0 ? errno : EIO; };
  int writeError = 0;
  const Write write = [&](const void* data, std::size_t size) {
    errno = 0;
    if (writeError == 0 && size > 0 && system.write(data, 1, size, file) != size) {
      writeError = failure();
    }
    return writeError == 0;
  };
  Status status = fill(write);
  errno = 0;
  if (system.close(file) != 0 && writeError == 0) {
    writeError = failure();
  }
  if (status.IsOk() && writeError != 0) {
    status = RXM::OpenFailure(Shown(name), writeError);
  }
  return status;
}

Status TargetFolder::WriteAndRename(const Folder& parent, const std::string& name, bool replace,
                                    const Fill& fill) const {
  std::string temporary;
  int slot = -1;
  Status status = FillNewFile(parent, name, fill, temporary, slot);
  if (status.IsOk()) {
    const int error =
        system.renameIn(parent.handle, temporary.c_str(), LeafOf(name).c_str(), replace);
    if (error != 0) {
      status = RXM::OpenFailure(Shown(name), error);
    }
  }
  if (!status.IsOk() && !temporary.empty()) {
    (void)system.removeIn(parent.handle, temporary.c_str());
  }
  SignalCleanup::Drop(slot);
  return status;
}

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
