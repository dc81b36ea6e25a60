// MemorySystem's handles: positional reads, folders walked and listed, the
// calls on a folder's names, locks, temporary files and copies.
#include <cerrno>
#include <cstring>
#include <utility>

#include "backends/MemorySystem.h"

namespace testing_support {

using RXM::sys::FileInfo;
using RXM::sys::FileKind;
using RXM::sys::Handle;
using RXM::sys::kNoHandle;
using RXM::sys::WalkStop;

namespace {

// Six letters and digits for the `count`th temporary file: the same names in
// every run.
std::string Suffix(std::uint64_t count) {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 6; ++i) {
    suffix += kAlphabet[count % 36];
    count /= 36;
  }
  return suffix;
}

}  // namespace

Handle MemorySystem::AddHandle(Opened opened) {
  const Handle handle = nextHandle++;
  handles.emplace(handle, std::move(opened));
  return handle;
}

const MemorySystem::Opened* MemorySystem::FindHandle(Handle handle) const {
  const auto found = handles.find(handle);
  return found == handles.end() ? nullptr : &found->second;
}

void MemorySystem::ReleaseLocksOf(Handle handle) {
  const Opened* opened = FindHandle(handle);
  if (opened != nullptr && opened->node && opened->node->lockedBy == handle) {
    opened->node->lockedBy = kNoHandle;
  }
}

// A folder opens for reading as on POSIX; its reads fail.
Handle MemorySystem::openForReading(const char* path) {
  std::lock_guard<std::mutex> hold(state);
  const std::string name = Canonical(path);
  const auto found = nodes.find(name);
  if (found != nodes.end()) {
    return AddHandle(Opened{found->second, std::string(), false});
  }
  if (folders.count(name) != 0) {
    return AddHandle(Opened{nullptr, name, false});
  }
  errno = ENOENT;
  return kNoHandle;
}

std::int64_t MemorySystem::readAt(Handle handle, void* buffer, std::size_t size,
                                  std::uint64_t offset) {
  std::lock_guard<std::mutex> hold(state);
  const Opened* opened = FindHandle(handle);
  if (opened == nullptr || !opened->node) {
    errno = opened == nullptr ? EBADF : EISDIR;
    return -1;
  }
  const std::vector<std::uint8_t>& bytes = opened->node->bytes;
  if (offset >= bytes.size()) {
    return 0;
  }
  const std::size_t left = bytes.size() - static_cast<std::size_t>(offset);
  const std::size_t copied = size < left ? size : left;
  std::memcpy(buffer, bytes.data() + offset, copied);
  return static_cast<std::int64_t>(copied);
}

// A stream's own handle goes with the stream, never alone.
int MemorySystem::closeHandle(Handle handle) {
  std::lock_guard<std::mutex> hold(state);
  const Opened* opened = FindHandle(handle);
  if (opened == nullptr || opened->ofStream) {
    errno = EBADF;
    return -1;
  }
  ReleaseLocksOf(handle);
  handles.erase(handle);
  return 0;
}

int MemorySystem::inspectHandle(Handle handle, FileInfo* info) {
  std::lock_guard<std::mutex> hold(state);
  *info = FileInfo();
  const Opened* opened = FindHandle(handle);
  if (opened == nullptr) {
    info->error = EBADF;
    return -1;
  }
  info->device = kDevice;
  info->names = 1;
  if (opened->node) {
    info->kind = FileKind::kFile;
    info->size = opened->node->bytes.size();
    info->node = opened->node->number;
  } else {
    info->kind = FileKind::kFolder;
  }
  return 0;
}

Handle MemorySystem::handleOf(std::FILE* stream) {
  std::lock_guard<std::mutex> hold(state);
  const auto found = streams.find(stream);
  if (found == streams.end()) {
    errno = EBADF;
    return kNoHandle;
  }
  return found->second->handle;
}

// A handle of its own on the stream's file: it keeps that file's bytes when
// another takes its name, as a duplicated descriptor does.
Handle MemorySystem::duplicateForReading(std::FILE* stream) {
  std::lock_guard<std::mutex> hold(state);
  const auto found = streams.find(stream);
  if (found == streams.end()) {
    errno = EBADF;
    return kNoHandle;
  }
  return AddHandle(Opened{found->second->node, std::string(), false});
}

Handle MemorySystem::reopenForReading(Handle /*handle*/) {
  errno = ENOTSUP;
  return kNoHandle;
}

// --- Folders -------------------------------------------------------------

// There are no links in memory: only files and missing names stop a walk.
Handle MemorySystem::openFolderBelow(const char* root, const char* path, bool create,
                                     WalkStop* stop) {
  *stop = WalkStop();
  std::lock_guard<std::mutex> hold(state);
  std::string at = Canonical(*root == '\0' ? "." : root);
  if (folders.count(at) == 0) {
    stop->error = nodes.count(at) != 0 ? ENOTDIR : ENOENT;
    return kNoHandle;
  }
  const std::string names = path;
  for (std::size_t begin = 0; begin < names.size();) {
    std::size_t end = names.find('/', begin);
    end = end == std::string::npos ? names.size() : end;
    const std::string next = Join(at, names.substr(begin, end - begin));
    stop->at = begin;
    if (nodes.count(next) != 0) {
      stop->found = FileKind::kFile;
      stop->error = ENOTDIR;
      return kNoHandle;
    }
    if (folders.count(next) == 0) {
      if (!create) {
        stop->error = ENOENT;
        return kNoHandle;
      }
      folders.insert(next);
    }
    at = next;
    begin = end + 1;
  }
  return AddHandle(Opened{nullptr, at, false});
}

Handle MemorySystem::openBelow(const char* root, const char* name) {
  const std::string path = name;
  const std::size_t slash = path.rfind('/');
  WalkStop stop;
  const Handle folder = openFolderBelow(
      root, slash == std::string::npos ? "" : path.substr(0, slash).c_str(), false, &stop);
  if (folder == kNoHandle) {
    errno = stop.error != 0 ? stop.error : ENOTDIR;
    return kNoHandle;
  }
  std::lock_guard<std::mutex> hold(state);
  const std::string file = Join(handles.at(folder).folder, Leaf(path));
  handles.erase(folder);
  const auto found = nodes.find(file);
  if (found == nodes.end()) {
    errno = folders.count(file) != 0 ? EISDIR : ENOENT;
    return kNoHandle;
  }
  return AddHandle(Opened{found->second, std::string(), false});
}

// No permission bits to set: only the names say what is there.
int MemorySystem::makePrivateFolder(const char* path) {
  std::lock_guard<std::mutex> hold(state);
  const std::string name = Canonical(path);
  if (nodes.count(name) != 0 || folders.count(name) != 0) {
    return EEXIST;
  }
  const int error = CreatableLocked(name);
  if (error == 0) {
    folders.insert(name);
  }
  return error;
}

int MemorySystem::currentFolder(std::string* /*path*/) {
  return ENOENT;
}

int MemorySystem::temporaryFolder(std::string* path) {
  std::lock_guard<std::mutex> hold(state);
  *path = "/tmp";
  if (folders.count(*path) != 0) {
    return 0;
  }
  return nodes.count(*path) != 0 ? ENOTDIR : ENOENT;
}

// The names are taken first and visited after, so that `visit` may call
// this object.
int MemorySystem::listBelow(const char* root, const char* folder,
                            void (*visit)(const char* name, FileKind kind, void* context),
                            void* context) {
  WalkStop stop;
  const Handle opened = openFolderBelow(root, folder, false, &stop);
  if (opened == kNoHandle) {
    return -1;
  }
  std::vector<std::pair<std::string, FileKind>> found;
  {
    std::lock_guard<std::mutex> hold(state);
    const std::string at = handles.at(opened).folder;
    handles.erase(opened);
    for (const auto& entry : nodes) {
      if (FolderOf(entry.first) == at) {
        found.emplace_back(Leaf(entry.first), FileKind::kFile);
      }
    }
    for (const auto& name : folders) {
      if (name != at && name != "/" && name != "." && FolderOf(name) == at) {
        found.emplace_back(Leaf(name), FileKind::kFolder);
      }
    }
  }
  for (const auto& entry : found) {
    visit(entry.first.c_str(), entry.second, context);
  }
  return static_cast<int>(found.size());
}

int MemorySystem::inspectIn(Handle folder, const char* name, FileInfo* info) {
  std::lock_guard<std::mutex> hold(state);
  *info = FileInfo();
  const Opened* opened = FindHandle(folder);
  if (opened == nullptr || opened->node) {
    info->error = opened == nullptr ? EBADF : ENOTDIR;
    return -1;
  }
  Describe(Join(opened->folder, name), info);
  return 0;
}

std::FILE* MemorySystem::createIn(Handle folder, const char* name) {
  std::lock_guard<std::mutex> hold(state);
  const Opened* opened = FindHandle(folder);
  if (opened == nullptr || opened->node) {
    errno = opened == nullptr ? EBADF : ENOTDIR;
    return nullptr;
  }
  return OpenLocked(Join(opened->folder, name), "wbx");
}

int MemorySystem::renameIn(Handle folder, const char* from, const char* to, bool /*replace*/) {
  std::lock_guard<std::mutex> hold(state);
  const Opened* opened = FindHandle(folder);
  if (opened == nullptr || opened->node) {
    return opened == nullptr ? EBADF : ENOTDIR;
  }
  return MoveLocked(Join(opened->folder, from), Join(opened->folder, to));
}

int MemorySystem::removeIn(Handle folder, const char* name) {
  std::lock_guard<std::mutex> hold(state);
  const Opened* opened = FindHandle(folder);
  if (opened == nullptr || opened->node) {
    return opened == nullptr ? EBADF : ENOTDIR;
  }
  const std::string path = Join(opened->folder, name);
  if (folders.count(path) != 0) {
    return EISDIR;
  }
  return nodes.erase(path) != 0 ? 0 : ENOENT;
}

// --- Locks, temporary files, copies ---------------------------------------

Handle MemorySystem::openLock(const char* path) {
  std::lock_guard<std::mutex> hold(state);
  const std::string name = Canonical(path);
  const auto found = nodes.find(name);
  if (found == nodes.end()) {
    errno = folders.count(name) != 0 ? EISDIR : ENOENT;
    return kNoHandle;
  }
  return AddHandle(Opened{found->second, std::string(), false});
}

int MemorySystem::tryLock(Handle handle) {
  std::lock_guard<std::mutex> hold(state);
  const Opened* opened = FindHandle(handle);
  if (opened == nullptr || !opened->node) {
    return EBADF;
  }
  Handle& holder = opened->node->lockedBy;
  if (holder != kNoHandle && holder != handle) {
    return EWOULDBLOCK;
  }
  holder = handle;
  return 0;
}

int MemorySystem::unlock(Handle handle) {
  std::lock_guard<std::mutex> hold(state);
  if (FindHandle(handle) == nullptr) {
    errno = EBADF;
    return -1;
  }
  ReleaseLocksOf(handle);
  return 0;
}

std::FILE* MemorySystem::createTemporary(const char* prefix, std::string* name) {
  std::lock_guard<std::mutex> hold(state);
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = Canonical(prefix) + Suffix(++temporaries);
    if (nodes.count(*name) != 0 || folders.count(*name) != 0) {
      continue;
    }
    std::FILE* stream = OpenLocked(*name, "wbx");
    if (stream != nullptr) {
      const Cookie* cookie = streams.at(stream);
      cookie->node->lockedBy = cookie->handle;
    }
    return stream;
  }
  errno = EEXIST;
  return nullptr;
}

int MemorySystem::removeAbandoned(const char* path) {
  std::lock_guard<std::mutex> hold(state);
  const auto found = nodes.find(Canonical(path));
  if (found == nodes.end() || found->second->lockedBy != kNoHandle) {
    errno = found == nodes.end() ? ENOENT : EWOULDBLOCK;
    return -1;
  }
  nodes.erase(found);
  return 0;
}

// The bytes are taken under the lock and written through the stream after
// it, since the stream's own calls take the lock.
std::uint64_t MemorySystem::copyRange(Handle from, std::uint64_t offset, std::uint64_t size,
                                      std::FILE* to) {
  if (std::fflush(to) != 0) {
    return 0;
  }
  std::vector<std::uint8_t> bytes;
  {
    std::lock_guard<std::mutex> hold(state);
    const Opened* opened = FindHandle(from);
    if (opened == nullptr || !opened->node) {
      return 0;
    }
    const std::vector<std::uint8_t>& source = opened->node->bytes;
    if (offset < source.size()) {
      const std::uint64_t left = source.size() - offset;
      bytes.assign(
          source.begin() + static_cast<std::ptrdiff_t>(offset),
          source.begin() + static_cast<std::ptrdiff_t>(offset + (size < left ? size : left)));
    }
  }
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), to);
  return std::fseek(to, 0, SEEK_END) == 0 ? written : 0;
}

}  // namespace testing_support
