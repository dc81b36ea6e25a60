#include "multifile/EntryStream.h"

#include <cstring>
#include <utility>

#include "framework/Exception.h"
#include "multifile/ArchiveFormat.h"

namespace RXM {

void EntryStream::RefuseOpeningForWriting(const char* archive) {
  throw new Exception(  // NOLINT
      "ERROR:\n\nA file element from a multi-file was opened for writing! This is not allowed by "
      "the RXM framework.\n\nMulti-File filename: %s",
      archive);
}

void EntryStream::RefuseWriting(const char* archive) {
  throw new Exception(  // NOLINT
      "ERROR:\n\nAttempted to write into a file element from a multi-file! This is not allowed by "
      "the RXM framework.\n\nMulti-File filename: %s",
      archive);
}

bool EntryStream::IsWritingMode(const char* mode) {
  static const char* const kWritingModes[] = {"w", "a", "at", "ab", "wt", "r+t", "wb", "r+b"};
  for (const char* writing : kWritingModes) {
    if (std::strcmp(mode, writing) == 0) {
      return true;
    }
  }
  return false;
}

EntryStream::EntryStream(std::shared_ptr<const PositionalReader> file, std::int64_t at,
                         std::uint32_t length, std::shared_ptr<const std::string> archive,
                         std::string entry)
    : keeper(file),
      handle(file.get()),
      start(at),
      size(length),
      origin(std::move(archive)),
      name(std::move(entry)) {}

EntryStream::EntryStream(std::shared_ptr<const void> owner, const std::uint8_t* memory,
                         std::uint32_t length, std::shared_ptr<const std::string> archive,
                         std::string entry)
    : keeper(std::move(owner)),
      bytes(memory),
      size(length),
      origin(std::move(archive)),
      name(std::move(entry)) {}

void* EntryStream::FindInterface(const char* interfaceName) const {
  if (interfaceName != nullptr && std::strcmp(interfaceName, "KYFile") == 0) {
    return static_cast<KYFile*>(const_cast<EntryStream*>(this));
  }
  return nullptr;
}

bool EntryStream::OpenFile(String requested, String mode) {
  CloseFile();
  if (IsWritingMode(mode.GetText())) {
    RefuseOpeningForWriting(origin ? origin->c_str() : "");
  }
  DirectoryRecord record = {};
  if (name.size() > kymf::kLongestName) {
    return false;
  }
  std::memcpy(record.name, name.c_str(), name.size());
  if (!kymf::NameMatches(requested.GetText(), record)) {
    return false;
  }
  open = true;
  position = 0;
  return true;
}

bool EntryStream::CloseFile() {
  const bool wasOpen = open;
  open = false;
  return wasOpen;
}

bool EntryStream::IsFileOpened() {
  return open;
}

std::uint32_t EntryStream::Fetch(void* buffer, std::uint32_t wanted, std::uint32_t offset) const {
  if (bytes != nullptr) {
    std::memcpy(buffer, bytes + offset, wanted);
    return wanted;
  }
  if (start < 0) {
    return 0;
  }
  if (offset == 0 && wanted < size) {
    handle->Prefetch(static_cast<std::uint64_t>(start), size);  // read in pieces from the start
  }
  return static_cast<std::uint32_t>(
      handle->ReadAt(buffer, wanted, static_cast<std::uint64_t>(start) + offset));
}

unsigned int EntryStream::ReadData(void* buffer, unsigned int itemSize, unsigned int count) {
  if (!open || itemSize == 0) {
    return 0;
  }
  const std::uint32_t fit = (size - static_cast<std::uint32_t>(position)) / itemSize;
  const std::uint32_t wanted = count < fit ? count : fit;
  const std::uint32_t got =
      Fetch(buffer, wanted * itemSize, static_cast<std::uint32_t>(position)) / itemSize;
  position += static_cast<std::int32_t>(got * itemSize);
  return got;
}

unsigned int EntryStream::WriteData(const void*, unsigned int, unsigned int) {
  if (!open) {
    return 0;
  }
  RefuseWriting(origin ? origin->c_str() : "");
}

unsigned int EntryStream::GetFileSize() {
  return open ? size : 0;
}

bool EntryStream::EndOfFile() {
  return !open || static_cast<std::uint32_t>(position) >= size;
}

bool EntryStream::Seek(long offset, int from) {
  if (!open) {
    return false;
  }
  const std::int64_t end = size;
  std::int64_t target = offset;
  switch (from) {
    case 0:
      break;
    case 1:
      target += position;
      break;
    case 2:
      target += end;
      break;
    default:
      return false;
  }
  target = target < 0 ? 0 : (target > end ? end : target);
  position = static_cast<std::int32_t>(target);
  return true;
}

long EntryStream::GetPosition() {
  return position;
}

}  // namespace RXM
