// The open entry: MultiFile as a read-only KYFile over one entry at a time,
// fetched straight from the archive's file at the offsets of its record.
#include <cstdint>
#include <string>

#include "framework/Exception.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ArchiveStatus.h"
#include "multifile/ElementSeek.h"
#include "multifile/EntryStream.h"
#include "multifile/MultiFile.h"

namespace {

using RXM::ErrorCode;
using RXM::kymf::EntrySize;
using RXM::kymf::Failure;

}  // namespace

bool MultiFile::ArchiveReadable() {
  return !archiveFile.IsNull() && archiveFile->IsFileOpened();
}

bool MultiFile::OpenFile(String name, String mode) {
  CloseFile();
  if (archiveFile.IsNull()) {
    status = Failure(ErrorCode::kNotOpen, archiveName.GetText());
    return false;
  }
  if (RXM::EntryStream::IsWritingMode(mode.GetText())) {
    RXM::EntryStream::RefuseOpeningForWriting(archiveName.GetText());
  }
  const int found = Lookup(name.GetText());
  if (found < 0) {
    status = Failure(ErrorCode::kNoSuchEntry,
                     std::string(archiveName.GetText()) + ": " + name.GetText());
    return false;
  }
  if (!OpenElement(directory.GetAt(found))) {
    status = Failure(ErrorCode::kReadFailed, EntrySubject(*directory.Peek(found)),
                     "cannot be reached in the archive's file");
    return false;
  }
  status = RXM::Status::Ok();
  return true;
}

bool MultiFile::OpenElement(const Pointer<MultiFileElement>& element) {
  if (element.IsNull() || !ArchiveReadable() || !archiveFile->Seek(element->dataStart, 0)) {
    return false;
  }
  currentElement = element;
  position = 0;
  return true;
}

bool MultiFile::CloseFile() {
  if (currentElement.IsNull()) {
    return false;
  }
  currentElement = nullptr;
  return true;
}

bool MultiFile::IsFileOpened() {
  return !currentElement.IsNull();
}

// Reads straight from the archive's file into the caller's buffer: the
// archive's file stands at dataStart + position whenever an entry is open.
unsigned int MultiFile::ReadData(void* buffer, unsigned int size, unsigned int count) {
  if (currentElement.IsNull() || size == 0 || !ArchiveReadable()) {
    return 0;
  }
  const std::uint32_t fit =
      (EntrySize(*currentElement) - static_cast<std::uint32_t>(position)) / size;
  const std::uint32_t wanted = count < fit ? count : fit;
  const unsigned int read = archiveFile->ReadData(buffer, size, wanted);
  position += static_cast<std::int32_t>(read * size);
  return read;
}

unsigned int MultiFile::WriteData(const void*, unsigned int, unsigned int) {
  if (currentElement.IsNull()) {
    return 0;
  }
  RXM::EntryStream::RefuseWriting(archiveName.GetText());
}

unsigned int MultiFile::GetFileSize() {
  return currentElement.IsNull() ? 0 : EntrySize(*currentElement);
}

bool MultiFile::EndOfFile() {
  return currentElement.IsNull() ||
         static_cast<std::uint32_t>(position) >= EntrySize(*currentElement);
}

// A target outside the entry is clamped to its start or end, with exactly one
// move of the archive's file (see ElementSeek).
bool MultiFile::Seek(long offset, int origin) {
  if (currentElement.IsNull() || !ArchiveReadable()) {
    return false;
  }
  const RXM::kymf::SeekMove move = RXM::kymf::PlanSeek(offset, origin, EntrySize(*currentElement),
                                                       position, currentElement->dataStart);
  if (!move.valid || !archiveFile->Seek(move.offset, move.origin)) {
    return false;
  }
  position = move.position;
  return true;
}

long MultiFile::GetPosition() {
  return position;
}
