#include "files/EntryStream.h"

#include <cstring>
#include <string>
#include <utility>

#include "framework/Exception.h"

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

EntryStream::EntryStream(std::shared_ptr<const ByteSource> from, std::int64_t at,
                         std::uint32_t length, std::shared_ptr<const std::string> archive,
                         std::string entry, NameRule rule)
    : source(std::move(from)),
      start(at),
      size(length),
      origin(std::move(archive)),
      name(std::move(entry)),
      sameName(rule) {
  stream.Open(source.get(), start, size);
}

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
  if (!sameName(requested.GetText(), name.c_str())) {
    return false;
  }
  stream.Open(source.get(), start, size);
  return true;
}

bool EntryStream::CloseFile() {
  return stream.Close();
}

bool EntryStream::IsFileOpened() {
  return stream.IsOpen();
}

unsigned int EntryStream::ReadData(void* buffer, unsigned int itemSize, unsigned int count) {
  // An entry read in pieces from its start: a remote source fetches it
  // together (up to its read-ahead) rather than a piece per round trip.
  if (stream.IsOpen() && stream.Position() == 0 && start >= 0 &&
      static_cast<std::uint64_t>(itemSize) * count < stream.Size()) {
    source->Prefetch(static_cast<std::uint64_t>(start), stream.Size());
  }
  return stream.Read(buffer, itemSize, count);
}

std::uint32_t EntryStream::ReadAt(void* buffer, std::uint32_t wanted, std::uint32_t offset) const {
  if (start < 0 || offset >= size) {
    return 0;
  }
  const std::uint32_t inside = wanted < size - offset ? wanted : size - offset;
  return static_cast<std::uint32_t>(
      source->ReadAt(buffer, inside, static_cast<std::uint64_t>(start) + offset));
}

std::intptr_t EntryStream::FileHandle(std::uint64_t* first) const {
  *first = static_cast<std::uint64_t>(start);
  return start < 0 ? -1 : source->FileHandle();
}

std::intptr_t EntryFileHandle(KYFile& file, std::uint64_t* first) {
  const auto* entry = dynamic_cast<const EntryStream*>(&file);
  return entry == nullptr ? -1 : entry->FileHandle(first);
}

bool ReadEntryAt(KYFile& file, void* buffer, std::uint32_t size, std::uint32_t offset,
                 std::uint32_t* got) {
  const auto* entry = dynamic_cast<const EntryStream*>(&file);
  if (entry == nullptr) {
    return false;
  }
  *got = entry->ReadAt(buffer, size, offset);
  return true;
}

unsigned int EntryStream::WriteData(const void*, unsigned int, unsigned int) {
  if (!stream.IsOpen()) {
    return 0;
  }
  RefuseWriting(origin ? origin->c_str() : "");
}

unsigned int EntryStream::GetFileSize() {
  return stream.Size();
}

bool EntryStream::EndOfFile() {
  return stream.AtEnd();
}

bool EntryStream::Seek(long offset, int from) {
  return stream.Seek(offset, from);
}

long EntryStream::GetPosition() {
  return stream.Position();
}

Status EntryStream::GetStatus() const {
  if (!stream.Ended()) {
    return Status::Ok();
  }
  return Status(ErrorCode::kTruncated, (origin ? *origin : std::string()) + ": " + name +
                                           ": ends at byte " + std::to_string(stream.Position()) +
                                           " of " + std::to_string(size));
}

}  // namespace RXM
