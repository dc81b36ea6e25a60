// The calls to the operating system that can fail under a program's feet
// (open, write, flush, sync, close, replace, remove, allocate, ...), as one
// object that the library's file objects hold.
//
// Everything in the library that touches the system does so through the
// System it holds: by default the process's real one (Default()), or another
// that forwards to it, as tests do to make any call fail and watch what the
// library does then. A System must outlive every object that holds it.
#ifndef RXMFILES_BACKENDS_SYSTEM_H
#define RXMFILES_BACKENDS_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "framework/Export.h"

namespace RXM {
namespace sys {

// What is found under a name.
enum class FileKind { kMissing, kFile, kFolder, kOther };

struct FileInfo {
  FileKind kind = FileKind::kMissing;
  std::uint64_t size = 0;  // bytes, for a file
  int error = 0;           // the system's error number when the name could not be examined
};

// Where a walk below a folder (System::openFolderBelow) stopped, and why.
struct WalkStop {
  std::size_t at = 0;                   // where the component that stopped it begins in the path
  FileKind found = FileKind::kMissing;  // what is there: kOther for a link (never followed)
                                        // or, on Windows, a device name; kFile for anything
                                        // else that is no folder
  int error = 0;                        // the system's error number when it, not `found`, says why
};

// A file opened for positional reads only: a descriptor on POSIX, a HANDLE
// on Windows; kNoHandle when the open failed.
using Handle = std::intptr_t;
constexpr Handle kNoHandle = -1;

// The methods keep the names of the C calls they stand for. Each may be
// called from any thread; the real one keeps no state of its own.
class RXMFILES_API System {
 public:
  // The real calls of this process; lives as long as the process.
  static System& Default();

  System() = default;
  virtual ~System();
  System(const System&) = delete;
  System& operator=(const System&) = delete;

  // fopen; on Windows _fsopen with shared access, so that a file held open can
  // be opened again elsewhere.
  virtual std::FILE* open(const char* path, const char* mode) = 0;
  virtual std::size_t write(const void* buffer, std::size_t size, std::size_t count,
                            std::FILE* stream) = 0;
  virtual int flush(std::FILE* stream) = 0;
  // Forces the stream's written data to the storage device (after a flush).
  virtual int sync(std::FILE* stream) = 0;
  virtual int close(std::FILE* stream) = 0;
  // Puts the file `from` in the place of `to` in one step: readers see either
  // the old `to` or the new one, never neither; 0 on success.
  virtual int replace(const char* from, const char* to) = 0;
  // Forces the directory entry of `path` (after a replace) to storage.
  virtual int syncDirectoryOf(const char* path) = 0;
  virtual int remove(const char* path) = 0;
  // malloc; the block is released with std::free.
  virtual void* allocate(std::size_t size) = 0;
  virtual std::size_t read(void* buffer, std::size_t size, std::size_t count,
                           std::FILE* stream) = 0;
  // Examines `path` without opening it (following a final symlink); 0 when
  // `info` was filled in (kind kMissing for a name that does not exist), -1
  // with info->error set otherwise.
  virtual int inspect(const char* path, FileInfo* info) = 0;
  // Opens `path` for reading only, shared with every other reader and writer
  // (and, on Windows, with deletion and renaming).
  virtual Handle openForReading(const char* path) = 0;
  // Reads up to `size` bytes at `offset` without any file position of its
  // own, so that any number of threads may read one handle at once; the bytes
  // read (fewer at the end of the file), or -1.
  virtual std::int64_t readAt(Handle handle, void* buffer, std::size_t size,
                              std::uint64_t offset) = 0;
  virtual int closeHandle(Handle handle) = 0;
  // Kind and size of what an open handle reads; 0 when `info` was filled in.
  virtual int inspectHandle(Handle handle, FileInfo* info) = 0;
  // The one walk below a folder, for reading and for creating: opens the
  // folder `path` ("/"-separated, a safe name; "" for `root` itself) below
  // the folder `root` ("" for the current one), reaching each component from
  // the folder before it without following a link, so that the folder is
  // inside `root` whatever links it holds: on POSIX with openat and
  // O_NOFOLLOW|O_DIRECTORY; on Windows by examining each component for a
  // reparse point and refusing device names (IsDeviceName). With `create`, a
  // missing folder on the way is made. The folder's handle (closeHandle), or
  // kNoHandle with `stop` saying which component stopped the walk and why.
  // On Windows the checks and the opens are separate calls, so a link made
  // between them by another program is not seen.
  virtual Handle openFolderBelow(const char* root, const char* path, bool create,
                                 WalkStop* stop) = 0;
  // Opens the regular file `name` below the folder `root` for positional
  // reads. `name` is "/"-separated and already a safe name (SafeName.h). Its
  // folder is reached by openFolderBelow and the file itself is never a
  // link (opened with O_NOFOLLOW; on Windows FILE_FLAG_OPEN_REPARSE_POINT,
  // and no device name). kNoHandle when there is no such regular file there.
  virtual Handle openBelow(const char* root, const char* name) = 0;
  // Calls `visit` for each name in the folder `folder` below `root` ("" for
  // `root` itself), reached by openFolderBelow; "." and ".." are not
  // visited, and a link is visited as kOther, never followed. The number of
  // names visited, or -1 when the folder cannot be opened.
  virtual int listBelow(const char* root, const char* folder,
                        void (*visit)(const char* name, FileKind kind, void* context),
                        void* context) = 0;
};

// The error number that says why an open of `path` through `system` failed
// with `error`: what is under the name decides first (ENOENT for nothing,
// EISDIR for a folder), then the examination's own error, then `error`. For
// RXM::OpenFailure.
RXMFILES_API int OpenError(System& system, const char* path, int error);

// A hint that the `size` bytes at `memory` are one large block that is about
// to be filled whole and kept: on Linux its memory is asked for in huge
// pages, so that filling it costs one page fault per 2 MiB instead of one per
// 4 KiB (each fault costs far more than the bytes it brings, above all under
// virtualisation). Elsewhere, or where huge pages are off, nothing changes.
void AdviseLargeBlock(void* memory, std::size_t size);

}  // namespace sys
}  // namespace RXM

#endif  // RXMFILES_BACKENDS_SYSTEM_H
