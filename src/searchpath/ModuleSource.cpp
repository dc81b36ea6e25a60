#include "searchpath/ModuleSource.h"

#include <utility>

#if defined(_WIN32)
#include <windows.h>  // the Win32 resource calls
#endif

#include "backends/ResourceTypes.h"
#include "files/EntryStream.h"
#include "files/MemorySource.h"
#include "files/SafeName.h"
#include "multifile/ArchiveFormat.h"

namespace RXM {
std::shared_ptr<const ModuleSource> ModuleSource::Load(const std::string& path, sys::System& system,
                                                       Status& why) {
  const HINSTANCE module = LoadResourceModule(path.c_str(), why, system);
  if (module == nullptr) {
    return nullptr;
  }
  return std::make_shared<const ModuleSource>(module, path);
}

// Each type and name once (a resource in several languages is visited once
// per language); its bytes are those FindResourceA picks.
ModuleSource::ModuleSource(HINSTANCE loaded, std::string path)
    : module(loaded), origin(std::make_shared<const std::string>(std::move(path))) {
  ListResources(module, Collect, this);
}

void ModuleSource::Collect(const ResourceInfo& info, void* context) {
  auto* self = static_cast<ModuleSource*>(context);
  const std::string name = ResourceTypeText(info.type) + "/" + info.name;
  const std::string key = multifile::FoldName(name.c_str());
  if (CheckSafeName(name.c_str()) != NameFault::kNone || self->resources.count(key) != 0) {
    return;
  }
  const HRSRC found = FindResourceA(self->module, info.name, info.type);
  const HGLOBAL loaded = found == nullptr ? nullptr : LoadResource(self->module, found);
  const void* bytes = loaded == nullptr ? nullptr : LockResource(loaded);
  if (bytes == nullptr) {
    return;
  }
  self->resources[key] = Resource{name, static_cast<const std::uint8_t*>(bytes),
                                  static_cast<std::uint32_t>(SizeofResource(self->module, found))};
}

ModuleSource::~ModuleSource() {
  FreeResourceModule(module);
}

const ModuleSource::Resource* ModuleSource::Find(const std::string& name) const {
  const auto found = resources.find(multifile::FoldName(name.c_str()));
  return found == resources.end() ? nullptr : &found->second;
}

Pointer<KYFile> ModuleSource::Open(const std::string& name, Status&) const {
  const Resource* resource = Find(name);
  if (resource == nullptr) {
    return nullptr;
  }
  return Pointer<KYFile>(new EntryStream(
      std::make_shared<const MemorySource>(shared_from_this(), resource->bytes, resource->size), 0,
      resource->size, origin, resource->name, multifile::NameIs));
}

// A module refuses none of its resources: `why` is never set.
SourceStat ModuleSource::Stat(const std::string& name, Status&) const {
  SourceStat stat;
  const Resource* resource = Find(name);
  if (resource != nullptr) {
    stat.kinds = kFileName;
    stat.size = static_cast<long>(resource->size);
  }
  Listing below;
  List(name, below);
  if (!below.empty()) {
    stat.kinds |= kFolderName;
  }
  return stat;
}

// The resources are few (a module's handful), so a listing looks at each.
void ModuleSource::List(const std::string& folder, Listing& names) const {
  const std::string prefix = folder.empty() ? "" : multifile::FoldName(folder.c_str()) + "/";
  for (const auto& entry : resources) {
    if (entry.first.compare(0, prefix.size(), prefix) == 0) {
      const std::size_t slash = entry.second.name.find('/', prefix.size());
      names[entry.second.name.substr(prefix.size(), slash - prefix.size())] |=
          slash == std::string::npos ? kFileName : kFolderName;
    }
  }
}

}  // namespace RXM
