// "-" as an archive: a private temporary folder (mode 0700 on POSIX) holding
// a copy of standard input to read from, or the archive that is then copied
// to standard output. The library reads and replaces archives by name, so it
// needs a real file. The folder and its archive are removed when the object
// goes, and by SignalCleanup when a signal ends the program first.
#ifndef KYMF_SUPPORT_TEMPORARYARCHIVE_H
#define KYMF_SUPPORT_TEMPORARYARCHIVE_H

#include <cstdint>
#include <functional>
#include <string>

#include <RXMFiles.h>

#include "backends/System.h"
#include "support/BlockCopy.h"

namespace kymf {

// Copies an archive from `read` (the input `inputName`, "-" for standard
// input) into `write` (the file `outputName`), looking at it on the way: it
// stops at once, with nothing more read, when the first four bytes are not
// "KYMF" (kNotAnArchive, as for a shorter input), and once more than `limit`
// bytes have come (kTooLarge; at most limit + 1 bytes are read), so that an
// endless input or one that is no archive costs neither time nor disk. The
// messages name `inputName`. Ok when the whole input was copied;
// kWriteFailed naming `outputName` with the system's reason when a write
// failed, kReadFailed when `readFailed` says afterwards that the input
// ended by an error.
RXM::Status SpoolArchive(const ReadBlock& read, const std::string& inputName,
                         const WriteBlock& write, const std::string& outputName,
                         std::uint64_t limit,
                         const std::function<bool()>& readFailed = std::function<bool()>());

class TemporaryArchive {
 public:
  // The folder and its archive are made, written, read and removed through
  // `calls`, which must outlive the object.
  explicit TemporaryArchive(RXM::sys::System& calls = RXM::sys::System::Default())
      : system(calls) {}
  // Removes the folder and everything in it (each name, then the folder);
  // what a failing call leaves is left.
  ~TemporaryArchive();
  TemporaryArchive(const TemporaryArchive&) = delete;
  TemporaryArchive& operator=(const TemporaryArchive&) = delete;

  // Makes the folder, under a free name in the temporary folder (TMPDIR).
  // Ok, or kCannotOpen naming the folder with the system's reason.
  RXM::Status Make();
  // Copies standard input into GetPath() if it is an archive (FromInput).
  RXM::Status FromStandardInput();
  // Copies the input that `read` gives, "-" in messages, into GetPath() if
  // it is an archive (SpoolArchive, up to the largest archive the format
  // holds; `readFailed` as there). Ok, or kNotAnArchive / kTooLarge /
  // kReadFailed naming "-", kCannotOpen / kWriteFailed naming the file with
  // the system's reason. The file stays, whole or not, until the object goes.
  RXM::Status FromInput(const ReadBlock& read, const std::function<bool()>& readFailed);

  // The archive's path inside the folder (it need not exist yet).
  const std::string& GetPath() const { return path; }

 private:
  RXM::sys::System& system;
  std::string folder;
  std::string path;
  int folderSlot = -1;  // SignalCleanup's
  int fileSlot = -1;
};

}  // namespace kymf

#endif  // KYMF_SUPPORT_TEMPORARYARCHIVE_H
