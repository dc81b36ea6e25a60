// Writing a whole archive: header, records and data, into a temporary file
// beside it, which then replaces the archive in one step.
#ifndef RXMFILES_MULTIFILE_ARCHIVEWRITER_H
#define RXMFILES_MULTIFILE_ARCHIVEWRITER_H

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "files/KYFile.h"
#include "framework/String.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ReplacementFile.h"

namespace RXM {
namespace multifile {

// The writer places the entries itself: the first entry's data start right
// after the directory and each further one right after the previous one's, so
// every archive it writes keeps the layout invariant whatever offsets the
// records it is given hold. Callers then write the data in record order, and
// Finish refuses an archive whose data do not add up to its records.
//
// It is the one writer of archives: MultiFile::InsertFile,
// MultiFileWriter::Commit and MultiFile::CreateEmptyMultiFile (a commit of
// nothing) all write through Write, each with its own Sources of the
// entries' bytes: InsertFile reads the old entries through the archive
// object as a KYFile (the calls a caller's file has always seen),
// MultiFileWriter copies them from the old file inside the kernel.
//
// Calls: Write (or Begin, AddRecord per entry, WriteData/CopyData/CopyRange
// for the entries' data in the same order, Finish), then Replace (or Discard
// on failure). Every write is checked; the first failure is kept, so a
// caller may write on and look once.
class ArchiveWriter {
 public:
  // Where an entry's bytes come from while an archive is written.
  class Source {
   public:
    virtual ~Source() = default;
    // Appends the `size` bytes of the entry `planned` (its place in the
    // plan) through `writer` (WriteData, CopyData or CopyRange). False stops
    // the writing; the source has kept why (or throws).
    virtual bool Append(std::size_t planned, std::uint32_t size, ArchiveWriter& writer) = 0;
  };
  struct Planned {
    DirectoryRecord record;  // name and padding; the writer places the offsets
    std::uint32_t size;
    Source* source;
  };
  enum class Outcome { kWritten, kNotCreated, kSourceFailed, kWriteFailed };

  // Begin, every record, then every entry's data through its source, in the
  // plan's order, and Finish. Stops at the first failure: the temporary file
  // could not be created (kNotCreated), a source said false
  // (kSourceFailed), or a write, the flush, the sync or the close failed
  // (kWriteFailed). The temporary file is left for Replace or Discard.
  Outcome Write(const std::vector<Planned>& plan);

  // `target`: the archive's file, its links followed (ArchiveLock::GetTarget).
  // Writes through `system`.
  ArchiveWriter(const std::string& target, ReplacementFile::Naming naming, sys::System& system);
  // Writes to the open stream `out` (ReplacementFile::Naming::kStream):
  // Finish flushes it, Replace and Discard do nothing.
  ArchiveWriter(std::FILE* out, sys::System& system);

  // Creates the temporary file and writes the magic and `count`. False when
  // the file cannot be created.
  bool Begin(std::int32_t count);
  // Writes the next record: `record`'s name and padding as they are, with the
  // offsets of the next `size` data bytes. False once a write has failed.
  bool AddRecord(const DirectoryRecord& record, std::uint32_t size);
  // Appends `size` data bytes.
  bool WriteData(const void* data, std::uint32_t size);
  // Appends `size` data bytes read from `from` in items of at most
  // chunk.size() bytes (one ReadData of one item each). False when a read
  // falls short or a write fails.
  bool CopyData(KYFile& from, std::uint32_t size, std::vector<std::uint8_t>& chunk);
  // Appends `size` data bytes of the file `from` at `offset`, inside the
  // kernel where it can (ReplacementFile::Copy). False when fewer arrive.
  bool CopyRange(sys::Handle from, std::uint64_t offset, std::uint32_t size);
  // Checks that every record was written and the data fill them exactly,
  // then flushes, syncs and closes the temporary file.
  bool Finish();
  // Puts the finished file in the archive's place (ReplacementFile::Replace);
  // false leaves the archive as it was.
  bool Replace(bool existing = true);
  // Closes and deletes the temporary file.
  void Discard();
  // See ReplacementFile::RemoveAbandoned.
  void RemoveAbandoned() const { file.RemoveAbandoned(); }

  // Called after each append of data (WriteData, each item of CopyData, each
  // CopyRange) with the data bytes appended so far, all entries together.
  void SetOnData(std::function<void(std::uint64_t appended)> callback) {
    onData = std::move(callback);
  }

  // Whether a write has failed (as opposed to a read by CopyData).
  bool Failed() const { return failed; }

  const String& TemporaryName() const { return file.TemporaryName(); }
  // The system's errno value for the failure of the temporary file's
  // creation, a write, its finishing or Replace (ReplacementFile::GetError).
  int GetError() const { return file.GetError(); }

  // The size of an archive of `count` entries holding `dataBytes` bytes of
  // data; whether it fits in the format's 2,147,483,647 bytes.
  static bool Fits(std::int64_t count, std::int64_t dataBytes);

 private:
  void Appended() const;

  ReplacementFile file;
  std::int32_t expected = 0;
  std::int32_t records = 0;
  std::int64_t placed = 0;     // where the next record's data start
  std::int64_t written = 0;    // where the next data byte goes
  std::int64_t dataStart = 0;  // where the first record's data begin
  std::function<void(std::uint64_t)> onData;
  bool failed = false;
};

}  // namespace multifile
}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ARCHIVEWRITER_H
