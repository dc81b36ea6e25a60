// "-" as an archive: a private temporary folder (mode 0700 on POSIX) holding
// a copy of standard input to read from, or the archive that is then copied
// to standard output. The library reads and replaces archives by name, so it
// needs a real file. The folder and its archive are removed when the object
// goes, and by SignalCleanup when a signal ends the program first.
#ifndef KYMF_SUPPORT_TEMPORARYARCHIVE_H
#define KYMF_SUPPORT_TEMPORARYARCHIVE_H

#include <string>

#include <RXMFiles.h>

namespace kymf {

class TemporaryArchive {
 public:
  TemporaryArchive() = default;
  // Removes the folder and everything in it.
  ~TemporaryArchive();
  TemporaryArchive(const TemporaryArchive&) = delete;
  TemporaryArchive& operator=(const TemporaryArchive&) = delete;

  // Makes the folder. Ok, or kCannotOpen with the system's text.
  RXM::Status Make();
  // Copies all of standard input into GetPath(). Ok, or kReadFailed /
  // kWriteFailed naming "-" or the file.
  RXM::Status FromStandardInput();
  // Copies GetPath() to standard output. Ok, or kReadFailed / kWriteFailed.
  RXM::Status ToStandardOutput() const;

  // The archive's path inside the folder (it need not exist yet).
  const std::string& GetPath() const { return path; }

 private:
  std::string folder;
  std::string path;
  int folderSlot = -1;  // SignalCleanup's
  int fileSlot = -1;
};

}  // namespace kymf

#endif  // KYMF_SUPPORT_TEMPORARYARCHIVE_H
