#include "backends/ResourceModuleFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "backends/System.h"

namespace RXM {

Status ModuleStatus(ErrorCode code, const std::string& file, const std::string& reason) {
  std::string message = file + ": " + Describe(code);
  if (!reason.empty()) {
    message += ": " + reason;
  }
  return Status(code, message);
}

Status ReadModuleFile(sys::System& system, const char* path, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  // Looked at first: on POSIX fopen opens a folder, whose reads then fail.
  const int unusable = sys::OpenError(system, path, 0);
  if (unusable != 0) {
    return OpenFailure(path, unusable);
  }
  errno = 0;
  std::FILE* file = system.open(path, "rb");
  if (file == nullptr) {
    return OpenFailure(path, errno);
  }
  std::uint8_t chunk[65536];
  std::size_t read = 0;
  // Reading stops past the largest module; the image refuses what was read.
  while (bytes.size() <= kLargestModule && (read = system.read(chunk, 1, sizeof chunk, file)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + read);
  }
  // Stopped at the limit, the image refuses it; stopped short of the end,
  // a read failed.
  const bool failed = bytes.size() <= kLargestModule && sys::StoppedShort(file);
  (void)system.close(file);
  if (failed) {
    bytes.clear();
    return ModuleStatus(ErrorCode::kCannotOpen, path, "read failed");
  }
  return Status::Ok();
}

namespace {

std::string Named(const ResourceTree& tree, const ResourceLeaf& leaf) {
  ResourceInfo info{};
  tree.Describe(leaf.typeField, info.type);
  tree.Describe(leaf.nameField, info.name);
  return std::string("resource ") + info.name + " of type " + info.type + " (language " +
         std::to_string(leaf.language) + ")";
}

}  // namespace

int ListTree(const ResourceTree& tree, ResourceTree::Shared shared, const BytesAt& bytesAt,
             int language, void (*visit)(const ResourceInfo& info, void* context), void* context,
             std::string& fault) {
  const bool checked = tree.Walk(
      shared,
      [&](const ResourceLeaf& leaf, std::string& why) {
        if (bytesAt(leaf.rva, leaf.size) == nullptr) {
          why = Named(tree, leaf) + ": its bytes lie outside the image";
          return false;
        }
        return true;
      },
      fault);
  if (!checked) {
    return -1;
  }
  int visited = 0;
  tree.Walk(
      shared,
      [&](const ResourceLeaf& leaf, std::string&) {
        if (language != kAnyLanguage && leaf.language != language) {
          return true;
        }
        ResourceInfo info{};
        tree.Describe(leaf.typeField, info.type);
        tree.Describe(leaf.nameField, info.name);
        info.language = leaf.language;
        info.size = leaf.size;
        info.bytes = bytesAt(leaf.rva, leaf.size);
        visit(info, context);
        ++visited;
        return true;
      },
      fault);
  return visited;
}

}  // namespace RXM
