// The one writer at a time of an archive.
//
// Every operation that replaces an archive (MultiFile::InsertFile,
// MultiFileWriter::Commit, so every writing command of kymf) holds this lock
// from the moment it reads the archive's directory until its new file is in
// the archive's place, so that two writers never both build on the same old
// archive and one's work vanish under the other's. It is an advisory lock:
// readers take none and are never held up; programs that write archives
// without this library are not held either.
//
// What is locked (see docs/locking.md):
//  - POSIX: the archive file itself, with flock, which belongs to the open
//    file and goes with the process however it ends. The archive is replaced
//    by a rename, so a writer that waited on the old file may get its lock
//    only once the old file is no longer the archive: after taking it, the
//    lock checks that the name still reaches the file it locked, and
//    otherwise locks the new file. While no file has the archive's name
//    there is nothing to lock, and a writer that creates the archive puts it
//    in place only if the name is still free.
//  - Windows: a rename cannot replace a file that is held open, so the lock
//    is on "<archive>.lock" beside it (LockFileEx), a file that stays.
// A writer killed while it holds the lock loses it with its process; what
// it left is a temporary file, which the next writer removes.
#ifndef RXMFILES_MULTIFILE_ARCHIVELOCK_H
#define RXMFILES_MULTIFILE_ARCHIVELOCK_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "backends/System.h"
#include "files/Status.h"

namespace RXM {

// How long a writer waits for the lock while another writer holds it; 0
// refuses at once. `waiting`, when set, is called once, when the wait begins,
// with the archive's name.
struct LockWait {
  std::uint32_t milliseconds = 0;
  void (*waiting)(const char* archive, void* context) = nullptr;
  void* context = nullptr;
};

class ArchiveLock {
 public:
  // Every call to the system goes through `system`.
  explicit ArchiveLock(sys::System& calls) : system(calls) {}
  ~ArchiveLock() { Release(); }
  ArchiveLock(const ArchiveLock&) = delete;
  ArchiveLock& operator=(const ArchiveLock&) = delete;

  // Finds the file that the archive `name` is (following symbolic links),
  // refuses it when it may not be written, and takes its lock, waiting as
  // `wait` says. Ok when the lock is held, or when no file has that name yet
  // (IsHeld false). Otherwise, naming `name`, with no lock held: kReadOnly,
  // kBusy (another writer held it all along), kIsAFolder or kNotARegularFile
  // (the file opened to be locked is a folder, a FIFO, a socket or a device:
  // never waited on, never replaced), kCannotOpen (the system's reason, and
  // its errno in the Status; a chain of links that does not end).
  Status Acquire(const std::string& name, const LockWait& wait);
  bool IsHeld() const { return handle != sys::kNoHandle; }
  // The file that is replaced: the archive's name with its links followed.
  const std::string& GetTarget() const { return target; }
  // Whether the locked file is the one `stream` has open, that is, the
  // archive was not replaced since `stream` opened it. False when no lock is
  // held; true on Windows, where the lock is on a file of its own.
  bool Locks(std::FILE* stream) const;
  // Gives the lock up; nothing when none is held.
  void Release();

 private:
  // Opens and tries the lock once: 0 held (or nothing to lock), EWOULDBLOCK,
  // -1 when the file locked is no longer the archive, -2 for a folder, -3
  // for another file that is not a regular one, or another errno value.
  int TryOnce();

  sys::System& system;
  std::string target;
  sys::Handle handle = sys::kNoHandle;
};

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ARCHIVELOCK_H
