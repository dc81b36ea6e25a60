// The resource functions on Windows: the system's own, over modules that
// LoadLibraryExA maps as image resources. The system walks a module's records
// without checking where they lead, so listing walks the tree itself
// (ResourceTree) over the mapped image, with every read kept inside memory
// that is there, and the library's reader explains a module the system
// refuses.
#if defined(_WIN32)

#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "backends/ResourceBytes.h"
#include "backends/ResourceImage.h"
#include "backends/ResourceModule.h"
#include "backends/ResourceModuleFile.h"
#include "backends/ResourceTree.h"
#include "backends/System.h"

namespace RXM {

namespace {

// A module loaded as a data file or image resource is marked in its handle's
// low bits: 1 for the file as it lies on disk, 2 for a laid-out image.
const std::uint8_t* BaseOf(HINSTANCE module) {
  return reinterpret_cast<const std::uint8_t*>(reinterpret_cast<std::uintptr_t>(module) &
                                               ~static_cast<std::uintptr_t>(3));
}

bool LaidOutAsFile(HINSTANCE module) {
  return (reinterpret_cast<std::uintptr_t>(module) & 3) == 1;
}

// A 32-bit process cannot have the system lay out a 64-bit image (Wine
// refuses it with ERROR_BAD_EXE_FORMAT), but can map its file as it lies,
// which the resource functions also serve. Only a 64-bit module whose headers
// and section table are whole is taken that way; whatever else the system
// refused stays refused.
HINSTANCE LoadWideModuleAsFile(const char* path) {
  if (sizeof(void*) != 4) {
    return nullptr;
  }
  HINSTANCE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    return nullptr;
  }
  const std::uint8_t* base = BaseOf(module);
  const ByteSpan headerBytes{base, ReadableExtent(base, 0x10000)};
  ImageHeaders headers;
  std::string reason;
  if (ResourceImage::ReadHeaders(headerBytes, headers, reason) != ErrorCode::kOk || !headers.wide ||
      !headerBytes.Has(headers.sectionTable, std::uint64_t{40} * headers.sectionCount)) {
    FreeLibrary(module);
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  return module;
}

// The path each module was loaded from, for messages and for reading its
// file (the system keeps no file name for a module loaded for its
// resources), and the System that reads it. The system may hand out one
// handle for two loads of a file, so each path is counted.
class LoadedPaths {
 public:
  void Remember(HINSTANCE module, const char* path, sys::System& system) {
    const std::lock_guard<std::mutex> hold(lock);
    auto& known = paths[module];
    known.first = path;
    ++known.second;
    readers[module] = &system;
  }
  void Forget(HINSTANCE module) {
    const std::lock_guard<std::mutex> hold(lock);
    const auto known = paths.find(module);
    if (known != paths.end() && --known->second.second == 0) {
      paths.erase(known);
      readers.erase(module);
    }
  }
  // "" for a module LoadResourceModule did not load.
  std::string PathOf(HINSTANCE module) {
    const std::lock_guard<std::mutex> hold(lock);
    const auto known = paths.find(module);
    return known == paths.end() ? std::string() : known->second.first;
  }
  // The System that reads the module's file (the last load's), or the
  // process's own for a module LoadResourceModule did not load.
  sys::System& ReaderOf(HINSTANCE module) {
    const std::lock_guard<std::mutex> hold(lock);
    const auto known = readers.find(module);
    return known == readers.end() ? sys::System::Default() : *known->second;
  }

 private:
  std::mutex lock;
  std::map<HINSTANCE, std::pair<std::string, int>> paths;
  std::map<HINSTANCE, sys::System*> readers;
};

LoadedPaths& Loaded() {
  static LoadedPaths loaded;
  return loaded;
}

std::string ModuleName(HINSTANCE module) {
  const std::string known = Loaded().PathOf(module);
  if (!known.empty()) {
    return known;
  }
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, path, sizeof path);
  return length > 0 && length < sizeof path ? std::string(path, length) : "resource module";
}

// Whether the module's file, read as it lies, is damaged where the system's
// mapping hides it: a file cut short inside its sections is mapped with the
// missing bytes as zeros. False when the file is unknown or cannot be read
// now; the mapping is then all there is to go by.
bool FileFault(HINSTANCE module, std::string& fault) {
  const std::string path = Loaded().PathOf(module);
  std::vector<std::uint8_t> bytes;
  if (path.empty() || !ReadModuleFile(Loaded().ReaderOf(module), path.c_str(), bytes).IsOk()) {
    return false;
  }
  ResourceImage image;
  if (image.Load(std::move(bytes), fault) != ErrorCode::kOk) {
    return true;
  }
  fault = image.ResourceFault();
  return !fault.empty();
}

// Why the system refused the module at `path`, read through `system`.
Status Explain(sys::System& system, const char* path, DWORD error) {
  std::vector<std::uint8_t> bytes;
  Status status = ReadModuleFile(system, path, bytes);
  if (!status.IsOk()) {
    return status;
  }
  ResourceImage image;
  std::string reason;
  const ErrorCode code = image.Load(std::move(bytes), reason);
  if (code != ErrorCode::kOk) {
    return ModuleStatus(code, path, reason);
  }
  return ModuleStatus(ErrorCode::kDamagedModule, path,
                      "refused by the system (error " + std::to_string(error) + ")");
}

// The listing of a module mapped as its file lies: read through the file's
// section table, as the portable reader reads a file. The table is read from
// a copy that ends with this call; the bytes listed are the same ones in the
// module's own mapping, which lives until the module is freed.
int ListFileImage(HINSTANCE module, void (*visit)(const ResourceInfo&, void*), void* context,
                  int language, std::string& fault) {
  const std::uint8_t* base = BaseOf(module);
  const std::uint32_t extent = ReadableExtent(base, static_cast<std::uint32_t>(kLargestModule));
  ResourceImage image;
  if (image.Load(std::vector<std::uint8_t>(base, base + extent), fault) != ErrorCode::kOk) {
    return -1;
  }
  if (!image.ResourceFault().empty()) {
    fault = image.ResourceFault();
    return -1;
  }
  const ResourceTree tree(image.Tree());
  return ListTree(
      tree, ResourceTree::Shared::kRefuse,
      [&image, base](std::uint32_t rva, std::uint32_t size) -> const std::uint8_t* {
        std::uint64_t offset = 0;
        return image.FileOffset(rva, size, offset) ? base + offset : nullptr;
      },
      language, visit, context, fault);
}

// The listing of a mapped image, or -1 with `fault` set.
int ListImage(HINSTANCE module, void (*visit)(const ResourceInfo&, void*), void* context,
              int language, std::string& fault) {
  const std::uint8_t* base = BaseOf(module);
  const ByteSpan headerBytes{base, ReadableExtent(base, 0x10000)};
  ImageHeaders headers;
  if (ResourceImage::ReadHeaders(headerBytes, headers, fault) != ErrorCode::kOk) {
    return -1;
  }
  if (headers.resourceRva == 0) {
    return 0;
  }
  if (headers.resourceRva >= headers.imageSize) {
    fault = "resource directory outside the image";
    return -1;
  }
  const std::uint8_t* root = base + headers.resourceRva;
  const ResourceTree tree(
      ByteSpan{root, ReadableExtent(root, headers.imageSize - headers.resourceRva)});
  const std::uint32_t imageSize = headers.imageSize;
  return ListTree(
      tree, ResourceTree::Shared::kRefuse,
      [base, imageSize](std::uint32_t rva, std::uint32_t size) -> const std::uint8_t* {
        if (rva > imageSize || size > imageSize - rva || !ResourceBytesReadable(base + rva, size)) {
          return nullptr;
        }
        return base + rva;
      },
      language, visit, context, fault);
}

}  // namespace

HINSTANCE LoadResourceModule(const char* path, Status& status) {
  return LoadResourceModule(path, status, sys::System::Default());
}

HINSTANCE LoadResourceModule(const char* path, Status& status, sys::System& system) {
  if (path == nullptr) {
    status = ModuleStatus(ErrorCode::kNoSuchFile, "(no name)");
    return nullptr;
  }
  // What the system's loader would refuse with its own words is said first
  // as every open says it.
  const int unusable = sys::OpenError(system, path, 0);
  if (unusable != 0) {
    status = OpenFailure(path, unusable);
    return nullptr;
  }
  HINSTANCE module =
      LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  DWORD error = module != nullptr ? 0 : GetLastError();
  if (module == nullptr && error == ERROR_BAD_EXE_FORMAT) {
    module = LoadWideModuleAsFile(path);
    error = module != nullptr ? 0 : ERROR_BAD_EXE_FORMAT;
  }
  if (module != nullptr) {
    Loaded().Remember(module, path, system);
  }
  status = module != nullptr ? Status::Ok() : Explain(system, path, error);
  return module;
}

HINSTANCE LoadResourceModule(const char* path) {
  Status ignored;
  return LoadResourceModule(path, ignored);
}

bool FreeResourceModule(HINSTANCE module) {
  if (module == nullptr || !FreeLibrary(module)) {
    return false;
  }
  Loaded().Forget(module);
  return true;
}

int ListResources(HINSTANCE module, void (*visit)(const ResourceInfo&, void*), void* context,
                  Status& status, int language) {
  if (module == nullptr) {
    status = Status(ErrorCode::kNotOpen, "not a loaded resource module");
    return -1;
  }
  std::string fault;
  const int listed = FileFault(module, fault) ? -1
                     : LaidOutAsFile(module)
                         ? ListFileImage(module, visit, context, language, fault)
                         : ListImage(module, visit, context, language, fault);
  status = listed >= 0 ? Status::Ok()
                       : ModuleStatus(ErrorCode::kDamagedModule, ModuleName(module), fault);
  return listed;
}

int ListResources(HINSTANCE module, void (*visit)(const ResourceInfo&, void*), void* context) {
  Status ignored;
  return ListResources(module, visit, context, ignored);
}

}  // namespace RXM

#endif  // _WIN32
