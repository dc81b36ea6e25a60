// Reading an archive's header and directory through its KYFile.
#ifndef RXMFILES_MULTIFILE_ARCHIVEREADER_H
#define RXMFILES_MULTIFILE_ARCHIVEREADER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "backends/System.h"
#include "files/KYFile.h"
#include "files/Status.h"
#include "multifile/ArchiveFormat.h"

namespace RXM {
namespace multifile {

// Checks as it reads: the magic, the entry count against the file's size
// (before anything is allocated for the directory), and each record whole
// with a NUL-terminated name. Offsets are not checked here (CheckLayout
// does that for those who ask).
//
// With `recordsPerRead` 1 the file sees exactly: ReadData(4, 1), ReadData(4, 1),
// GetFileSize (not for a negative count), then ReadData(80, 1) per record. A larger value reads up
// to that many records with one ReadData(80, n): for files of the library's own, where the calls
// are not watched and one large read costs far less than many small ones.
class ArchiveReader {
 public:
  // `file` is open and positioned at its start; `archiveName` names it in
  // messages.
  ArchiveReader(KYFile& file, std::string archiveName, std::int32_t recordsPerRead = 1);

  // Reads the magic and the entry count. Ok with `count` set; kNotAnArchive
  // (short header, wrong magic) or kCountBeyondFile (negative, or more
  // records than the file holds).
  Status ReadHeader(std::int32_t& count);

  // Why the file `archiveName` could not be opened, the system having said
  // `error` (an errno value, or 0): kNoSuchFile, kIsAFolder,
  // kNotARegularFile (a socket, which no open takes), or kCannotOpen with the
  // system's reason.
  static Status WhyNotOpened(sys::System& system, const std::string& archiveName, int error);

  // Whether `file`, just opened as the archive `archiveName`, can be one:
  // Ok for a regular file, and for a file that is no DiskFile (its reads
  // are its own). A DiskFile's open file is examined through `system`, not
  // its name, so a file put under the name meanwhile changes nothing:
  // kIsAFolder for a folder, kNotARegularFile for a FIFO, a socket or a
  // device, whose reads could wait forever or never end; kCannotOpen with
  // the system's reason when it cannot be examined. Nothing is read.
  static Status CheckOpenedFile(sys::System& system, KYFile& file, const std::string& archiveName);

  // The file's size as ReadHeader measured it; -1 before.
  std::int64_t GetFileSize() const { return fileSize; }

  // Reads the next record into `record`. kShortRecord when the file ends
  // inside it, kUnterminatedName when its name has no NUL.
  Status ReadRecord(DirectoryRecord& record);

 private:
  KYFile& file;
  std::string name;
  std::int32_t perRead;
  std::int32_t left = 0;    // records not yet handed out
  std::int32_t number = 0;  // index of the next record
  std::int64_t fileSize = -1;
  // Records as read, never zeroed first: only the `filled` bytes read are
  // looked at.
  std::unique_ptr<std::uint8_t[]> block;
  std::size_t blockSize = 0;
  std::size_t used = 0;
  std::size_t filled = 0;
};

}  // namespace multifile
}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ARCHIVEREADER_H
