// The entries of a MultiFileWriter, shared by its two source files: what a
// commit plans (MultiFileWriter.cpp) and how it copies them
// (MultiFileWriterCopy.cpp).
#ifndef RXMFILES_MULTIFILE_MULTIFILEWRITERENTRIES_H
#define RXMFILES_MULTIFILE_MULTIFILEWRITERENTRIES_H

#include <cstdint>
#include <string>
#include <vector>

#include "multifile/MultiFileWriter.h"

// An entry to add: bytes in memory, a caller's KYFile, or a disk file that
// is measured by its name and opened only to be copied.
struct MultiFileWriter::Entry {
  std::string name;
  Pointer<KYFile> source;  // null for bytes in memory and for disk files
  String inputName;        // the source's name, or the disk file's path
  bool diskFile = false;
  std::vector<std::uint8_t> bytes;
  std::uint32_t size = 0;
};

// An entry of the existing archive: its record (renamed, perhaps) and where
// its data lie in the existing file.
struct MultiFileWriter::Kept {
  DirectoryRecord record;  // its offsets: where the data lie in the existing file
  std::uint32_t size;
  std::string storedName;  // its name in the existing file (record's may be a new one)
};

#endif  // RXMFILES_MULTIFILE_MULTIFILEWRITERENTRIES_H
