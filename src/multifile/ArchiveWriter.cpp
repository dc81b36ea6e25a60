#include "multifile/ArchiveWriter.h"

namespace RXM {
namespace multifile {

ArchiveWriter::ArchiveWriter(const std::string& target, ReplacementFile::Naming naming,
                             sys::System& system)
    : file(target, naming, system) {}

ArchiveWriter::ArchiveWriter(std::FILE* out, sys::System& system) : file(out, system) {}

ArchiveWriter::Outcome ArchiveWriter::Write(const std::vector<Planned>& plan) {
  if (!Begin(static_cast<std::int32_t>(plan.size()))) {
    return Outcome::kNotCreated;
  }
  for (const Planned& entry : plan) {
    if (!AddRecord(entry.record, entry.size)) {
      return Outcome::kWriteFailed;
    }
  }
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (failed) {
      return Outcome::kWriteFailed;
    }
    if (!plan[i].source->Append(i, plan[i].size, *this)) {
      return failed ? Outcome::kWriteFailed : Outcome::kSourceFailed;
    }
  }
  return Finish() ? Outcome::kWritten : Outcome::kWriteFailed;
}

bool ArchiveWriter::Begin(std::int32_t count) {
  if (!file.Open()) {
    return false;
  }
  expected = count;
  records = 0;
  placed = DirectoryEnd(count);
  written = placed;
  dataStart = placed;
  std::uint8_t bytes[4];
  EncodeInt32(count, bytes);
  failed = !file.Write(kMagic, 4) || !file.Write(bytes, 4);
  return true;
}

bool ArchiveWriter::AddRecord(const DirectoryRecord& given, std::uint32_t size) {
  DirectoryRecord record = given;
  record.dataStart = static_cast<std::int32_t>(placed);
  record.dataEnd = static_cast<std::int32_t>(placed + size - 1);
  placed += size;
  ++records;
  std::uint8_t bytes[kRecordSize];
  EncodeRecord(record, bytes);
  failed = failed || records > expected || !file.Write(bytes, sizeof bytes);
  return !failed;
}

bool ArchiveWriter::WriteData(const void* data, std::uint32_t size) {
  written += size;
  failed = failed || written > placed || !file.Write(data, size);
  Appended();
  return !failed;
}

bool ArchiveWriter::CopyData(KYFile& from, std::uint32_t size, std::vector<std::uint8_t>& chunk) {
  while (size > 0 && !failed) {
    const std::uint32_t part =
        size < chunk.size() ? size : static_cast<std::uint32_t>(chunk.size());
    if (from.ReadData(chunk.data(), part, 1) != 1) {
      return false;
    }
    WriteData(chunk.data(), part);
    size -= part;
  }
  return !failed;
}

bool ArchiveWriter::CopyRange(sys::Handle from, std::uint64_t offset, std::uint32_t size) {
  written += size;
  failed = failed || written > placed || !file.Copy(from, offset, size);
  Appended();
  return !failed;
}

void ArchiveWriter::Appended() const {
  if (onData && !failed) {
    onData(static_cast<std::uint64_t>(written - dataStart));
  }
}

bool ArchiveWriter::Finish() {
  const bool complete = !failed && records == expected && written == placed;
  return file.Finish() && complete;
}

bool ArchiveWriter::Replace(bool existing) {
  return file.Replace(existing);
}

void ArchiveWriter::Discard() {
  file.Discard();
}

bool ArchiveWriter::Fits(std::int64_t count, std::int64_t dataBytes) {
  return count >= 0 && DirectoryEnd(count) + dataBytes <= kLargestArchive;
}

}  // namespace multifile
}  // namespace RXM
