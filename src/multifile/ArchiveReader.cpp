#include "multifile/ArchiveReader.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "backends/DiskFile.h"
#include "backends/System.h"
#include "files/Failure.h"

namespace RXM {
namespace multifile {
namespace {

constexpr std::int32_t kSteadyBlockRecords = 4096;
constexpr std::int32_t kSmallDirectoryRecords = 64;

}  // namespace

ArchiveReader::ArchiveReader(KYFile& archive, std::string archiveName, std::int32_t recordsPerRead)
    : file(archive),
      name(std::move(archiveName)),
      perRead(recordsPerRead < 1 ? 1 : recordsPerRead) {}

Status ArchiveReader::ReadHeader(std::int32_t& count) {
  std::uint8_t header[4];
  if (file.ReadData(header, 4, 1) != 1 || std::memcmp(header, kMagic, 4) != 0) {
    return Failure(ErrorCode::kNotAnArchive, name);
  }
  if (file.ReadData(header, 4, 1) != 1) {
    return Failure(ErrorCode::kNotAnArchive, name);
  }
  count = DecodeInt32(header);
  // A negative count is refused before the file is asked its size.
  if (count < 0) {
    return Failure(ErrorCode::kCountBeyondFile, name,
                   "entry count " + std::to_string(count) + " is negative");
  }
  fileSize = file.GetFileSize();
  if (DirectoryEnd(count) > fileSize) {
    return Failure(ErrorCode::kCountBeyondFile, name,
                   "entry count " + std::to_string(count) + " needs " +
                       std::to_string(DirectoryEnd(count)) + " bytes, the file holds " +
                       std::to_string(fileSize));
  }
  left = count;
  number = 0;
  return Status::Ok();
}

Status ArchiveReader::ReadRecord(DirectoryRecord& record) {
  const auto where = [this](std::int32_t index) {
    return name + ": record " + std::to_string(index);
  };
  if (used == filled) {
    const std::int32_t wanted = left < perRead ? left : perRead;
    // A block of perRead records even when fewer are left (up to 320 KiB):
    // one size for every archive, above the allocator's mapping threshold, is
    // one that glibc learns to keep in its heap, so a program that opens
    // small archives in turn does not give the heap back to the system and
    // fault it in again at each open (glibc trimmed it at every open of
    // 1,000 entries when the block was 80 KB, and the open took twice as
    // long). A read of a whole remote directory is sized to what is left.
    // A directory of a few records (at most 5 KiB) is read whole into a
    // block of its own size: far below those thresholds, it is kept in the
    // heap's bins whatever its size, and a 320 KiB block would cost more
    // than the records it reads.
    const bool small = number == 0 && left <= kSmallDirectoryRecords;
    const std::int32_t room = small || perRead > kSteadyBlockRecords ? wanted : perRead;
    const std::size_t size = static_cast<std::size_t>(room) * kRecordSize;
    if (size > blockSize) {
      block.reset(new std::uint8_t[size]);
      blockSize = size;
    }
    const unsigned int got =
        wanted > 0 ? file.ReadData(block.get(), kRecordSize, static_cast<unsigned int>(wanted)) : 0;
    used = 0;
    filled = static_cast<std::size_t>(got) * kRecordSize;
    if (got == 0) {
      return Failure(ErrorCode::kShortRecord, where(number));
    }
  }
  const bool decoded = DecodeRecord(block.get() + used, record);
  used += kRecordSize;
  --left;
  ++number;
  if (!decoded) {
    return Failure(ErrorCode::kUnterminatedName, where(number - 1));
  }
  return Status::Ok();
}

Status ArchiveReader::WhyNotOpened(sys::System& system, const std::string& archiveName, int error) {
  sys::FileInfo info;
  if (system.inspect(archiveName.c_str(), &info) == 0 && info.kind == sys::FileKind::kOther) {
    return NotARegularFile(archiveName);
  }
  return OpenFailure(archiveName, sys::OpenError(system, archiveName.c_str(), error));
}

Status ArchiveReader::CheckOpenedFile(sys::System& system, KYFile& file,
                                      const std::string& archiveName) {
  auto* disk = dynamic_cast<DiskFile*>(&file);
  std::FILE* stream = disk == nullptr ? nullptr : disk->GetFilePointer();
  if (stream == nullptr) {
    return Status::Ok();
  }
  sys::FileInfo info;
  if (system.inspectHandle(system.handleOf(stream), &info) != 0) {
    return OpenFailure(archiveName, info.error != 0 ? info.error : EIO);
  }
  switch (info.kind) {
    case sys::FileKind::kFile:
      return Status::Ok();
    case sys::FileKind::kFolder:
      return OpenFailure(archiveName, EISDIR);
    case sys::FileKind::kMissing:
    case sys::FileKind::kOther:
      break;
  }
  return NotARegularFile(archiveName);
}

}  // namespace multifile
}  // namespace RXM
