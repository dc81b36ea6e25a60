// Archives for tests, made byte by byte.
#ifndef RXMFILES_TESTS_MULTIFILE_ARCHIVEBYTES_H
#define RXMFILES_TESTS_MULTIFILE_ARCHIVEBYTES_H

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "TestSupport.h"

namespace testing_support {

struct Entry {
  std::string name;
  std::string data;
};

inline void Append(Bytes& bytes, const Bytes& more) {
  bytes.insert(bytes.end(), more.begin(), more.end());
}

inline Bytes Int32(std::int32_t value) {
  return LittleEndian(static_cast<std::uint32_t>(value));
}

// One 80-byte record: the name zero-padded, padding zero, the two offsets.
inline Bytes Record(const std::string& name, std::int32_t dataStart, std::int32_t dataEnd) {
  Bytes record(80, 0);
  for (std::size_t i = 0; i < name.size() && i < 70; ++i) {
    record[i] = static_cast<std::uint8_t>(name[i]);
  }
  Put(record, 72, Int32(dataStart));
  Put(record, 76, Int32(dataEnd));
  return record;
}

inline Bytes Header(std::int32_t count) {
  return With({'K', 'Y', 'M', 'F'}, 4, Int32(count));
}

// An archive with records given as (name, dataStart, dataEnd) and `data`
// after the directory.
inline Bytes Raw(const std::vector<std::tuple<std::string, std::int32_t, std::int32_t>>& records,
                 const std::string& data) {
  Bytes bytes = Header(static_cast<std::int32_t>(records.size()));
  for (const auto& [name, start, end] : records) {
    Append(bytes, Record(name, start, end));
  }
  Append(bytes, BytesOf(data));
  return bytes;
}

// `bytes` written to `name` in `dir`; the file's path.
inline std::string Written(const TempDir& dir, const std::string& name, const Bytes& bytes) {
  WriteAll(dir.Path(name), bytes);
  return dir.Path(name);
}

// A well-formed archive: header, records, data back to back.
inline Bytes Archive(const std::vector<Entry>& entries) {
  Bytes bytes = Header(static_cast<std::int32_t>(entries.size()));
  std::int32_t start = 8 + 80 * static_cast<std::int32_t>(entries.size());
  for (const Entry& entry : entries) {
    const auto size = static_cast<std::int32_t>(entry.data.size());
    Append(bytes, Record(entry.name, start, start + size - 1));
    start += size;
  }
  for (const Entry& entry : entries) {
    Append(bytes, BytesOf(entry.data));
  }
  return bytes;
}

}  // namespace testing_support

#endif  // RXMFILES_TESTS_MULTIFILE_ARCHIVEBYTES_H
