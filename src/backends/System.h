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
#include <string>

#include "framework/Export.h"

namespace RXM {
namespace sys {

// What is found under a name.
enum class FileKind { kMissing, kFile, kFolder, kOther };

// What a kOther is, where the system says (POSIX); kUnknown elsewhere, and
// for a link, which FileInfo::link says.
enum class OtherKind { kUnknown, kFifo, kSocket, kDevice };

struct FileInfo {
  FileKind kind = FileKind::kMissing;
  std::uint64_t size = 0;  // bytes, for a file
  int error = 0;           // the system's error number when the name could not be examined
  // Which file it is: two names or handles with the same device and node
  // reach the same file (POSIX: st_dev and st_ino; Windows: the volume's
  // serial number and the file index, which inspect learns by opening the
  // name with no access asked). Both 0 where the system does not say.
  std::uint64_t device = 0;
  std::uint64_t node = 0;
  // Said by inspectIn only, which never follows a link: whether the name is a
  // symbolic link (on Windows, a reparse point; kind kOther), and how many
  // names the file has (more than 1 for a hard link; 0 where the system does
  // not say, on Windows).
  bool link = false;
  std::uint64_t names = 0;
  // For kind kOther: a FIFO, a socket or a device, where the system says.
  OtherKind other = OtherKind::kUnknown;
  // When the file's bytes last changed, in nanoseconds since 1970 (said by
  // inspect and inspectHandle); 0 where the system does not say.
  std::int64_t modified = 0;
  // When the file was made, likewise (said by inspect; Linux statx, Windows
  // creation time); 0 where the system or the file system does not say.
  std::int64_t created = 0;
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
  // be opened again elsewhere. A mode that only reads ("r", "rb") never waits
  // at the open on POSIX: a FIFO that no one writes yet is opened at once
  // (its reads find its end while no one writes), so a caller may look at
  // what it opened (inspectHandle of HandleOf) before it reads.
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
  // Removes the file, link or empty folder `path` (C remove; on Windows an
  // empty folder by RemoveDirectory, as POSIX's remove does): 0, or -1 with
  // errno set, nothing removed (a folder that still holds names stays).
  virtual int remove(const char* path) = 0;
  // malloc; the block is released with std::free.
  virtual void* allocate(std::size_t size) = 0;
  virtual std::size_t read(void* buffer, std::size_t size, std::size_t count,
                           std::FILE* stream) = 0;
  // fseek and ftell with 64-bit positions on every build (a 32-bit long
  // cannot name a position past 2 GiB on Windows): 0, or the position, on
  // success; -1 with errno set on failure.
  virtual int seek(std::FILE* stream, std::int64_t offset, int origin) = 0;
  virtual std::int64_t tell(std::FILE* stream) = 0;
  // Examines `path` without opening it (following a final symlink); 0 when
  // `info` was filled in (kind kMissing for a name that does not exist), -1
  // with info->error set otherwise.
  virtual int inspect(const char* path, FileInfo* info) = 0;
  // Opens the regular file `path` for reading only, shared with every other
  // reader and writer (and, on Windows, with deletion and renaming). Never
  // waits at the open: kNoHandle with errno EISDIR for a folder and ENXIO
  // for a FIFO, a socket or a device (each examined once opened).
  virtual Handle openForReading(const char* path) = 0;
  // A handle for positional reads of the very file that `stream` has open,
  // with no position shared with the stream (so the stream's reads and the
  // handle's never disturb each other), closed with closeHandle. Never an
  // open by name: it reads the file that was opened even after another file
  // has taken the name or it was removed. Linux: the stream's descriptor
  // opened again through /proc/self/fd, an open file of its own on the same
  // file (checked to be it), so the stream's seeks and reads take no lock
  // shared with the handle; where that cannot be, and on other POSIX
  // systems, fcntl(F_DUPFD_CLOEXEC) (pread ignores the shared offset).
  // Windows: ReOpenFile, a new file object on the same file. kNoHandle,
  // with errno set, when the system cannot.
  virtual Handle duplicateForReading(std::FILE* stream) = 0;
  // Another handle for positional reads of the very file `handle` reads, an
  // open file of its own (Linux: /proc/self/fd, checked to be the same file;
  // Windows: ReOpenFile), closed with closeHandle. Never a duplicate sharing
  // `handle`'s open file, never an open by name. kNoHandle, with errno set,
  // where the system cannot: the caller then reads through `handle` itself.
  virtual Handle reopenForReading(Handle handle) = 0;
  // Reads up to `size` bytes at `offset` without any file position of its
  // own, so that any number of threads may read one handle at once; the bytes
  // read (fewer at the end of the file), or -1.
  virtual std::int64_t readAt(Handle handle, void* buffer, std::size_t size,
                              std::uint64_t offset) = 0;
  virtual int closeHandle(Handle handle) = 0;
  // Kind and size of what an open handle reads; 0 when `info` was filled in.
  virtual int inspectHandle(Handle handle, FileInfo* info) = 0;
  // The handle of the file that `stream` (one of this System's) writes or
  // reads, for inspectHandle and the lock calls; it stays the stream's, to be
  // closed with the stream, never by closeHandle. kNoHandle when the stream
  // has none.
  virtual Handle handleOf(std::FILE* stream) = 0;
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

  // --- A new file made in a folder that openFolderBelow opened (`folder`,
  // its handle); `name`, `from` and `to` are names in it, no paths. Windows
  // reaches the folder by its final path (GetFinalPathNameByHandle).

  // Examines `name` in `folder` without following it (fstatat with
  // AT_SYMLINK_NOFOLLOW): 0 when `info` was filled in, kind kMissing when
  // nothing has the name and kOther with `link` for a link, whatever it
  // reaches; -1 with info->error set otherwise.
  virtual int inspectIn(Handle folder, const char* name, FileInfo* info) = 0;
  // Creates the file `name` in `folder` exclusively and never through a link
  // (O_CREAT|O_EXCL|O_NOFOLLOW; Windows _O_EXCL), so it is never a file
  // someone else made. Its stream for "wb", written with write and closed
  // with close; or null with errno set, EEXIST when the name is taken.
  virtual std::FILE* createIn(Handle folder, const char* name) = 0;
  // Gives the file `from` in `folder` the name `to` in one step (renameat;
  // MoveFileEx), so readers see the old `to` or the new one, never neither.
  // With `replace`, what `to` names (a file or a link, never a folder) is
  // replaced as a directory entry, never opened. Without, the caller found
  // nothing under `to`: Windows then fails with EEXIST if something came
  // since, POSIX replaces it all the same. 0, or the errno value.
  virtual int renameIn(Handle folder, const char* from, const char* to, bool replace) = 0;
  // Removes the file (or link) `name` from `folder` (unlinkat; DeleteFile):
  // 0, or the errno value.
  virtual int removeIn(Handle folder, const char* name) = 0;

  // --- Replacing an archive (see multifile/ArchiveLock.h and ReplacementFile.h)

  // The name of the file that `path` reaches once every symbolic link at its
  // end is followed, relative links read from the link's own folder, into
  // *target (`path` itself when it is no link, or names nothing). 0, or -1
  // for a chain of more than 40 links or an unreadable link. Windows: the
  // final path of an existing file (GetFinalPathNameByHandle), else `path`.
  virtual int resolveLinks(const char* path, std::string* target) = 0;
  // 0 when the existing file `path` may be replaced by its new version (or
  // nothing is there), else why not: EACCES for a file that no one may
  // write (no write permission bit, or the Windows read-only attribute,
  // whoever the process is) or this process may not, EROFS, ...
  virtual int checkWritable(const char* path) = 0;
  // The handle to lock for replacing the archive `path`: POSIX, the archive
  // itself (kNoHandle with errno ENOENT when there is none); Windows, the
  // file "<path>.lock" beside it, created when missing and never deleted.
  virtual Handle openLock(const char* path) = 0;
  // Tries once to take the exclusive advisory lock on `handle` (flock on
  // POSIX, LockFileEx on Windows): 0 when taken, EWOULDBLOCK while another
  // open of the file holds it, another errno value otherwise.
  virtual int tryLock(Handle handle) = 0;
  // Gives the lock up (the handle stays open).
  virtual int unlock(Handle handle) = 0;
  // Sleeps for `milliseconds`.
  virtual void pause(std::uint32_t milliseconds) = 0;
  // Creates a new file whose name is `prefix` followed by six letters and
  // digits, exclusively (O_CREAT|O_EXCL|O_NOFOLLOW; Windows CREATE_NEW), so
  // that it is never a file or link someone else made; its name in *name. On
  // POSIX it holds a lock of its own until it is closed, by which
  // removeAbandoned knows it is in use. The stream for "wb", or null.
  virtual std::FILE* createTemporary(const char* prefix, std::string* name) = 0;
  // Removes the file `path` that a writer made with createTemporary, only if
  // no writer has it open any more (it was killed): 0 when removed.
  virtual int removeAbandoned(const char* path) = 0;
  // Gives the finished file `from` the name `to` only when nothing has that
  // name (link and unlink on POSIX, MoveFileEx without replacing on
  // Windows): 0, or the errno value (EEXIST when `to` exists).
  virtual int placeNew(const char* from, const char* to) = 0;
  // Gives the file written through `stream` the permission bits of the file
  // `model`, and its owner and group where the process may set them
  // (best effort). 0, or -1 when the permission bits could not be set.
  // Windows: nothing to do (the new file has its folder's access rules).
  virtual int copyAttributes(const char* model, std::FILE* stream) = 0;
  // Sets the modification time of the closed file `path` (a temporary file
  // of the caller's own) to `nanoseconds` since 1970 (utimensat; SetFileTime
  // on Windows, in its 100 ns steps): 0, or -1.
  virtual int stampModified(const char* path, std::int64_t nanoseconds) = 0;
  // Appends `size` bytes from `from` at `offset` to `to` (flushed first;
  // positioned at its end after): inside the kernel with copy_file_range
  // where it can, which also clones blocks where the file system shares
  // them, and through a bounded buffer of readAt's elsewhere and on Windows.
  // The bytes copied; fewer when `from` ends early or a write fails.
  virtual std::uint64_t copyRange(Handle from, std::uint64_t offset, std::uint64_t size,
                                  std::FILE* to) = 0;

  // --- A folder of the process's own (last, so that the calls above keep
  // their places in the table of virtual functions)

  // Makes the new folder `path` (its parent must exist) that only the
  // process's user may enter, list or add names to: on POSIX mkdir with mode
  // 0700, whatever the umask (which only takes bits away), so that no one
  // else can read what the process puts there or plant a file or link of
  // their own under a name it is about to use; on Windows CreateDirectory,
  // the folder taking its parent's access rules (a user's temporary folder
  // is the user's already). A name already taken, by a link too, is never
  // followed: EEXIST. 0, or the errno value (EEXIST, ENOENT for a missing
  // parent, EACCES, ...); nothing is made then. Removed, once empty, by
  // remove.
  virtual int makePrivateFolder(const char* path) = 0;

  // --- Where relative names and temporary files go

  // The process's current folder, absolute, into `*path`: 0, or the errno
  // value (ENOENT when it was removed, EACCES, ...) with `*path` left as it
  // was.
  virtual int currentFolder(std::string* path) = 0;
  // The folder for temporary files into `*path`: on POSIX the first of
  // TMPDIR, TMP, TEMP and TEMPDIR that is set and not empty, else "/tmp"; on
  // Windows GetTempPath's, without its last separator. 0 when it is a
  // folder, or the errno value (ENOENT, ENOTDIR, ...); `*path` names the
  // folder chosen either way, for the caller's message.
  virtual int temporaryFolder(std::string* path) = 0;
};

// Whether `c` separates folders in this system's paths: '/', and on
// Windows '\\' too.
inline bool IsPathSeparator(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

// The handle of the process's C runtime behind `stream` (OperatingSystem's
// handleOf).
RXMFILES_API Handle HandleOf(std::FILE* stream);

// Whether the reads of `stream` through a System, the last of which gave
// fewer bytes than asked, stopped before its end: a short read failed unless
// it reached the end, whether or not the stream's error indicator says so
// (a System's read may fail without setting it).
RXMFILES_API bool StoppedShort(std::FILE* stream);

// The error number that says why an open of `path` through `system` failed
// with `error`: what is under the name decides first (ENOENT for nothing,
// EISDIR for a folder), then the examination's own error, then `error`. For
// RXM::OpenFailure.
RXMFILES_API int OpenError(System& system, const char* path, int error);

// `path` made absolute against `system`'s current folder (and kept as it is
// when already absolute), without "." and ".." taken away: 0, or the errno
// value of currentFolder, `*absolute` left as it was.
RXMFILES_API int MakeAbsolute(System& system, const std::string& path, std::string* absolute);

// A hint that the `size` bytes at `memory` are one large block that is about
// to be filled whole and kept: on Linux its memory is asked for in huge
// pages, so that filling it costs one page fault per 2 MiB instead of one per
// 4 KiB (each fault costs far more than the bytes it brings, above all under
// virtualisation). Elsewhere, or where huge pages are off, nothing changes.
void AdviseLargeBlock(void* memory, std::size_t size);

// Lanes of the processors: one per processor the system reports, at least
// one and at most 64. Threads that share an object write their own lane's
// part of it, so that threads on different processors do not write one
// cache line (SpreadHold, SharedHandle).
unsigned ProcessorLanes();
// The lane of the processor the calling thread runs on now (0 where the
// system cannot say). Only a hint: the thread may be moved at any time, so
// it may choose where shared counts or handles are kept, never what is
// correct.
unsigned ProcessorLane();

}  // namespace sys
}  // namespace RXM

#endif  // RXMFILES_BACKENDS_SYSTEM_H
