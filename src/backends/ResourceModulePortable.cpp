// The resource functions where the platform has none: modules read from disk
// by the library's own reader (ResourceImage, ResourceTree).
//
// A module handle is the module's record, checked against the set of live
// modules before use. A resource handle points at the resource's data entry
// inside its module's tree, as on Windows; it is checked to lie in the tree
// of the live module it is given with, and every read through it stays in
// that tree, so it needs no record of its own.
#if !defined(_WIN32)

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "backends/ResourceImage.h"
#include "backends/ResourceModule.h"
#include "backends/ResourceModuleFile.h"
#include "backends/ResourceTree.h"

struct ResourceModuleImage {
  std::string path;
  RXM::ResourceImage image;
};

namespace {

constexpr std::uint32_t kDataEntrySize = 16;

// The modules that LoadResourceModule returned and that are not freed yet,
// owned here. Modules are loaded and freed from any thread (search paths
// mount them), so the set has a lock; a module itself never changes once
// loaded.
class LiveModules {
 public:
  static LiveModules& Get() {
    static LiveModules live;
    return live;
  }
  HINSTANCE Add(std::unique_ptr<ResourceModuleImage> module) {
    const std::lock_guard<std::mutex> hold(lock);
    HINSTANCE handle = module.get();
    modules.emplace(handle, std::move(module));
    return handle;
  }
  bool Has(HINSTANCE module) {
    const std::lock_guard<std::mutex> hold(lock);
    return modules.count(module) != 0;
  }
  bool Free(HINSTANCE module) {
    std::unique_ptr<ResourceModuleImage> freed;  // deleted after the lock is let go
    const std::lock_guard<std::mutex> hold(lock);
    const auto found = modules.find(module);
    if (found == modules.end()) {
      return false;
    }
    freed = std::move(found->second);
    modules.erase(found);
    return true;
  }

 private:
  std::mutex lock;
  std::unordered_map<const ResourceModuleImage*, std::unique_ptr<ResourceModuleImage>> modules;
};

bool Live(HINSTANCE module) {
  return module != nullptr && LiveModules::Get().Has(module);
}

// The offset of `resource`'s data entry in `module`'s tree, if it is one of
// that live module's handles.
bool EntryOf(HINSTANCE module, HRSRC resource, std::uint32_t& entry) {
  if (!Live(module) || resource == nullptr) {
    return false;
  }
  const RXM::ByteSpan tree = module->image.Tree();
  const auto at = reinterpret_cast<std::uintptr_t>(resource);
  const auto root = reinterpret_cast<std::uintptr_t>(tree.data);
  if (tree.size < kDataEntrySize || at < root || at - root > tree.size - kDataEntrySize) {
    return false;
  }
  entry = static_cast<std::uint32_t>(at - root);
  return true;
}

}  // namespace

HRSRC FindResourceA(HINSTANCE module, const char* name, const char* type) {
  if (!Live(module) || name == nullptr || type == nullptr) {
    return nullptr;
  }
  RXM::ResourceKey typeKey, nameKey;
  if (!RXM::ResourceKey::FromText(type, typeKey) || !RXM::ResourceKey::FromText(name, nameKey)) {
    return nullptr;
  }
  const RXM::ByteSpan bytes = module->image.Tree();
  std::uint32_t entry = 0;
  if (bytes.size == 0 || !RXM::ResourceTree(bytes).Find(typeKey, nameKey, entry)) {
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(const_cast<std::uint8_t*>(bytes.data + entry));
}

HGLOBAL LoadResource(HINSTANCE module, HRSRC resource) {
  std::uint32_t entry = 0, rva = 0, size = 0;
  if (!EntryOf(module, resource, entry) ||
      !RXM::ResourceTree(module->image.Tree()).Data(entry, rva, size)) {
    return nullptr;
  }
  return const_cast<std::uint8_t*>(module->image.At(rva, size));
}

std::uint32_t SizeofResource(HINSTANCE module, HRSRC resource) {
  std::uint32_t entry = 0, rva = 0, size = 0;
  if (!EntryOf(module, resource, entry) ||
      !RXM::ResourceTree(module->image.Tree()).Data(entry, rva, size)) {
    return 0;
  }
  return size;
}

void* LockResource(HGLOBAL loaded) {
  return loaded;
}

int FreeResource(HGLOBAL) {
  return 0;
}

namespace RXM {

HINSTANCE LoadResourceModule(const char* path, Status& status) {
  return LoadResourceModule(path, status, sys::System::Default());
}

HINSTANCE LoadResourceModule(const char* path, Status& status, sys::System& system) {
  if (path == nullptr) {
    status = ModuleStatus(ErrorCode::kNoSuchFile, "(no name)");
    return nullptr;
  }
  std::vector<std::uint8_t> bytes;
  status = ReadModuleFile(system, path, bytes);
  if (!status.IsOk()) {
    return nullptr;
  }
  auto module = std::make_unique<ResourceModuleImage>(ResourceModuleImage{path, ResourceImage()});
  std::string reason;
  const ErrorCode code = module->image.Load(std::move(bytes), reason);
  if (code != ErrorCode::kOk) {
    status = ModuleStatus(code, path, reason);
    return nullptr;
  }
  return LiveModules::Get().Add(std::move(module));
}

HINSTANCE LoadResourceModule(const char* path) {
  Status ignored;
  return LoadResourceModule(path, ignored);
}

bool FreeResourceModule(HINSTANCE module) {
  return module != nullptr && LiveModules::Get().Free(module);
}

int ListResources(HINSTANCE module, void (*visit)(const ResourceInfo&, void*), void* context,
                  Status& status, int language) {
  if (!Live(module)) {
    status = Status(ErrorCode::kNotOpen, "not a loaded resource module");
    return -1;
  }
  const ResourceImage& image = module->image;
  std::string fault = image.ResourceFault();
  int listed = 0;
  if (fault.empty() && image.Tree().size != 0) {
    listed = ListTree(
        ResourceTree(image.Tree()), ResourceTree::Shared::kWalkOnce,
        [&image](std::uint32_t rva, std::uint32_t size) { return image.At(rva, size); }, language,
        visit, context, fault);
  }
  status =
      fault.empty() ? Status::Ok() : ModuleStatus(ErrorCode::kDamagedModule, module->path, fault);
  return fault.empty() ? listed : -1;
}

int ListResources(HINSTANCE module, void (*visit)(const ResourceInfo&, void*), void* context) {
  Status ignored;
  return ListResources(module, visit, context, ignored);
}

}  // namespace RXM

#endif  // !_WIN32
