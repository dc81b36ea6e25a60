#include "searchpath/FolderSource.h"

#include <cstdint>
#include <utility>

#include "backends/SharedHandle.h"
#include "backends/System.h"
#include "files/EntryStream.h"
#include "multifile/ArchiveFormat.h"

namespace RXM {
namespace {

// The handle `name` below `root` opens as, with what it is in *info;
// kNoHandle when it does not open (*opened false) or opens but cannot be
// examined (*opened true, the handle closed again).
sys::Handle OpenExamined(sys::System& system, const std::string& root, const std::string& name,
                         sys::FileInfo* info, bool* opened) {
  const sys::Handle handle = system.openBelow(root.c_str(), name.c_str());
  *opened = handle != sys::kNoHandle;
  if (*opened && system.inspectHandle(handle, info) != 0) {
    system.closeHandle(handle);
    return sys::kNoHandle;
  }
  return handle;
}

// Whether a folder's file is served: a regular file whose every position
// fits in 32 bits.
bool Served(const sys::FileInfo& info) {
  return info.kind == sys::FileKind::kFile && info.size <= static_cast<std::uint64_t>(INT32_MAX);
}

// The handle of the served file `name` below `root` and its size;
// kNoHandle otherwise.
sys::Handle OpenSized(sys::System& system, const std::string& root, const std::string& name,
                      std::uint32_t* size) {
  sys::FileInfo info;
  bool opened = false;
  const sys::Handle handle = OpenExamined(system, root, name, &info, &opened);
  if (handle == sys::kNoHandle) {
    return handle;
  }
  if (!Served(info)) {
    system.closeHandle(handle);
    return sys::kNoHandle;
  }
  *size = static_cast<std::uint32_t>(info.size);
  return handle;
}

void AddName(const char* name, sys::FileKind kind, void* context) {
  if (kind == sys::FileKind::kFile || kind == sys::FileKind::kFolder) {
    (*static_cast<Listing*>(context))[name] |=
        kind == sys::FileKind::kFile ? kFileName : kFolderName;
  }
}

void Ignore(const char*, sys::FileKind, void*) {}

}  // namespace

FolderSource::FolderSource(std::string folder, sys::System& calls)
    : system(calls), root(std::move(folder)), origin(std::make_shared<const std::string>(root)) {}

Pointer<KYFile> FolderSource::Open(const std::string& name, Status&) const {
  std::uint32_t size = 0;
  std::shared_ptr<const SharedHandle> handle =
      SharedHandle::Adopt(OpenSized(system, root, name, &size), system);
  if (!handle) {
    return nullptr;
  }
  return Pointer<KYFile>(
      new EntryStream(std::move(handle), 0, size, origin, name, multifile::NameIs));
}

// The name is examined through the handle it opens as, so that what is
// said of it is what Open would open. Where a folder does not open as a file
// (Windows), listing it says whether it is one.
SourceStat FolderSource::Stat(const std::string& name, Status&) const {
  SourceStat stat;
  sys::FileInfo info;
  bool opened = false;
  const sys::Handle handle = OpenExamined(system, root, name, &info, &opened);
  const bool examined = handle != sys::kNoHandle;
  if (examined) {
    system.closeHandle(handle);
  }
  if (examined && Served(info)) {
    stat.kinds = kFileName;
    stat.size = static_cast<long>(info.size);
  } else if ((examined && info.kind == sys::FileKind::kFolder) ||
             (!opened && system.listBelow(root.c_str(), name.c_str(), Ignore, nullptr) >= 0)) {
    stat.kinds = kFolderName;
  }
  return stat;
}

void FolderSource::List(const std::string& folder, Listing& names) const {
  system.listBelow(root.c_str(), folder.c_str(), AddName, &names);
}

}  // namespace RXM
