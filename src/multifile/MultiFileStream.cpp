// The open entry: MultiFile as a read-only KYFile over one entry at a time, a
// front of the BoundedStream over the archive's file (kElementPolicy).
#include <cstdint>
#include <string>

#include "files/BoundedStream.h"
#include "files/EntryStream.h"
#include "files/Failure.h"
#include "multifile/ArchiveCore.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/MultiFile.h"

namespace {

using RXM::ErrorCode;
using RXM::multifile::EntrySize;

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
  const int found = core ? core->Lookup(name.GetText()) : -1;
  if (found < 0) {
    status = Failure(ErrorCode::kNoSuchEntry,
                     std::string(archiveName.GetText()) + ": " + name.GetText());
    return false;
  }
  MultiFileElement* element = core->Directory().Peek(found);
  if (!OpenElement(element)) {
    status = Failure(ErrorCode::kReadFailed, core->Subject(*element),
                     "cannot be reached in the archive's file");
    return false;
  }
  status = RXM::Status::Ok();
  return true;
}

// The stream's invariant starts here: the archive's file stands at dataStart
// + position whenever an entry is open, so reads never seek.
// Takes the element by its plain pointer: the one reference taken is the
// open entry's own.
bool MultiFile::OpenElement(MultiFileElement* element) {
  if (element == nullptr || !ArchiveReadable() || !archiveFile->Seek(element->dataStart, 0)) {
    return false;
  }
  currentElement = element;
  stream->Open(entryBytes.get(), element->dataStart, EntrySize(*element));
  return true;
}

bool MultiFile::CloseFile() {
  if (currentElement.IsNull()) {
    return false;
  }
  currentElement = nullptr;
  stream->Close();
  return true;
}

bool MultiFile::IsFileOpened() {
  return !currentElement.IsNull();
}

unsigned int MultiFile::ReadData(void* buffer, unsigned int size, unsigned int count) {
  return stream->Read(buffer, size, count);
}

unsigned int MultiFile::WriteData(const void*, unsigned int, unsigned int) {
  if (currentElement.IsNull()) {
    return 0;
  }
  RXM::EntryStream::RefuseWriting(archiveName.GetText());
}

unsigned int MultiFile::GetFileSize() {
  return stream->Size();
}

bool MultiFile::EndOfFile() {
  return stream->AtEnd();
}

bool MultiFile::Seek(long offset, int origin) {
  return stream->Seek(offset, origin);
}

long MultiFile::GetPosition() {
  return stream->Position();
}
