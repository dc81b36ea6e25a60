// The archive of the load benchmarks: 10^6 entries of one byte each, named
// "dir<k>/entry<i>.dat", written a record at a time so that writing it raises
// a process's peak memory by no more than the stream's buffer.
#ifndef RXMFILES_BENCH_LARGEARCHIVE_H
#define RXMFILES_BENCH_LARGEARCHIVE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <RXMFiles.h>
#include "multifile/ArchiveFormat.h"

namespace bench {

constexpr std::int32_t kLargeArchiveEntries = 1000000;
// The bytes of its records: what one fread reads and an open is measured by.
constexpr std::size_t kLargeArchiveRecordBytes =
    static_cast<std::size_t>(RXM::multifile::kRecordSize) * kLargeArchiveEntries;

inline std::string LargeArchiveEntryName(std::int32_t i) {
  return "dir" + std::to_string(i % 1000) + "/entry" + std::to_string(i) + ".dat";
}

// Writes the archive to `path`; false when it cannot be written whole.
inline bool WriteLargeArchive(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  std::uint8_t bytes[80];
  std::fwrite("KYMF", 1, 4, file);
  RXM::multifile::EncodeInt32(kLargeArchiveEntries, bytes);
  std::fwrite(bytes, 1, 4, file);
  const std::int64_t dataStart = RXM::multifile::DirectoryEnd(kLargeArchiveEntries);
  for (std::int32_t i = 0; i < kLargeArchiveEntries; ++i) {
    DirectoryRecord record = RXM::multifile::NewRecord(LargeArchiveEntryName(i).c_str());
    record.dataStart = static_cast<std::int32_t>(dataStart + i);
    record.dataEnd = record.dataStart;
    RXM::multifile::EncodeRecord(record, bytes);
    std::fwrite(bytes, 1, 80, file);
  }
  for (std::int32_t i = 0; i < kLargeArchiveEntries; ++i) {
    std::fputc('x', file);
  }
  return std::ferror(file) == 0 && std::fclose(file) == 0;
}

// Reads the archive's records, all of them, into `records` with one fread:
// the read an open is measured against. False when they cannot be read whole.
inline bool ReadLargeArchiveRecords(const std::string& path, void* records) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return false;
  }
  const bool read =
      std::fseek(file, RXM::multifile::kHeaderSize, SEEK_SET) == 0 &&
      std::fread(records, 1, kLargeArchiveRecordBytes, file) == kLargeArchiveRecordBytes;
  std::fclose(file);
  return read;
}

// Opens eight entries of the open `archive` by name, one after another. An
// archive's first lookup scans its directory and its second builds the name
// index, so eight lookups pay what a program that opens many entries pays
// once. False when an entry cannot be opened.
inline bool LookUpLargeArchiveEntries(MultiFile& archive) {
  for (std::int32_t i = 0; i < 8; ++i) {
    const String name(LargeArchiveEntryName(i * 99991 % kLargeArchiveEntries).c_str());
    if (!archive.OpenFile(name, "rb")) {
      return false;
    }
  }
  return true;
}

}  // namespace bench

#endif  // RXMFILES_BENCH_LARGEARCHIVE_H
