#ifndef RXMFILES_MULTIFILE_MULTIFILEWRITER_H
#define RXMFILES_MULTIFILE_MULTIFILEWRITER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "files/KYFile.h"
#include "files/Status.h"
#include "framework/Export.h"
#include "framework/Pointer.h"
#include "framework/String.h"

namespace RXM {
namespace multifile {
class ArchiveCore;
}
}  // namespace RXM
namespace RXM {
class ArchiveLock;
namespace multifile {
class ArchiveWriter;
}
namespace sys {
class System;
enum class FileKind;
}  // namespace sys
}  // namespace RXM

/// The fast way to build or change an archive: collect entries (and, keeping
/// the existing archive, removals and renamings), then Commit them all in one
/// pass.
///
/// MultiFile::InsertFile rewrites the whole archive for every file it adds, so
/// packing N files one by one costs O(N^2) bytes of I/O. A MultiFileWriter
/// writes the header, every record and every entry's data once: into a new
/// temporary file beside the archive ("<archive>.tmp-" and six letters and
/// digits, created exclusively), which is synced and then put in the
/// archive's place in one step, as InsertFile replaces an archive, so a crash
/// or a full disk never leaves a half-written archive under its name. The
/// kept entries' bytes are copied from the old file inside the kernel where
/// the system can (copy_file_range), through a bounded buffer elsewhere.
///
/// One writer at a time: the writer holds the archive's lock (ArchiveLock.h,
/// docs/locking.md) from its first read of the existing archive, or from the
/// start of Commit, until the new archive is in place, so that two writers
/// never both succeed with one's work lost. The replaced archive keeps its
/// permission bits (and owner and group where the process may set them); an
/// archive reached through a symbolic link is replaced where the link points,
/// and the link stays; a read-only archive is refused (kReadOnly).
///
/// The bytes it writes are exactly those that inserting the same files one by
/// one with InsertFile gives. Data are copied in chunks of a bounded size, so
/// memory does not grow with the size of an entry.
///
///   MultiFileWriter writer("game.kymf");
///   writer.AddFile("levels/1.map", "src/levels/1.map");
///   writer.AddBytes("version.txt", "1.0", 3);
///   if (!writer.Commit()) std::puts(writer.GetStatus().GetText());
class RXMFILES_API MultiFileWriter {
 public:
  /// Writes the archive `archiveName`; with `keepExisting`, the entries of the
  /// archive already under that name come first, in their order.
  explicit MultiFileWriter(const String& archiveName, bool keepExisting = false,
                           std::uint32_t chunkSize = 1u << 20);
  /// The same, with every call to the system (measuring, reading, writing,
  /// replacing) going through `system`, which must outlive the writer.
  MultiFileWriter(RXM::sys::System& system, const String& archiveName, bool keepExisting = false,
                  std::uint32_t chunkSize = 1u << 20);
  ~MultiFileWriter();
  MultiFileWriter(const MultiFileWriter&) = delete;
  MultiFileWriter& operator=(const MultiFileWriter&) = delete;

  /// The disk file `path` as the entry `entryName`.
  void AddFile(const String& entryName, const String& path);
  /// The file `inputName`, opened with mode "rb" through `source`, as the entry
  /// `entryName`. `source` is closed once copied.
  void AddFile(const String& entryName, Pointer<KYFile> source, const String& inputName);
  /// `size` bytes from memory (copied now) as the entry `entryName`.
  void AddBytes(const String& entryName, const void* data, std::uint32_t size);

  /// With `keepExisting` only: drops the kept entry `name` (ASCII case
  /// ignored; every record of that name). False, with nothing changed, when no
  /// kept entry has that name (kNoSuchEntry), the writer keeps nothing
  /// (kNotOpen), or the existing archive cannot be read (its reason).
  bool RemoveExisting(const String& name);
  /// With `keepExisting` only: gives the kept entry `from` (the record a
  /// lookup finds) the name `to`, keeping its place and data. False, with
  /// nothing changed, as RemoveExisting, or when `to` is refused (kNameRefused,
  /// kNameTooLong) or names another kept entry (kAlreadyExists).
  bool RenameExisting(const String& from, const String& to);
  /// When set, an added entry replaces a kept entry of the same name (which
  /// leaves its place; the new entry comes after the kept ones); otherwise
  /// such a name makes Commit fail with kAlreadyExists. Off by default.
  void SetReplaceExisting(bool replace);
  /// When set, entries of size 0 are written (their record's dataEnd is
  /// dataStart - 1) and kept ones copied; otherwise Commit refuses them with
  /// kEmptyInput. Off by default.
  void SetAllowEmpty(bool allow);

  /// How long RemoveExisting, RenameExisting and Commit wait for another
  /// writer of the archive to finish: `milliseconds` at most (0, the default:
  /// they refuse at once with kBusy). `waiting`, when set, is called once when
  /// a wait begins, with the archive's name.
  void SetLockWait(std::uint32_t milliseconds,
                   void (*waiting)(const char* archive, void* context) = nullptr,
                   void* context = nullptr);

  /// When set, Commit writes the sums file "<archive>.sha256" beside the
  /// archive (a SHA-256 sum per entry, in sha256sum's format) even where there
  /// is none yet. Without it, a sums file that exists is kept current all the
  /// same: each Commit that replaces the archive rewrites it, taking the kept
  /// entries' sums from it when it was current, and reading the rest.
  /// `threads` above 1 lets that many threads digest entries at once while
  /// Commit writes the sums file (by default the library starts none).
  void SetWriteSums(bool write, unsigned threads = 1);
  /// Why the sums file could not be brought up to date by the last Commit that
  /// succeeded (the archive is in place all the same, its sums file left
  /// older than it: stale); Ok when it was, or when there is none.
  const RXM::Status& GetSumsStatus() const;

  /// The number of entries added so far.
  int GetCount() const;

  /// Called by Commit after each entry's data are written, with the number of
  /// entries written and the number in all.
  void SetProgress(void (*progress)(int done, int total, void* context), void* context);

  /// Called by Commit and CommitTo as the entries' data are written (after
  /// each block of an added file, each kept entry, each entry given as
  /// bytes), with the data bytes written so far and the data bytes in all,
  /// kept entries included; never after a failed write. For a progress
  /// line: a large entry moves it too, which SetProgress does not.
  void SetByteProgress(void (*progress)(std::uint64_t done, std::uint64_t total, void* context),
                       void* context);

  /// Writes the archive; true when it is in place under its name. False, with
  /// the archive under its name untouched and no temporary file left, when a
  /// name is refused (kNameRefused: empty, absolute, "..", a backslash, ...;
  /// kNameTooLong; kAlreadyExists: equal to another entry's name, ASCII case
  /// ignored), an input cannot be opened or read (kReadFailed), is empty
  /// (kEmptyInput), or changes size while it is copied (kInputChanged), the
  /// archive would exceed 2,147,483,647 bytes (kTooLarge), the existing
  /// archive cannot be read (its reason) or a kept entry is not backed by it
  /// (kTruncated), or a write, the sync (kWriteFailed) or the replacement
  /// (kReplaceFailed) fails, or the archive may not be changed: it is
  /// read-only (kReadOnly), is no regular file (kIsAFolder, kNotARegularFile:
  /// never replaced), or another writer held its lock throughout the wait
  /// (kBusy). GetStatus then says which, with the system's reason (and its
  /// errno, GetSystemError) where a call to the system failed. The lock is given up when the
  /// commit succeeds; after a failure it is kept until the writer is
  /// destroyed, so that a second Commit builds on the same archive.
  bool Commit();

  /// Takes the archive's lock now, waiting as SetLockWait says, rather than at
  /// the first RemoveExisting, RenameExisting or Commit; nothing when it is
  /// held already. The lock is then held until a Commit succeeds or the
  /// writer goes, so that a caller changing other files together with this
  /// archive (the later volumes of a set, docs/volumes.md) holds it
  /// throughout. True when held, or when no file has the archive's name yet
  /// (nothing to lock); false, with GetStatus saying why, as Commit fails
  /// for the lock (kBusy, kReadOnly, kIsAFolder, kNotARegularFile,
  /// kCannotOpen).
  bool Lock();

  /// Writes the archive Commit would write to the open stream `out` instead,
  /// in one pass (an archive to standard output: `kymf create - ...`): no
  /// temporary file, no sync, no sums file, nothing replaced; the lock is
  /// taken only to read the existing archive (keepExisting), and given up on
  /// success. True when every byte was written and `out` flushed; `out`
  /// stays open. False with GetStatus() as for Commit (names, inputs and
  /// size are checked before the first byte; kWriteFailed with the system's
  /// reason when `out` fails); `out` may then hold part of an archive.
  bool CommitTo(std::FILE* out);

  /// Why the last Commit, RemoveExisting or RenameExisting failed; Ok after a
  /// success.
  const RXM::Status& GetStatus() const;
  /// GetStatus().GetText(): "" after a success.
  const char* GetError() const;

 private:
  struct Entry;
  struct Kept;
  bool Fail(RXM::ErrorCode code, const std::string& detail);
  // A failure of a call to the system, with its errno value `error`.
  bool FailSystem(RXM::ErrorCode code, const std::string& detail, int error);
  // The input of `entry` cannot be opened: `kind` is what is under its name.
  bool FailInput(const Entry& entry, RXM::sys::FileKind kind, int error);
  // Reads the existing archive when entries are kept, then checks and
  // measures every entry and the archive's size; false (Status set) when
  // any is refused.
  bool Prepare();
  // Puts the written archive in its place: over the locked archive, or
  // under its free name.
  bool Place(RXM::multifile::ArchiveWriter& writer);
  // Reads the existing archive's directory once; false (Status set) when it
  // cannot be read.
  bool LoadExisting();
  // The kept entry a lookup of `name` finds, or -1.
  int FindKept(const String& name) const;
  // The checks before anything is written.
  bool CheckKept(std::int64_t& dataBytes);
  bool CheckNames();
  // The entry-name rule (ArchiveFormat.h) for `name`; false with the status.
  bool CheckName(const char* name, std::size_t length);
  bool Measure(Entry& entry, std::int64_t& dataBytes);
  // The writing, in the archive's order.
  // Writes the new archive into `writer`'s temporary file; false (Status
  // set, the temporary file left for Discard) on failure.
  bool Write(RXM::multifile::ArchiveWriter& writer);
  // The source of every entry's bytes: the kept ones' from the old file, the
  // added ones' from memory or their inputs.
  class Copier;
  void Progress(int done) const;

  RXM::sys::System* system;
  String archiveName;
  bool keepExisting;
  std::uint32_t chunkSize;
  bool replaceExisting = false;
  bool allowEmpty = false;
  std::vector<Entry> entries;
  // The archive being kept, once read.
  std::shared_ptr<const RXM::multifile::ArchiveCore> existing;
  std::unique_ptr<RXM::ArchiveLock> lock;
  std::uint32_t lockWait = 0;
  void (*lockWaiting)(const char*, void*) = nullptr;
  void* lockWaitingContext = nullptr;
  std::vector<Kept> kept;
  RXM::Status status;
  RXM::Status sumsStatus;
  bool writeSums = false;
  unsigned sumsThreads = 1;
  void (*progress)(int, int, void*) = nullptr;
  void* progressContext = nullptr;
  void (*byteProgress)(std::uint64_t, std::uint64_t, void*) = nullptr;
  void* byteProgressContext = nullptr;
};

#endif  // RXMFILES_MULTIFILE_MULTIFILEWRITER_H
