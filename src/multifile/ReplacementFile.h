// Replacing a file by a complete new version, with no moment at which the
// file under its name is missing or incomplete.
#ifndef RXMFILES_MULTIFILE_REPLACEMENTFILE_H
#define RXMFILES_MULTIFILE_REPLACEMENTFILE_H

#include <cstdint>

#include "backends/DiskFile.h"
#include "backends/System.h"
#include "framework/Pointer.h"
#include "framework/String.h"

namespace RXM {

// The new version is written into "<target>.tmp" beside the target, flushed
// and forced to storage, and only then moved over the target in one step of
// the file system (rename over it on POSIX, MoveFileEx with write-through on
// Windows), after which the directory is forced to storage too. A crash or a
// power loss at any moment leaves under the target's name either the old file
// or the complete new one: the old file is never deleted before the new one
// has taken its place, which is the same step.
//
// Every write, the flush, the sync and the close are checked; the first
// failure is remembered, so a caller may write on and look once at the end.
class ReplacementFile {
 public:
  // Its DiskFile, the sync, the replace and the remove go through `system`.
  explicit ReplacementFile(const String& target, sys::System& system = sys::System::Default());
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates (or truncates) the temporary file.
  bool Open();
  // Appends `size` bytes as one item; false if this or an earlier write failed.
  bool Write(const void* data, std::uint32_t size);
  // Flushes, syncs and closes the temporary file; false if anything written
  // so far did not reach it.
  bool Finish();
  // Moves the finished temporary file over the target; false (and the target
  // untouched) if the move fails.
  bool Replace();
  // Closes and deletes the temporary file.
  void Discard();

  const String& TemporaryName() const { return temporary; }

 private:
  String target;
  String temporary;
  sys::System& system;
  Pointer<DiskFile> file;
  bool failed = false;
};

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_REPLACEMENTFILE_H
