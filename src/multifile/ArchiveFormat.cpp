#include "multifile/ArchiveFormat.h"

#include <cstring>

#include "files/LittleEndian.h"
#include "files/SafeName.h"

namespace RXM {
namespace multifile {

std::int32_t DecodeInt32(const std::uint8_t* bytes) {
  return static_cast<std::int32_t>(LittleEndian::Decode32(bytes));
}

void EncodeInt32(std::int32_t value, std::uint8_t* bytes) {
  LittleEndian::Encode32(static_cast<std::uint32_t>(value), bytes);
}

bool DecodeRecord(const std::uint8_t* bytes, DirectoryRecord& record) {
  if (std::memchr(bytes, 0, kNameSize) == nullptr) {
    return false;
  }
  std::memcpy(record.name, bytes, kNameSize);
  std::memcpy(record.padding, bytes + 70, 2);
  record.dataStart = DecodeInt32(bytes + 72);
  record.dataEnd = DecodeInt32(bytes + 76);
  return true;
}

void EncodeRecord(const DirectoryRecord& record, std::uint8_t* bytes) {
  std::memcpy(bytes, record.name, kNameSize);
  std::memcpy(bytes + 70, record.padding, 2);
  EncodeInt32(record.dataStart, bytes + 72);
  EncodeInt32(record.dataEnd, bytes + 76);
}

std::uint32_t EntrySize(const DirectoryRecord& record) {
  const std::int64_t size = static_cast<std::int64_t>(record.dataEnd) - record.dataStart + 1;
  if (size <= 0) {
    return 0;
  }
  return size > kLargestArchive ? static_cast<std::uint32_t>(kLargestArchive)
                                : static_cast<std::uint32_t>(size);
}

bool FileBacksEntry(const DirectoryRecord& record, std::int64_t fileSize) {
  return record.dataStart >= 0 &&
         record.dataStart + static_cast<std::int64_t>(EntrySize(record)) <= fileSize;
}

DirectoryRecord NewRecord(const char* name) {
  DirectoryRecord record;
  std::memset(&record, 0, sizeof record);
  std::size_t length = 0;
  while (length < kLongestName && name[length] != '\0') {
    ++length;
  }
  std::memcpy(record.name, name, length);
  return record;
}

std::string FoldName(const char* name) {
  std::string folded(name);
  for (char& c : folded) {
    c = static_cast<char>(FoldByte(static_cast<unsigned char>(c)));
  }
  return folded;
}

Status CheckEntryName(const char* name, std::size_t length, const std::string& subject) {
  if (length > kLongestName) {
    return Status(ErrorCode::kNameTooLong, subject + ": " + Describe(ErrorCode::kNameTooLong));
  }
  const NameFault fault = CheckSafeName(name, length);
  if (fault != NameFault::kNone) {
    return Status(ErrorCode::kNameRefused, subject + ": " + Describe(ErrorCode::kNameRefused) +
                                               ": " + DescribeNameFault(fault));
  }
  return Status::Ok();
}

// A stored name ends within its 70 bytes; a longer one never matches.
bool NameIs(const char* requested, const char* name) {
  for (std::size_t i = 0; i < kNameSize; ++i) {
    const auto a = static_cast<unsigned char>(requested[i]);
    const auto b = static_cast<unsigned char>(name[i]);
    if (FoldByte(a) != FoldByte(b)) {
      return false;
    }
    if (a == 0) {
      return true;
    }
  }
  return false;
}

bool NameMatches(const char* requested, const DirectoryRecord& record) {
  return NameIs(requested, record.name);
}

}  // namespace multifile
}  // namespace RXM
