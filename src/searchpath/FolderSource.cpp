#include "searchpath/FolderSource.h"

#include <cstdint>
#include <utility>

#include "backends/SharedHandle.h"
#include "backends/System.h"
#include "files/EntryStream.h"
#include "multifile/ArchiveFormat.h"

namespace RXM {
namespace {

// The handle of the regular file `name` below `root` and its size, which
// positions of 32 bits must reach; kNoHandle otherwise.
sys::Handle OpenSized(sys::System& system, const std::string& root, const std::string& name,
                      std::uint32_t* size) {
  const sys::Handle handle = system.openBelow(root.c_str(), name.c_str());
  if (handle == sys::kNoHandle) {
    return handle;
  }
  sys::FileInfo info;
  if (system.inspectHandle(handle, &info) != 0 || info.kind != sys::FileKind::kFile ||
      info.size > static_cast<std::uint64_t>(INT32_MAX)) {
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
  const sys::Handle handle = system.openBelow(root.c_str(), name.c_str());
  sys::FileInfo info;
  const bool examined = handle != sys::kNoHandle && system.inspectHandle(handle, &info) == 0;
  if (handle != sys::kNoHandle) {
    system.closeHandle(handle);
  }
  if (examined && info.kind == sys::FileKind::kFile &&
      info.size <= static_cast<std::uint64_t>(INT32_MAX)) {
    stat.kinds = kFileName;
    stat.size = static_cast<long>(info.size);
  } else if ((examined && info.kind == sys::FileKind::kFolder) ||
             (handle == sys::kNoHandle &&
              system.listBelow(root.c_str(), name.c_str(), Ignore, nullptr) >= 0)) {
    stat.kinds = kFolderName;
  }
  return stat;
}

void FolderSource::List(const std::string& folder, Listing& names) const {
  system.listBelow(root.c_str(), folder.c_str(), AddName, &names);
}

}  // namespace RXM
