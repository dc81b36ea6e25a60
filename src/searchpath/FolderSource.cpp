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
    static_cast<std::set<std::string>*>(context)->insert(name);
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

long FolderSource::GetSize(const std::string& name, Status&) const {
  std::uint32_t size = 0;
  const sys::Handle handle = OpenSized(system, root, name, &size);
  if (handle == sys::kNoHandle) {
    return -1;
  }
  system.closeHandle(handle);
  return static_cast<long>(size);
}

// Links and devices are left out: Open would refuse them.
void FolderSource::List(const std::string& folder, std::set<std::string>& names) const {
  system.listBelow(root.c_str(), folder.c_str(), AddName, &names);
}

bool FolderSource::HasFolder(const std::string& folder) const {
  return system.listBelow(root.c_str(), folder.c_str(), Ignore, nullptr) >= 0;
}

}  // namespace RXM
