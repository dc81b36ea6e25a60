// The calls to the operating system that can fail under a program's feet
// (open, write, flush, sync, close, replace, remove, allocate).
//
// The library makes them only through this table, so that tests can make any
// of them fail and watch what the library does then. Programs never touch it;
// it is not exported.
#ifndef RXMFILES_BACKENDS_SYSTEMCALLS_H
#define RXMFILES_BACKENDS_SYSTEMCALLS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace RXM {
namespace sys {

// What is found under a name.
enum class FileKind { kMissing, kFile, kFolder, kOther };

struct FileInfo {
  FileKind kind = FileKind::kMissing;
  std::uint64_t size = 0;  // bytes, for a file
  int error = 0;           // the system's error number when the name could not be examined
  // Which file it is, on POSIX: two names or handles with the same device and
  // node reach the same file. 0 where the system does not say (Windows).
  std::uint64_t device = 0;
  std::uint64_t node = 0;
};

// A file opened for positional reads only: a descriptor on POSIX, a HANDLE
// on Windows; kNoHandle when the open failed.
using Handle = std::intptr_t;
constexpr Handle kNoHandle = -1;

struct SystemCalls {
  // fopen; on Windows _fsopen with shared access, so that a file held open can
  // be opened again elsewhere.
  std::FILE* (*open)(const char* path, const char* mode);
  std::size_t (*write)(const void* buffer, std::size_t size, std::size_t count, std::FILE* stream);
  int (*flush)(std::FILE* stream);
  // Forces the stream's written data to the storage device (after a flush).
  int (*sync)(std::FILE* stream);
  int (*close)(std::FILE* stream);
  // Puts the file `from` in the place of `to` in one step: readers see either
  // the old `to` or the new one, never neither; 0 on success.
  int (*replace)(const char* from, const char* to);
  // Forces the directory entry of `path` (after a replace) to storage.
  int (*syncDirectoryOf)(const char* path);
  int (*remove)(const char* path);
  void* (*allocate)(std::size_t size);
  std::size_t (*read)(void* buffer, std::size_t size, std::size_t count, std::FILE* stream);
  // Examines `path` without opening it (following a final symlink); 0 when
  // `info` was filled in (kind kMissing for a name that does not exist), -1
  // with info->error set otherwise.
  int (*inspect)(const char* path, FileInfo* info);
  // Opens `path` for reading only, shared with every other reader and writer
  // (and, on Windows, with deletion and renaming).
  Handle (*openForReading)(const char* path);
  // Reads up to `size` bytes at `offset` without any file position of its
  // own, so that any number of threads may read one handle at once; the bytes
  // read (fewer at the end of the file), or -1.
  std::int64_t (*readAt)(Handle handle, void* buffer, std::size_t size, std::uint64_t offset);
  int (*closeHandle)(Handle handle);
  // Kind and size of what an open handle reads; 0 when `info` was filled in.
  int (*inspectHandle)(Handle handle, FileInfo* info);
  // Opens the regular file `name` below the folder `root` for positional
  // reads. `name` is "/"-separated and already a safe name (SafeName.h). No
  // symbolic link (or, on Windows, reparse point) at or below `root` is
  // followed, so the file is inside `root` whatever links it holds: on POSIX
  // each component is opened with openat and O_NOFOLLOW relative to the
  // folder before it; on Windows each component is examined for a reparse
  // point and the file is opened with FILE_FLAG_OPEN_REPARSE_POINT, and
  // device names (CON, NUL, COM1, ...) and ":" are refused. kNoHandle when
  // there is no such regular file there.
  Handle (*openBelow)(const char* root, const char* name);
  // Calls `visit` for each name in the folder `folder` below `root` ("" for
  // `root` itself), reached as openBelow reaches a file; "." and ".." are not
  // visited, and a link is visited as kOther, never followed. The number of
  // names visited, or -1 when the folder cannot be opened.
  int (*listBelow)(const char* root, const char* folder,
                   void (*visit)(const char* name, FileKind kind, void* context), void* context);

  // --- Replacing an archive (see multifile/ArchiveLock.h and ReplacementFile.h)

  // The name of the file that `path` reaches once every symbolic link at its
  // end is followed, relative links read from the link's own folder, into
  // *target (`path` itself when it is no link, or names nothing). 0, or -1
  // for a chain of more than 40 links or an unreadable link. Windows: the
  // final path of an existing file (GetFinalPathNameByHandle), else `path`.
  int (*resolveLinks)(const char* path, std::string* target);
  // 0 when the existing file `path` may be replaced by its new version (or
  // nothing is there), else why not: EACCES for a file that no one may
  // write (no write permission bit, or the Windows read-only attribute,
  // whoever the process is) or this process may not, EROFS, ...
  int (*checkWritable)(const char* path);
  // The handle to lock for replacing the archive `path`: POSIX, the archive
  // itself (kNoHandle with errno ENOENT when there is none); Windows, the
  // file "<path>.lock" beside it, created when missing and never deleted.
  Handle (*openLock)(const char* path);
  // Tries once to take the exclusive advisory lock on `handle` (flock on
  // POSIX, LockFileEx on Windows): 0 when taken, EWOULDBLOCK while another
  // open of the file holds it, another errno value otherwise.
  int (*tryLock)(Handle handle);
  // Gives the lock up (the handle stays open).
  int (*unlock)(Handle handle);
  // Sleeps for `milliseconds`.
  void (*pause)(std::uint32_t milliseconds);
  // Creates a new file whose name is `prefix` followed by six letters and
  // digits, exclusively (O_CREAT|O_EXCL|O_NOFOLLOW; Windows CREATE_NEW), so
  // that it is never a file or link someone else made; its name in *name. On
  // POSIX it holds a lock of its own until it is closed, by which
  // removeAbandoned knows it is in use. The stream for "wb", or null.
  std::FILE* (*createTemporary)(const char* prefix, std::string* name);
  // Removes the file `path` that a writer made with createTemporary, only if
  // no writer has it open any more (it was killed): 0 when removed.
  int (*removeAbandoned)(const char* path);
  // Gives the finished file `from` the name `to` only when nothing has that
  // name (link and unlink on POSIX, MoveFileEx without replacing on
  // Windows): 0, or the errno value (EEXIST when `to` exists).
  int (*placeNew)(const char* from, const char* to);
  // Gives the file written through `stream` the permission bits of the file
  // `model`, and its owner and group where the process may set them
  // (best effort). 0, or -1 when the permission bits could not be set.
  // Windows: nothing to do (the new file has its folder's access rules).
  int (*copyAttributes)(const char* model, std::FILE* stream);
  // Appends `size` bytes from `from` at `offset` to `to` (flushed first;
  // positioned at its end after): inside the kernel with copy_file_range
  // where it can, which also clones blocks where the file system shares
  // them, and through a bounded buffer with pread/write elsewhere and on
  // Windows. The bytes copied; fewer when `from` ends early or a write fails.
  std::uint64_t (*copyRange)(Handle from, std::uint64_t offset, std::uint64_t size, std::FILE* to);
};

// The handle that the positional calls and the lock calls take for `stream`.
Handle HandleOf(std::FILE* stream);

// The table in use. Tests replace entries and restore the saved table.
SystemCalls& Calls();

// The table of the real calls.
const SystemCalls& RealCalls();

// A hint that the `size` bytes at `memory` are one large block that is about
// to be filled whole and kept: on Linux its memory is asked for in huge
// pages, so that filling it costs one page fault per 2 MiB instead of one per
// 4 KiB (each fault costs far more than the bytes it brings, above all under
// virtualisation). Elsewhere, or where huge pages are off, nothing changes.
void AdviseLargeBlock(void* memory, std::size_t size);

}  // namespace sys
}  // namespace RXM

#endif  // RXMFILES_BACKENDS_SYSTEMCALLS_H
