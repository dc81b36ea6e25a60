#ifndef RXMFILES_MULTIFILE_MULTIFILEWRITER_H
#define RXMFILES_MULTIFILE_MULTIFILEWRITER_H

#include <cstdint>
#include <string>
#include <vector>

#include "files/KYFile.h"
#include "framework/Export.h"
#include "framework/Pointer.h"
#include "framework/String.h"

// The fast way to build an archive: collect entries, then Commit them all in
// one pass.
//
// MultiFile::InsertFile rewrites the whole archive for every file it adds, so
// packing N files one by one costs O(N^2) bytes of I/O. A MultiFileWriter
// writes the header, every record and every entry's data once: into a
// temporary file beside the archive, which is synced and then put in the
// archive's place in one step, exactly as InsertFile replaces an archive, so
// a crash or a full disk never leaves a half-written archive under its name.
//
// The bytes it writes are exactly those that inserting the same files one by
// one with InsertFile gives. Data are copied in chunks of a bounded size, so
// memory does not grow with the size of an entry.
//
//   MultiFileWriter writer("game.kymf");
//   writer.AddFile("levels/1.map", "src/levels/1.map");
//   writer.AddBytes("version.txt", "1.0", 3);
//   if (!writer.Commit()) std::puts(writer.GetError());
class RXMFILES_API MultiFileWriter {
 public:
  // Writes the archive `archiveName`; with `keepExisting`, the entries of the
  // archive already under that name come first, in their order.
  explicit MultiFileWriter(const String& archiveName, bool keepExisting = false,
                           std::uint32_t chunkSize = 1u << 20);
  ~MultiFileWriter();
  MultiFileWriter(const MultiFileWriter&) = delete;
  MultiFileWriter& operator=(const MultiFileWriter&) = delete;

  // The disk file `path` as the entry `entryName`.
  void AddFile(const String& entryName, const String& path);
  // The file `inputName`, opened with mode "rb" through `source`, as the entry
  // `entryName`. `source` is closed once copied.
  void AddFile(const String& entryName, Pointer<KYFile> source, const String& inputName);
  // `size` bytes from memory (copied now) as the entry `entryName`.
  void AddBytes(const String& entryName, const void* data, std::uint32_t size);

  // The number of entries added so far.
  int GetCount() const;

  // Called by Commit after each entry's data are written, with the number of
  // entries written and the number in all.
  void SetProgress(void (*progress)(int done, int total, void* context), void* context);

  // Writes the archive. False, with the archive under its name untouched and
  // no temporary file left, when a name is refused (empty, longer than 69
  // characters, or equal to another entry's name with ASCII letters compared
  // without regard to case), an input cannot be opened or read, is empty, or
  // changes size while it is copied, the archive would exceed 2,147,483,647
  // bytes, the existing archive cannot be read, or a write, sync or the
  // replacement fails. GetError then says which.
  bool Commit();

  // What made the last Commit fail; "" after a success.
  const char* GetError() const;

 private:
  struct Entry;
  bool Fail(const std::string& message);

  String archiveName;
  bool keepExisting;
  std::uint32_t chunkSize;
  std::vector<Entry*> entries;
  std::string error;
  void (*progress)(int, int, void*) = nullptr;
  void* progressContext = nullptr;
};

#endif  // RXMFILES_MULTIFILE_MULTIFILEWRITER_H
