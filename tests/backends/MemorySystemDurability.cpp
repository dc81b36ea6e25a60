// What survives a power cut: a file's bytes once synced, a folder's names once
// the folder is synced (as fsync of a file and of its folder on POSIX).
#include <cerrno>

#include "backends/MemorySystem.h"

namespace testing_support {

int MemorySystem::sync(std::FILE* stream) {
  std::lock_guard<std::mutex> hold(state);
  const auto found = streams.find(stream);
  if (found == streams.end()) {
    errno = EBADF;
    return -1;
  }
  found->second->node->synced = found->second->node->bytes;
  return 0;
}

int MemorySystem::syncDirectoryOf(const char* path) {
  std::lock_guard<std::mutex> hold(state);
  const std::string folder = FolderOf(Canonical(path));
  if (folders.count(folder) == 0) {
    errno = ENOENT;
    return -1;
  }
  for (auto name = durable.begin(); name != durable.end();) {
    name = FolderOf(name->first) == folder ? durable.erase(name) : std::next(name);
  }
  for (const auto& name : nodes) {
    if (FolderOf(name.first) == folder) {
      durable[name.first] = name.second;
    }
  }
  return 0;
}

int MemorySystem::stampModified(const char* path, std::int64_t nanoseconds) {
  std::lock_guard<std::mutex> hold(state);
  const auto found = nodes.find(Canonical(path));
  if (found == nodes.end()) {
    errno = ENOENT;
    return -1;
  }
  found->second->modified = nanoseconds;
  return 0;
}

std::unique_ptr<MemorySystem> MemorySystem::afterPowerCut() const {
  std::lock_guard<std::mutex> hold(state);
  auto survivor = std::make_unique<MemorySystem>();
  survivor->folders = folders;
  for (const auto& name : durable) {
    std::shared_ptr<Node> node = survivor->NewNode();
    node->bytes = name.second->synced;
    node->synced = node->bytes;
    survivor->durable[name.first] = node;
    survivor->nodes[name.first] = std::move(node);
  }
  return survivor;
}

}  // namespace testing_support
