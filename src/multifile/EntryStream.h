// A read-only stream over one entry, with a position of its own.
#ifndef RXMFILES_MULTIFILE_ENTRYSTREAM_H
#define RXMFILES_MULTIFILE_ENTRYSTREAM_H

#include <cstdint>
#include <memory>
#include <string>

#include "files/KYFile.h"
#include "files/PositionalReader.h"

namespace RXM {

// The bytes of one entry, read either through a PositionalReader at the
// entry's offset (a file on disk, an object on a server) or out of memory that a keeper holds (a
// resource of a module, an entry copied out of a caller's file). The stream keeps its source alive:
// it stays readable when the archive or module object that made it is closed or destroyed, until
// the stream itself goes.
//
// Its nine operations answer as an archive's element stream (MultiFile's own
// OpenFile ... GetPosition) answers for the same entry: whole items only,
// seeks clamped into the entry, writes refused by a thrown Exception. Only
// OpenFile differs, since a stream knows one entry: it closes the stream,
// throws for the writing modes as MultiFile::OpenFile does, and opens it again
// at position 0 when `name` is the name it was opened under (ASCII letters
// folded); any other name leaves it closed and gives false. Closing keeps the
// source, so the stream can be opened again.
//
// A stream is one object for one thread at a time; streams over one source
// may be read from different threads at once (their shared parts are held by
// std::shared_ptr and never change).
class EntryStream : public KYFile {
 public:
  // The two refusals of an entry, the same for every kind of entry stream:
  // throw a new Exception whose message names `archive`.
  [[noreturn]] static void RefuseOpeningForWriting(const char* archive);
  [[noreturn]] static void RefuseWriting(const char* archive);
  // Whether `mode` is one of the writing modes that an entry refuses: "w",
  // "a", "at", "ab", "wt", "r+t", "wb", "r+b", compared exactly.
  static bool IsWritingMode(const char* mode);

  // Open, at position 0, over `length` bytes at `at` in `file`.
  // `archive` is named in the refusal messages; `entry` is the entry's name.
  EntryStream(std::shared_ptr<const PositionalReader> file, std::int64_t at, std::uint32_t length,
              std::shared_ptr<const std::string> archive, std::string entry);
  // Open, at position 0, over the `length` bytes at `memory`, which
  // `owner` keeps valid.
  EntryStream(std::shared_ptr<const void> owner, const std::uint8_t* memory, std::uint32_t length,
              std::shared_ptr<const std::string> archive, std::string entry);

  // Answers "KYFile" only.
  void* FindInterface(const char* name) const override;

  bool OpenFile(String name, String mode) override;
  // True when the stream was open.
  bool CloseFile() override;
  bool IsFileOpened() override;
  // Whole items only; 0 when closed or for `size` 0. A short read of the file
  // gives the items it delivered whole, and the position moves past them.
  unsigned int ReadData(void* buffer, unsigned int size, unsigned int count) override;
  // 0 when closed; otherwise throws a new Exception (RefuseWriting) and
  // changes nothing.
  unsigned int WriteData(const void* buffer, unsigned int size, unsigned int count) override;
  // The entry's size; 0 when closed.
  unsigned int GetFileSize() override;
  // True when closed or once the position has reached the entry's size.
  bool EndOfFile() override;
  // Clamps a target outside the entry to its start or end; true. False when
  // closed or for an origin other than 0, 1 and 2 (the position unchanged).
  bool Seek(long offset, int origin) override;
  // The position (the last one after closing).
  long GetPosition() override;

 private:
  // Copies `size` bytes at `offset` in the entry; the number copied.
  std::uint32_t Fetch(void* buffer, std::uint32_t size, std::uint32_t offset) const;

  std::shared_ptr<const void> keeper;  // holds the handle or the memory
  const PositionalReader* handle = nullptr;
  const std::uint8_t* bytes = nullptr;
  std::int64_t start = 0;
  std::uint32_t size = 0;
  std::int32_t position = 0;
  bool open = true;
  std::shared_ptr<const std::string> origin;
  std::string name;
};

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ENTRYSTREAM_H
