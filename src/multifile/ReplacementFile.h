// Replacing a file by a complete new version, with no moment at which the
// file under its name is missing or incomplete.
#ifndef RXMFILES_MULTIFILE_REPLACEMENTFILE_H
#define RXMFILES_MULTIFILE_REPLACEMENTFILE_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "backends/DiskFile.h"
#include "backends/System.h"
#include "framework/Pointer.h"
#include "framework/String.h"

namespace RXM {

// The new version is written into a temporary file beside the target,
// flushed and forced to storage, and only then moved over the target in one
// step of the file system (rename over it on POSIX, MoveFileEx with
// write-through on Windows), after which the directory is forced to storage
// too. A crash or a power loss at any moment leaves under the target's name
// either the old file or the complete new one: the old file is never deleted
// before the new one has taken its place, which is the same step.
//
// The temporary file is always one that this object made: never a file or a
// link that was there before, so nothing is written through a link that
// someone planted under its name. From its creation on it has the target's
// permission bits (and owner and group where the process may set them), so
// the new version is never readable by more people than the old one was.
//
// Every write, the flush, the sync and the close are checked; the first
// failure is remembered, with the system's errno value (GetError), so a
// caller may write on and look once at the end.
//
// The target is the file itself, its links already followed (ArchiveLock
// finds it), and the caller holds the archive's lock.
class ReplacementFile {
 public:
  enum class Naming {
    // "<target>.tmp", written through a DiskFile: MultiFile::InsertFile's
    // fixed name. Whatever has that name when Open is called (a file left by
    // an earlier insertion, a link, ...) is removed, not followed, and the
    // file is created anew, exclusively.
    kFixed,
    // "<target>.tmp-" and six letters and digits, created exclusively; a
    // name no one else holds.
    kUnique,
    // No file: the bytes go to a stream the caller opened (standard output,
    // a pipe), made with the stream constructor. Open takes it as it is,
    // Finish only flushes it (a pipe cannot be synced) and leaves it open,
    // Replace and Discard touch nothing.
    kStream,
  };

  // Every call to the system (its DiskFile's too) goes through `system`.
  ReplacementFile(std::string target, Naming naming, sys::System& system = sys::System::Default());
  // Naming::kStream: writes to `out`, which the caller keeps open and closes.
  ReplacementFile(std::FILE* out, sys::System& system);
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates the temporary file with the target's attributes; false when it
  // cannot be.
  bool Open();
  // Appends `size` bytes as one item; false if this or an earlier write failed.
  bool Write(const void* data, std::uint32_t size);
  // Appends `size` bytes of `from` at `offset` (inside the kernel where it
  // can); false when fewer arrive or an earlier write failed.
  bool Copy(sys::Handle from, std::uint64_t offset, std::uint32_t size);
  // Flushes, syncs and closes the temporary file; false if anything written
  // so far did not reach it.
  bool Finish();
  // Moves the finished temporary file over the target (`existing`), or to
  // the target's free name (not `existing`: false when a file took it
  // meanwhile). False leaves the target as it was.
  bool Replace(bool existing);
  // Closes and deletes the temporary file.
  void Discard();
  // Removes the temporary files "<target>.tmp-XXXXXX" that writers of the
  // target left when they were killed: those that no writer has open. The
  // fixed name is left alone: it may be a file of someone else's.
  void RemoveAbandoned() const;

  const String& TemporaryName() const { return temporary; }
  // The errno value of the first failure since Open (its create, a write,
  // the flush, sync or close), or of the last failed Replace; 0 when none
  // failed or the system did not say why.
  int GetError() const { return error; }

 private:
  bool OpenFixed();
  // Keeps `value` as the reason unless an earlier failure's is kept.
  void Remember(int value);

  std::string target;
  Naming naming;
  String temporary;
  sys::System& system;
  Pointer<DiskFile> file;       // kFixed
  std::FILE* stream = nullptr;  // the temporary file's stream while it is open
  bool ownStream = false;       // kUnique: closed here, not by a DiskFile
  bool failed = false;
  int error = 0;
};

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_REPLACEMENTFILE_H
