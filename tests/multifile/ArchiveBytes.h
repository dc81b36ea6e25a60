// Archives for tests, made byte by byte, with the rest of the test support.
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

inline Bytes Int32(std::int32_t value) {
  return LittleEndian(static_cast<std::uint32_t>(value));
}

// One 80-byte record: the name zero-padded, padding zero, the two offsets.
inline Bytes Record(const std::string& name, std::int32_t dataStart, std::int32_t dataEnd) {
  Bytes record = With(Bytes(80, 0), 0, BytesOf(name.substr(0, 70)));
  Put(record, 72, Int32(dataStart));
  Put(record, 76, Int32(dataEnd));
  return record;
}

inline Bytes Header(std::int32_t count) {
  return With({'K', 'Y', 'M', 'F'}, 4, Int32(count));
}

// An archive with records given as (name, dataStart, dataEnd) and `data`
// after the directory.
using Records = std::vector<std::tuple<std::string, std::int32_t, std::int32_t>>;
inline Bytes Raw(const Records& records, const std::string& data) {
  Bytes bytes = Header(static_cast<std::int32_t>(records.size()));
  for (const auto& [name, start, end] : records) {
    Put(bytes, bytes.size(), Record(name, start, end));
  }
  return With(bytes, bytes.size(), BytesOf(data));
}

// `bytes` written to `name` in `dir`; the file's path.
inline std::string Written(const TempDir& dir, const std::string& name, const Bytes& bytes) {
  WriteAll(dir.Path(name), bytes);
  return dir.Path(name);
}

// A well-formed archive: header, records, data back to back.
inline Bytes Archive(const std::vector<Entry>& entries) {
  Records records;
  std::string data;
  for (const Entry& entry : entries) {
    const auto start = static_cast<std::int32_t>(8 + 80 * entries.size() + data.size());
    records.emplace_back(entry.name, start,
                         start + static_cast<std::int32_t>(entry.data.size()) - 1);
    data += entry.data;
  }
  return Raw(records, data);
}

}  // namespace testing_support

#endif  // RXMFILES_TESTS_MULTIFILE_ARCHIVEBYTES_H
