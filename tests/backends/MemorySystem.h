// A System whose files live in this object's memory: names map to byte
// vectors, streams are C streams over them (fopencookie, so the library's
// FILE*-based code runs unchanged), handles are numbers of this object's own.
// For tests and fuzzers that must write, replace and reopen archives many
// thousand times a second with no disk and no state left between runs.
//
// It behaves as a POSIX file system where the library relies on one:
//  - a name is a file or a folder; "/" and "." (the current folder, for
//    names without a "/") are folders from the start, others are made by
//    makeFolder, makePrivateFolder or by openFolderBelow with `create`;
//  - creating a file needs its folder (ENOENT without it, ENOTDIR when it is
//    a file); opening a missing name for reading is ENOENT, a folder EISDIR;
//  - an open stream or handle keeps its file's bytes when the name is
//    removed or replaced, as an open descriptor keeps an unlinked file;
//  - "w" truncates the file in place (same node), rename and replace move
//    the file (its node) to the new name in one step;
//  - a lock belongs to the handle (or the temporary file's stream) that took
//    it and goes with it: a second one is EWOULDBLOCK;
//  - there are no links, owners or permission bits: resolveLinks gives the
//    name back, checkWritable and copyAttributes have nothing to refuse,
//    inspectIn says one name per file, no link;
//  - as a disk after a power cut, only what was made durable survives (see
//    afterPowerCut): a file's bytes as of its last sync, and a folder's
//    names as of its last syncDirectoryOf; what put makes is durable.
// Every call may come from any thread (one lock guards the whole state).
// Linux (glibc) only: it needs fopencookie.
#ifndef RXMFILES_TESTS_BACKENDS_MEMORYSYSTEM_H
#define RXMFILES_TESTS_BACKENDS_MEMORYSYSTEM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <sys/types.h>

#include "backends/System.h"

namespace testing_support {

class MemorySystem final : public RXM::sys::System {
 public:
  MemorySystem();
  // Streams and handles still open are the caller's fault: they are left
  // alone (a leak checker reports them).
  ~MemorySystem() override;

  // --- For the test that drives it.

  // Makes the folder `path` (its parent must exist); false when it cannot.
  bool makeFolder(const std::string& path);
  // The file `path` with the `size` bytes at `bytes`, replacing what the name
  // held (a new node); false when its folder is missing.
  bool put(const std::string& path, const void* bytes, std::size_t size);
  // The bytes of the file `path` into *bytes; false when no file has that name.
  bool get(const std::string& path, std::vector<std::uint8_t>* bytes) const;
  // Every file's name, in order.
  std::vector<std::string> files() const;
  // What a power cut now would leave: a new object holding the folders, and
  // under each name durable now the bytes its file had at its last sync.
  std::unique_ptr<MemorySystem> afterPowerCut() const;
  // Streams and handles open now (a stream's own handle not counted).
  std::size_t openStreams() const;
  std::size_t openHandles() const;

  // --- The seam (System.h says what each call does).

  std::FILE* open(const char* path, const char* mode) override;
  std::size_t write(const void* buffer, std::size_t size, std::size_t count,
                    std::FILE* stream) override;
  int flush(std::FILE* stream) override;
  int sync(std::FILE* stream) override;
  int close(std::FILE* stream) override;
  int replace(const char* from, const char* to) override;
  int syncDirectoryOf(const char* path) override;
  int remove(const char* path) override;
  void* allocate(std::size_t size) override;
  std::size_t read(void* buffer, std::size_t size, std::size_t count, std::FILE* stream) override;
  int seek(std::FILE* stream, std::int64_t offset, int origin) override;
  std::int64_t tell(std::FILE* stream) override;
  int inspect(const char* path, RXM::sys::FileInfo* info) override;
  RXM::sys::Handle openForReading(const char* path) override;
  std::int64_t readAt(RXM::sys::Handle handle, void* buffer, std::size_t size,
                      std::uint64_t offset) override;
  int closeHandle(RXM::sys::Handle handle) override;
  int inspectHandle(RXM::sys::Handle handle, RXM::sys::FileInfo* info) override;
  RXM::sys::Handle handleOf(std::FILE* stream) override;
  RXM::sys::Handle duplicateForReading(std::FILE* stream) override;
  // None: every reader of a handle in memory reads through that handle.
  RXM::sys::Handle reopenForReading(RXM::sys::Handle handle) override;
  RXM::sys::Handle openFolderBelow(const char* root, const char* path, bool create,
                                   RXM::sys::WalkStop* stop) override;
  RXM::sys::Handle openBelow(const char* root, const char* name) override;
  int listBelow(const char* root, const char* folder,
                void (*visit)(const char* name, RXM::sys::FileKind kind, void* context),
                void* context) override;
  int inspectIn(RXM::sys::Handle folder, const char* name, RXM::sys::FileInfo* info) override;
  std::FILE* createIn(RXM::sys::Handle folder, const char* name) override;
  int renameIn(RXM::sys::Handle folder, const char* from, const char* to, bool replace) override;
  int removeIn(RXM::sys::Handle folder, const char* name) override;
  int resolveLinks(const char* path, std::string* target) override;
  int checkWritable(const char* path) override;
  RXM::sys::Handle openLock(const char* path) override;
  int tryLock(RXM::sys::Handle handle) override;
  int unlock(RXM::sys::Handle handle) override;
  void pause(std::uint32_t milliseconds) override;
  std::FILE* createTemporary(const char* prefix, std::string* name) override;
  int removeAbandoned(const char* path) override;
  int placeNew(const char* from, const char* to) override;
  int copyAttributes(const char* model, std::FILE* stream) override;
  int stampModified(const char* path, std::int64_t nanoseconds) override;
  std::uint64_t copyRange(RXM::sys::Handle from, std::uint64_t offset, std::uint64_t size,
                          std::FILE* to) override;
  int makePrivateFolder(const char* path) override;
  // Names without a folder live in ".", which has no absolute name here:
  // currentFolder is ENOENT. The temporary folder is "/tmp" (ENOENT until
  // it is made).
  int currentFolder(std::string* path) override;
  int temporaryFolder(std::string* path) override;

 private:
  // A file's bytes and identity, shared by its name and whatever has it open.
  struct Node {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> synced;  // the bytes as of the last sync
    std::uint64_t number = 0;
    std::int64_t modified = 0;  // the clock's time at the last write
    std::int64_t created = 0;   // and when the node was made
    RXM::sys::Handle lockedBy = RXM::sys::kNoHandle;
  };
  // What a handle reaches: a file, or a folder (by its name).
  struct Opened {
    std::shared_ptr<Node> node;  // null for a folder
    std::string folder;
    bool ofStream = false;  // a stream's own handle, closed with the stream
  };
  // A stream's state: its file, its position, and its own handle.
  struct Cookie {
    MemorySystem* system;
    std::shared_ptr<Node> node;
    std::uint64_t position;
    bool append;  // every write goes at the end
    std::FILE* stream;
    RXM::sys::Handle handle;
    // The stream's buffer, made with the cookie: the C library's own would
    // be one more allocation of 8 KiB (filled, under a sanitizer) per open.
    char buffer[1024];
  };

  // The one device every file of the object is on.
  static constexpr std::uint64_t kDevice = 1;

  // Names: `path` without leading "./" (so "./a" and "a" are one name); the
  // folder that holds `path` ("." for a bare name, "/" for "/name"); its last
  // component; `name` below `folder` ("" or "." for the current one).
  static std::string Canonical(const char* path);
  static std::string FolderOf(const std::string& path);
  static std::string Leaf(const std::string& path);
  static std::string Join(const std::string& folder, const std::string& name);

  // The calls of a stream (fopencookie's).
  static ssize_t CookieRead(void* cookie, char* buffer, std::size_t size);
  static ssize_t CookieWrite(void* cookie, const char* buffer, std::size_t size);
  static int CookieSeek(void* cookie, off64_t* offset, int whence);
  static int CookieClose(void* cookie);

  // Each of these is called with `state` held.
  std::FILE* OpenLocked(const std::string& path, const std::string& mode);
  std::FILE* StreamOver(const std::shared_ptr<Node>& node, const char* mode, bool append);
  std::shared_ptr<Node> NewNode();
  // 0 when `path` may be created (its folder exists), else the errno value.
  int CreatableLocked(const std::string& path) const;
  RXM::sys::Handle AddHandle(Opened opened);
  const Opened* FindHandle(RXM::sys::Handle handle) const;
  void Describe(const std::string& path, RXM::sys::FileInfo* info) const;
  int MoveLocked(const std::string& from, const std::string& to);
  void ReleaseLocksOf(RXM::sys::Handle handle);

  mutable std::mutex state;
  std::map<std::string, std::shared_ptr<Node>> nodes;
  std::map<std::string, std::shared_ptr<Node>> durable;  // names as of each folder's last sync
  std::set<std::string> folders;
  std::map<RXM::sys::Handle, Opened> handles;
  std::map<std::FILE*, Cookie*> streams;
  std::uint64_t nextNumber = 1;
  RXM::sys::Handle nextHandle = 1000;
  std::uint64_t temporaries = 0;
  std::int64_t clock = 0;  // "nanoseconds": one more at every write
};

}  // namespace testing_support

#endif  // RXMFILES_TESTS_BACKENDS_MEMORYSYSTEM_H
