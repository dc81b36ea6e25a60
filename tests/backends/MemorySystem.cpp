#include "backends/MemorySystem.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <utility>

namespace testing_support {

using RXM::sys::FileInfo;
using RXM::sys::FileKind;
using RXM::sys::Handle;
using RXM::sys::kNoHandle;
using RXM::sys::WalkStop;

namespace {

int Fail(int error) {
  errno = error;
  return -1;
}

}  // namespace

std::string MemorySystem::Canonical(const char* path) {
  std::string name = path;
  while (name.size() > 2 && name.compare(0, 2, "./") == 0) {
    name.erase(0, 2);
  }
  return name;
}

std::string MemorySystem::FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string MemorySystem::Leaf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string MemorySystem::Join(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder == ".") {
    return name.empty() ? "." : name;
  }
  if (name.empty()) {
    return folder;
  }
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

MemorySystem::MemorySystem() : folders{"/", "."} {}

MemorySystem::~MemorySystem() = default;

bool MemorySystem::makeFolder(const std::string& path) {
  std::lock_guard<std::mutex> hold(state);
  const std::string name = Canonical(path.c_str());
  if (nodes.count(name) != 0 || CreatableLocked(name) != 0) {
    return false;
  }
  folders.insert(name);
  return true;
}

bool MemorySystem::put(const std::string& path, const void* bytes, std::size_t size) {
  std::lock_guard<std::mutex> hold(state);
  const std::string name = Canonical(path.c_str());
  if (folders.count(name) != 0 || CreatableLocked(name) != 0) {
    return false;
  }
  std::shared_ptr<Node> node = NewNode();
  const auto* first = static_cast<const std::uint8_t*>(bytes);
  node->bytes.assign(first, first + size);
  node->synced = node->bytes;
  node->modified = ++clock;
  durable[name] = node;
  nodes[name] = std::move(node);
  return true;
}

bool MemorySystem::get(const std::string& path, std::vector<std::uint8_t>* bytes) const {
  std::lock_guard<std::mutex> hold(state);
  const auto found = nodes.find(Canonical(path.c_str()));
  if (found == nodes.end()) {
    return false;
  }
  *bytes = found->second->bytes;
  return true;
}

std::vector<std::string> MemorySystem::files() const {
  std::lock_guard<std::mutex> hold(state);
  std::vector<std::string> names;
  for (const auto& entry : nodes) {
    names.push_back(entry.first);
  }
  return names;
}

std::size_t MemorySystem::openStreams() const {
  std::lock_guard<std::mutex> hold(state);
  return streams.size();
}

std::size_t MemorySystem::openHandles() const {
  std::lock_guard<std::mutex> hold(state);
  return handles.size() - streams.size();
}

// --- Streams -----------------------------------------------------------

ssize_t MemorySystem::CookieRead(void* cookie, char* buffer, std::size_t size) {
  auto* c = static_cast<Cookie*>(cookie);
  std::lock_guard<std::mutex> hold(c->system->state);
  const std::vector<std::uint8_t>& bytes = c->node->bytes;
  if (c->position >= bytes.size()) {
    return 0;
  }
  const std::size_t left = bytes.size() - static_cast<std::size_t>(c->position);
  const std::size_t copied = size < left ? size : left;
  std::memcpy(buffer, bytes.data() + c->position, copied);
  c->position += copied;
  return static_cast<ssize_t>(copied);
}

// A write past the end fills the gap with zeros, as a file's hole reads.
ssize_t MemorySystem::CookieWrite(void* cookie, const char* buffer, std::size_t size) {
  auto* c = static_cast<Cookie*>(cookie);
  std::lock_guard<std::mutex> hold(c->system->state);
  std::vector<std::uint8_t>& bytes = c->node->bytes;
  if (c->append) {
    c->position = bytes.size();
  }
  try {
    if (c->position + size > bytes.size()) {
      bytes.resize(static_cast<std::size_t>(c->position + size));
    }
  } catch (const std::bad_alloc&) {
    errno = ENOSPC;
    return 0;
  }
  std::memcpy(bytes.data() + c->position, buffer, size);
  c->position += size;
  c->node->modified = ++c->system->clock;
  return static_cast<ssize_t>(size);
}

int MemorySystem::CookieSeek(void* cookie, off64_t* offset, int whence) {
  auto* c = static_cast<Cookie*>(cookie);
  std::lock_guard<std::mutex> hold(c->system->state);
  std::int64_t base = 0;
  if (whence == SEEK_CUR) {
    base = static_cast<std::int64_t>(c->position);
  } else if (whence == SEEK_END) {
    base = static_cast<std::int64_t>(c->node->bytes.size());
  } else if (whence != SEEK_SET) {
    return Fail(EINVAL);
  }
  if (*offset < -base) {
    return Fail(EINVAL);
  }
  c->position = static_cast<std::uint64_t>(base + *offset);
  *offset = static_cast<off64_t>(c->position);
  return 0;
}

// A temporary file's lock goes with its stream.
int MemorySystem::CookieClose(void* cookie) {
  auto* c = static_cast<Cookie*>(cookie);
  {
    std::lock_guard<std::mutex> hold(c->system->state);
    c->system->ReleaseLocksOf(c->handle);
    c->system->handles.erase(c->handle);
    c->system->streams.erase(c->stream);
  }
  delete c;
  return 0;
}

std::FILE* MemorySystem::StreamOver(const std::shared_ptr<Node>& node, const char* mode,
                                    bool append) {
  auto* cookie =
      new Cookie{this, node, append ? node->bytes.size() : 0, append, nullptr, kNoHandle, {}};
  std::FILE* stream = fopencookie(
      cookie, mode, cookie_io_functions_t{CookieRead, CookieWrite, CookieSeek, CookieClose});
  if (stream == nullptr) {
    delete cookie;
    return nullptr;
  }
  // Buffered, as a stream of the C library over a real file is: written
  // bytes reach the file at a flush, so a writer that forgets one is caught,
  // and small reads cost no call each (unbuffered, every fread took the
  // library's stream lock and its underflow path: a quarter of the archive
  // fuzzer's time). The buffer is the cookie's, freed after the stream's
  // close (CookieClose).
  std::setvbuf(stream, cookie->buffer, _IOFBF, sizeof cookie->buffer);
  cookie->stream = stream;
  cookie->handle = AddHandle(Opened{node, std::string(), true});
  streams[stream] = cookie;
  return stream;
}

std::FILE* MemorySystem::open(const char* path, const char* mode) {
  std::lock_guard<std::mutex> hold(state);
  return OpenLocked(Canonical(path), mode);
}

// Modes as fopen reads them: "r", "w" or "a", with "+" for both ways and
// "x" for an exclusive creation; "b" and "t" change nothing.
std::FILE* MemorySystem::OpenLocked(const std::string& path, const std::string& mode) {
  const char how = mode.empty() ? '\0' : mode[0];
  const bool both = mode.find('+') != std::string::npos;
  if (how != 'r' && how != 'w' && how != 'a') {
    Fail(EINVAL);
    return nullptr;
  }
  if (folders.count(path) != 0) {
    Fail(EISDIR);
    return nullptr;
  }
  auto found = nodes.find(path);
  if (how == 'r') {
    if (found == nodes.end()) {
      Fail(ENOENT);
      return nullptr;
    }
    return StreamOver(found->second, both ? "r+" : "r", false);
  }
  if (found != nodes.end() && mode.find('x') != std::string::npos) {
    Fail(EEXIST);
    return nullptr;
  }
  if (found == nodes.end()) {
    const int error = CreatableLocked(path);
    if (error != 0) {
      Fail(error);
      return nullptr;
    }
    found = nodes.emplace(path, NewNode()).first;
  } else if (how == 'w') {
    found->second->bytes.clear();
  }
  const char* streamMode = how == 'w' ? (both ? "w+" : "w") : (both ? "a+" : "a");
  return StreamOver(found->second, streamMode, how == 'a');
}

std::size_t MemorySystem::write(const void* buffer, std::size_t size, std::size_t count,
                                std::FILE* stream) {
  return std::fwrite(buffer, size, count, stream);
}

int MemorySystem::flush(std::FILE* stream) {
  return std::fflush(stream);
}

// Memory is as durable as it gets: a sync of one of its streams succeeds.
int MemorySystem::close(std::FILE* stream) {
  return std::fclose(stream);
}

std::size_t MemorySystem::read(void* buffer, std::size_t size, std::size_t count,
                               std::FILE* stream) {
  return std::fread(buffer, size, count, stream);
}

// The streams are the C library's (over cookies), so its seek and tell serve.
int MemorySystem::seek(std::FILE* stream, std::int64_t offset, int origin) {
  return fseeko(stream, static_cast<off_t>(offset), origin);
}

std::int64_t MemorySystem::tell(std::FILE* stream) {
  return static_cast<std::int64_t>(ftello(stream));
}

void* MemorySystem::allocate(std::size_t size) {
  return std::malloc(size);
}

// --- Names -------------------------------------------------------------

std::shared_ptr<MemorySystem::Node> MemorySystem::NewNode() {
  auto node = std::make_shared<Node>();
  node->number = nextNumber++;
  node->created = node->modified = ++clock;
  return node;
}

int MemorySystem::CreatableLocked(const std::string& path) const {
  const std::string folder = FolderOf(path);
  if (folders.count(folder) != 0) {
    return 0;
  }
  return nodes.count(folder) != 0 ? ENOTDIR : ENOENT;
}

void MemorySystem::Describe(const std::string& path, FileInfo* info) const {
  *info = FileInfo();
  const auto found = nodes.find(path);
  if (found != nodes.end()) {
    info->kind = FileKind::kFile;
    info->size = found->second->bytes.size();
    info->device = kDevice;
    info->node = found->second->number;
    info->names = 1;
    info->modified = found->second->modified;
    info->created = found->second->created;
  } else if (folders.count(path) != 0) {
    info->kind = FileKind::kFolder;
    info->device = kDevice;
    info->names = 1;
  }
}

// Files move; folders stay where they are made.
int MemorySystem::MoveLocked(const std::string& from, const std::string& to) {
  const auto found = nodes.find(from);
  if (found == nodes.end()) {
    return folders.count(from) != 0 ? ENOTSUP : ENOENT;
  }
  if (folders.count(to) != 0) {
    return EISDIR;
  }
  const int error = CreatableLocked(to);
  if (error != 0 || from == to) {
    return error;
  }
  std::shared_ptr<Node> node = found->second;
  nodes.erase(found);
  nodes[to] = std::move(node);
  return 0;
}

int MemorySystem::replace(const char* from, const char* to) {
  std::lock_guard<std::mutex> hold(state);
  const int error = MoveLocked(Canonical(from), Canonical(to));
  return error == 0 ? 0 : Fail(error);
}

int MemorySystem::placeNew(const char* from, const char* to) {
  std::lock_guard<std::mutex> hold(state);
  const std::string target = Canonical(to);
  if (nodes.count(target) != 0 || folders.count(target) != 0) {
    return EEXIST;
  }
  return MoveLocked(Canonical(from), target);
}

// A folder goes when it is empty, as rmdir does.
int MemorySystem::remove(const char* path) {
  std::lock_guard<std::mutex> hold(state);
  const std::string name = Canonical(path);
  if (nodes.erase(name) != 0) {
    return 0;
  }
  if (folders.count(name) == 0 || name == "/" || name == ".") {
    return Fail(folders.count(name) != 0 ? EBUSY : ENOENT);
  }
  for (const auto& entry : nodes) {
    if (FolderOf(entry.first) == name) {
      return Fail(ENOTEMPTY);
    }
  }
  for (const auto& folder : folders) {
    if (folder != name && FolderOf(folder) == name) {
      return Fail(ENOTEMPTY);
    }
  }
  folders.erase(name);
  return 0;
}

int MemorySystem::inspect(const char* path, FileInfo* info) {
  std::lock_guard<std::mutex> hold(state);
  Describe(Canonical(path), info);
  return 0;
}

int MemorySystem::resolveLinks(const char* path, std::string* target) {
  *target = path;
  return 0;
}

int MemorySystem::checkWritable(const char* path) {
  std::lock_guard<std::mutex> hold(state);
  const std::string name = Canonical(path);
  return folders.count(name) != 0 ? EISDIR : 0;
}

// The caller asked for a wait: it is a real one.
void MemorySystem::pause(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int MemorySystem::copyAttributes(const char* /*model*/, std::FILE* stream) {
  std::lock_guard<std::mutex> hold(state);
  return streams.count(stream) != 0 ? 0 : Fail(EBADF);
}

}  // namespace testing_support
