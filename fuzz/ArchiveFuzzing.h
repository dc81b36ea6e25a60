// What the archive fuzz targets share (ArchiveFuzzer.cpp reads archives,
// ArchiveWriteFuzzer.cpp writes them): the names of the files in memory, the
// way a failed check stops the run, and the answers every check is held
// against (the record a lookup finds, the bytes that back an entry).
#ifndef RXMFILES_FUZZ_ARCHIVEFUZZING_H
#define RXMFILES_FUZZ_ARCHIVEFUZZING_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "FuzzSupport.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ArchiveLayout.h"

namespace archive_fuzzing {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kFolder = "/fuzz";
constexpr const char* kArchive = "/fuzz/archive.kymf";
// Only the first records of a directory are checked one by one, so that an
// archive of many records costs a run no more than one of a few.
constexpr int kMostEntries = 64;

// Bytes owned by someone else (the fuzzer's input, a file in memory).
struct View {
  const std::uint8_t* data;
  std::size_t size;
  std::int64_t FileSize() const { return static_cast<std::int64_t>(size); }
};
inline View ViewOf(const Bytes& bytes) {
  return View{bytes.data(), bytes.size()};
}
inline bool operator==(const View& a, const View& b) {
  return a.size == b.size && std::equal(a.data, a.data + a.size, b.data);
}

inline void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "archive fuzzer: %s\n", what);
    std::abort();
  }
}

// How many of the archive's records are checked one by one.
inline int Checked(const MultiFile& archive) {
  return std::min(archive.GetDirectory().GetCount(), kMostEntries);
}

// The record that a lookup of `name` finds: the last one of that name.
inline const DirectoryRecord* Found(const MultiFile& archive, const char* name) {
  const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
  for (int i = directory.GetCount() - 1; i >= 0; --i) {
    if (RXM::multifile::NameMatches(name, *directory.Peek(i))) {
      return directory.Peek(i);
    }
  }
  return nullptr;
}

// The entry's bytes in `file`, which backs it.
inline View DataOf(View file, const DirectoryRecord& record) {
  return View{file.data + record.dataStart, RXM::multifile::EntrySize(record)};
}

// The `size` bytes read from `file` at its position; none when it gives fewer.
// A buffer of exactly that size, so that a read past it is an overflow.
inline Bytes ReadWhole(KYFile& file, std::uint32_t size) {
  Bytes bytes(size);
  if (size > 0 && file.ReadData(bytes.data(), size, 1) != 1) {
    bytes.clear();
  }
  return bytes;
}

// Whether `file` reads `expected` whole from its position.
inline bool Reads(KYFile& file, View expected) {
  return ViewOf(ReadWhole(file, static_cast<std::uint32_t>(expected.size))) == expected;
}

// The library's messages go nowhere: a fuzzer makes millions of them.
inline void Quiet() {
  RXM::SetDebugger(CTPointer<Debugger>(new NullDebugger()));
}

}  // namespace archive_fuzzing

#endif  // RXMFILES_FUZZ_ARCHIVEFUZZING_H
