// The "KYMF" multi-file archive: many named files kept back to back in one.
//
// All integers are 32-bit two's-complement little-endian; all offsets are
// absolute byte offsets from the start of the archive file.
//
//   offset        size         content
//   0             4            magic: "KYMF" (4B 59 4D 46)
//   4             4            entryCount N (signed, 0 or more)
//   8             80 * N       the directory: one record per entry
//   8 + 80 * N    sum of sizes the entries' data, back to back, in directory order
//
// A directory record (80 bytes):
//
//   offset  size  field
//   0       70    name: 8-bit characters ended by a NUL (at most 69 of them);
//                 the bytes after the NUL are zero in records the library writes
//   70      2     padding: no meaning, zero when the library writes it
//   72      4     dataStart: offset of the entry's first data byte
//   76      4     dataEnd: offset of the entry's last data byte, inclusive
//
// An entry's size is dataEnd - dataStart + 1 (dataEnd = dataStart - 1 for an
// empty entry). Names compare equal when they differ only in the case of the
// ASCII letters A-Z; every other byte must match, whatever the locale. A
// lookup by name finds the record nearest the end of the directory.
//
// Every archive the library writes keeps the layout invariant: the first
// record's dataStart is 8 + 80 * N, each further one starts right after the
// previous one's dataEnd, and the last entry's data end the file. Offsets are
// signed 32-bit, so an archive holds at most 2,147,483,647 bytes.
//
// A reader checks the magic, the count against the file's size, and that each
// record can be read whole and has a NUL-terminated name; offsets are trusted
// only as far as the file backs them when an entry is read.
#ifndef RXMFILES_MULTIFILE_ARCHIVEFORMAT_H
#define RXMFILES_MULTIFILE_ARCHIVEFORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "files/Status.h"
#include "framework/Export.h"
#include "multifile/DirectoryRecord.h"

namespace RXM {
namespace multifile {

constexpr std::uint8_t kMagic[4] = {'K', 'Y', 'M', 'F'};
constexpr std::int64_t kHeaderSize = 8;
constexpr std::int64_t kRecordSize = 80;
// The longest name a record can hold: its NUL takes the 70th byte.
constexpr std::size_t kLongestName = kNameSize - 1;
constexpr std::int64_t kLargestArchive = INT32_MAX;

// Where the data of an archive of `count` records begin: right after the
// header and the directory.
constexpr std::int64_t DirectoryEnd(std::int64_t count) {
  return kHeaderSize + kRecordSize * count;
}

// A signed 32-bit little-endian field (entryCount, dataStart, dataEnd).
RXMFILES_API std::int32_t DecodeInt32(const std::uint8_t* bytes);
RXMFILES_API void EncodeInt32(std::int32_t value, std::uint8_t* bytes);

// The record in its file form, and back. Decoding refuses (false) a record
// whose name has no NUL within its 70 bytes.
RXMFILES_API bool DecodeRecord(const std::uint8_t* bytes, DirectoryRecord& record);
RXMFILES_API void EncodeRecord(const DirectoryRecord& record, std::uint8_t* bytes);

// The entry's size: dataEnd - dataStart + 1, and 0 for a record whose
// dataEnd lies further below its dataStart (which no writer produces).
RXMFILES_API std::uint32_t EntrySize(const DirectoryRecord& record);

// Whether every byte of the entry lies inside a file of `fileSize` bytes
// (an entry of size 0 needs only a start no further than the file's end).
RXMFILES_API bool FileBacksEntry(const DirectoryRecord& record, std::int64_t fileSize);

// A record as the library writes it for a new entry: `name` (at most
// kLongestName bytes are taken) followed by zero bytes, zero padding, and
// offsets 0 until the entry is placed.
RXMFILES_API DirectoryRecord NewRecord(const char* name);

// The ASCII case fold of names: A-Z to a-z, every other byte as it is.
inline unsigned char FoldByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// `name` folded whole: the key under which names compare equal.
RXMFILES_API std::string FoldName(const char* name);

// Whether the `length` bytes at `name` may be stored as an entry's name: no
// longer than a record holds (kNameTooLong), and a safe name (kNameRefused,
// with its fault; SafeName.h), so that extraction writes the entry under its
// own name. The length is looked at first: a name too long is always
// kNameTooLong. Ok, or the failure as "<subject>: <reason>", e.g.
// "a.kymf: ../x: name refused: has a \"..\" component".
RXMFILES_API Status CheckEntryName(const char* name, std::size_t length,
                                   const std::string& subject);

// Whether `requested` names the record: equal under the fold, compared whole.
// Reads at most the record's 70 bytes.
RXMFILES_API bool NameMatches(const char* requested, const DirectoryRecord& record);
// The same for a name held as text: false for one of more than kLongestName
// bytes, which no record can hold.
bool NameIs(const char* requested, const char* name);

}  // namespace multifile
}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ARCHIVEFORMAT_H
