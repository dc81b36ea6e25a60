// A read-only stream over one entry, with a position of its own.
#ifndef RXMFILES_FILES_ENTRYSTREAM_H
#define RXMFILES_FILES_ENTRYSTREAM_H

#include <cstdint>
#include <memory>
#include <string>

#include "files/BoundedStream.h"
#include "files/ByteSource.h"
#include "files/KYFile.h"
#include "files/Status.h"
#include "framework/Export.h"

namespace RXM {

// The bytes of one entry, a window of a ByteSource: a file on disk read
// through a SharedHandle at the entry's offset, or memory that a
// MemorySource keeps (a resource of a module, an entry copied out of a
// caller's file). The stream holds its source: it stays readable when the
// archive or module object that made it is closed or destroyed, until the
// stream itself goes.
//
// Its nine operations answer as an archive's element stream (MultiFile's own
// OpenFile ... GetPosition) answers for the same entry (the BoundedStream
// with kPolicy), with one difference the element stream does not have: a
// read that gets fewer bytes than the entry holds there (its file shrank
// under it) ends the stream, so that EndOfFile turns true and GetStatus
// says why. OpenFile differs too, since a stream knows one entry: it closes
// the stream, throws for the writing modes as MultiFile::OpenFile does, and
// opens it again at position 0 when `name` is the name it was opened under
// (as `sameName` compares names); any other name leaves it closed and gives
// false. Closing keeps the source, so the stream can be opened again.
//
// A stream is one object for one thread at a time; streams over one source
// may be read from different threads at once (their shared parts are held by
// std::shared_ptr and never change).
class EntryStream : public KYFile {
 public:
  // Whole items, seeks clamped and refused for another origin; empty and at
  // its end when closed; a short read ends the stream.
  static constexpr StreamPolicy kPolicy = {ZeroSizeItems::kNoneRead, UnknownOrigin::kRefused,
                                           WhenClosed::kEmptyAndAtEnd, ShortRead::kEnds};

  // Whether `requested` names the entry called `name`.
  using NameRule = bool (*)(const char* requested, const char* name);

  // The two refusals of an entry, the same for every kind of entry stream:
  // throw a new Exception whose message names `archive`.
  [[noreturn]] static void RefuseOpeningForWriting(const char* archive);
  [[noreturn]] static void RefuseWriting(const char* archive);
  // Whether `mode` is one of the writing modes that an entry refuses: "w",
  // "a", "at", "ab", "wt", "r+t", "wb", "r+b", compared exactly.
  static bool IsWritingMode(const char* mode);

  // Open, at position 0, over `length` bytes at `at` in `source`. `archive`
  // is named in the refusal messages and the status; `entry` is the entry's
  // name, which `sameName` compares with the name OpenFile is given.
  EntryStream(std::shared_ptr<const ByteSource> source, std::int64_t at, std::uint32_t length,
              std::shared_ptr<const std::string> archive, std::string entry, NameRule sameName);

  // Answers "KYFile" only.
  void* FindInterface(const char* name) const override;

  bool OpenFile(String name, String mode) override;
  // True when the stream was open.
  bool CloseFile() override;
  bool IsFileOpened() override;
  // Whole items only; 0 when closed or for `size` 0. A short read of the
  // source gives the items it delivered whole, the position moves past them,
  // and the stream has ended (EndOfFile, GetStatus).
  unsigned int ReadData(void* buffer, unsigned int size, unsigned int count) override;
  // 0 when closed; otherwise throws a new Exception (RefuseWriting) and
  // changes nothing.
  unsigned int WriteData(const void* buffer, unsigned int size, unsigned int count) override;
  // The entry's size; 0 when closed.
  unsigned int GetFileSize() override;
  // True when closed, once the position has reached the entry's size, or
  // once a short read ended the stream.
  bool EndOfFile() override;
  // Clamps a target outside the entry to its start or end; true. False when
  // closed or for an origin other than 0, 1 and 2 (the position unchanged).
  bool Seek(long offset, int origin) override;
  // The position (the last one after closing).
  long GetPosition() override;

  // Ok, or kTruncated ("<archive>: <entry>: ends at byte N of M") once a
  // short read has ended the stream, until it is opened again.
  Status GetStatus() const;

  // Up to `size` bytes at `offset` in the entry, open or not, straight from
  // the source: no position is read or moved, so any number of threads may
  // read one stream at once (every source of an EntryStream answers reads
  // from many threads). The bytes copied: fewer than asked only past the
  // entry's end, or where the source ends early (its file shrank).
  std::uint32_t ReadAt(void* buffer, std::uint32_t size, std::uint32_t offset) const;
  // The handle of the file the entry's bytes lie in (ByteSource::FileHandle)
  // and the offset of its first byte there; -1 when its source is no such
  // file.
  std::intptr_t FileHandle(std::uint64_t* first) const;

 private:
  std::shared_ptr<const ByteSource> source;
  std::int64_t start;
  std::uint32_t size;
  BoundedStream stream{kPolicy};
  std::shared_ptr<const std::string> origin;
  std::string name;
  NameRule sameName;
};

// EntryStream::ReadAt of `file` when it is an entry stream of the library's
// (an archive's entry, a search path's file): true, with the bytes read in
// *got. False, nothing read, for any other KYFile, which a caller then reads
// by Seek and ReadData.
RXMFILES_API bool ReadEntryAt(KYFile& file, void* buffer, std::uint32_t size, std::uint32_t offset,
                              std::uint32_t* got);

// Where the bytes of `file` lie when it is an entry stream of the library's
// read by position from one file (an archive's entry from disk, a folder's
// file): that file's system handle, with the offset of the entry's first byte
// in it in *first, so that a server can splice them. -1 for any other KYFile
// or source. The handle stays open while `file` lives; reads of it at other
// offsets than the entry's are the caller's mistake.
RXMFILES_API std::intptr_t EntryFileHandle(KYFile& file, std::uint64_t* first);

}  // namespace RXM

#endif  // RXMFILES_FILES_ENTRYSTREAM_H
