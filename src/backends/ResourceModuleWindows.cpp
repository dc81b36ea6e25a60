// The resource functions on Windows: the system's own, over modules that
// LoadLibraryExA maps as image resources. The system walks a module's records
// without checking where they lead, so listing walks the tree itself
// (ResourceTree) over the mapped image, with every read kept inside memory
// that is there, and the library's reader explains a module the system
// refuses.
#if defined(_WIN32)

#include <cstdint>
#include <string>
#include <vector>

#include "backends/ResourceBytes.h"
#include "backends/ResourceImage.h"
#include "backends/ResourceModule.h"
#include "backends/ResourceModuleFile.h"
#include "backends/ResourceTree.h"
#include "backends/SystemCalls.h"

namespace RXM {

namespace {

// A module loaded as a data file or image resource is marked in its handle's
// low bits.
const std::uint8_t* BaseOf(HINSTANCE module) {
  return reinterpret_cast<const std::uint8_t*>(reinterpret_cast<std::uintptr_t>(module) &
                                               ~static_cast<std::uintptr_t>(3));
}

std::string ModuleName(HINSTANCE module) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, path, sizeof path);
  return length > 0 && length < sizeof path ? std::string(path, length) : "resource module";
}

// Why the system refused the module at `path`.
Status Explain(const char* path, DWORD error) {
  std::vector<std::uint8_t> bytes;
  Status status = ReadModuleFile(path, bytes);
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
  if (path == nullptr) {
    status = ModuleStatus(ErrorCode::kNoSuchFile, "(no name)");
    return nullptr;
  }
  sys::FileInfo info;
  if (sys::Calls().inspect(path, &info) == 0 && info.kind == sys::FileKind::kMissing) {
    status = ModuleStatus(ErrorCode::kNoSuchFile, path);
    return nullptr;
  }
  HINSTANCE module =
      LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  status = module != nullptr ? Status::Ok() : Explain(path, GetLastError());
  return module;
}

HINSTANCE LoadResourceModule(const char* path) {
  Status ignored;
  return LoadResourceModule(path, ignored);
}

bool FreeResourceModule(HINSTANCE module) {
  return module != nullptr && FreeLibrary(module);
}

int ListResources(HINSTANCE module, void (*visit)(const ResourceInfo&, void*), void* context,
                  Status& status, int language) {
  if (module == nullptr) {
    status = Status(ErrorCode::kNotOpen, "not a loaded resource module");
    return -1;
  }
  std::string fault;
  const int listed = ListImage(module, visit, context, language, fault);
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
