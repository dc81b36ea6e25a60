// Writing a whole archive: header, records and data, into "<archive>.tmp",
// which then replaces the archive in one step.
#ifndef RXMFILES_MULTIFILE_ARCHIVEWRITER_H
#define RXMFILES_MULTIFILE_ARCHIVEWRITER_H

#include <cstdint>
#include <vector>

#include "files/KYFile.h"
#include "framework/String.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ReplacementFile.h"

namespace RXM {
namespace kymf {

// The writer places the entries itself: the first entry's data start right
// after the directory and each further one right after the previous one's, so
// every archive it writes keeps the layout invariant whatever offsets the
// records it is given hold. Callers then write the data in record order, and
// Finish refuses an archive whose data do not add up to its records.
//
// Calls: Begin, AddRecord per entry, WriteData/CopyData for the entries'
// data in the same order, Finish, Replace (or Discard on failure). Every
// write is checked; the first failure is kept, so a caller may write on and
// look once.
class ArchiveWriter {
 public:
  // Writes through `system`.
  ArchiveWriter(const String& archiveName, sys::System& system);

  // Creates (or truncates) the temporary file and writes the magic and
  // `count`. False when the file cannot be created.
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
  // Checks that every record was written and the data fill them exactly,
  // then flushes, syncs and closes the temporary file.
  bool Finish();
  // Puts the finished file in the archive's place; false leaves the archive
  // as it was.
  bool Replace();
  // Closes and deletes the temporary file.
  void Discard();

  // Whether a write has failed (as opposed to a read by CopyData).
  bool Failed() const { return failed; }

  const String& TemporaryName() const { return file.TemporaryName(); }

  // The size of an archive of `count` entries holding `dataBytes` bytes of
  // data; whether it fits in the format's 2,147,483,647 bytes.
  static bool Fits(std::int64_t count, std::int64_t dataBytes);

 private:
  ReplacementFile file;
  std::int32_t expected = 0;
  std::int32_t records = 0;
  std::int64_t placed = 0;   // where the next record's data start
  std::int64_t written = 0;  // where the next data byte goes
  bool failed = false;
};

}  // namespace kymf
}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ARCHIVEWRITER_H
