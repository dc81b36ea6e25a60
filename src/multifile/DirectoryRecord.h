// One directory record of a "KYMF" archive as the library holds it in memory
// (the file form: docs/format.md).
#ifndef RXMFILES_MULTIFILE_DIRECTORYRECORD_H
#define RXMFILES_MULTIFILE_DIRECTORYRECORD_H

#include <cstddef>
#include <cstdint>

namespace RXM {
namespace multifile {

/// The bytes of a record's name field: at most 69 characters and their NUL.
constexpr std::size_t kNameSize = 70;

}  // namespace multifile
}  // namespace RXM

/// The 80 bytes of a directory record, as the library holds them in memory.
struct DirectoryRecord {
  /// The entry's name: 8-bit characters ended by a NUL.
  char name[RXM::multifile::kNameSize];
  /// No meaning; zero in records the library writes.
  char padding[2];
  /// Offset in the archive of the entry's first data byte.
  std::int32_t dataStart;
  /// Offset in the archive of the entry's last data byte, inclusive
  /// (dataStart - 1 for an empty entry).
  std::int32_t dataEnd;
};

static_assert(sizeof(DirectoryRecord) == 80, "a directory record is 80 bytes");
static_assert(offsetof(DirectoryRecord, name) == 0, "name is at 0");
static_assert(offsetof(DirectoryRecord, padding) == 70, "padding is at 70");
static_assert(offsetof(DirectoryRecord, dataStart) == 72, "dataStart is at 72");
static_assert(offsetof(DirectoryRecord, dataEnd) == 76, "dataEnd is at 76");

#endif  // RXMFILES_MULTIFILE_DIRECTORYRECORD_H
