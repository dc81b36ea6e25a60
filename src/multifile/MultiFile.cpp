#include "multifile/MultiFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "backends/DiskFile.h"
#include "backends/HttpFile.h"
#include "backends/SharedHandle.h"
#include "backends/System.h"
#include "files/BoundedStream.h"
#include "files/EntryStream.h"
#include "files/Failure.h"
#include "files/KYFileSource.h"
#include "files/MemorySource.h"
#include "files/Registration.h"
#include "files/Text.h"
#include "framework/Debugger.h"
#include "framework/Exception.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ArchiveLayout.h"
#include "multifile/ArchiveReader.h"
#include "multifile/ElementSlab.h"
#include "multifile/EntryLookup.h"
#include "multifile/MultiFileWriter.h"
#include "remote/Url.h"

namespace {

using RXM::ErrorCode;
using RXM::kymf::EntrySize;

// Records read per call when the archive's file is our own DiskFile: 320 KB.
constexpr std::int32_t kRecordsPerRead = 4096;
// Through an HttpFile every read that misses its cache is a request: the
// directory beyond the first block comes in one (up to 80 MiB of records).
constexpr std::int32_t kRecordsPerRemoteRead = 1 << 20;

constexpr const char* kUnableToOpen = "Unable to open multi-file: %s\n";
constexpr const char* kReadError = "Error while reading data from multifile.\n";
constexpr const char* kExtractNotOpened = "Unable to open file for writing: %s\n";
constexpr const char* kExtractTooLarge = "Not enough memory to extract %u bytes from multifile.\n";

}  // namespace

const RXM::StreamPolicy MultiFile::kElementPolicy = {
    RXM::ZeroSizeItems::kNoneRead, RXM::UnknownOrigin::kRefused, RXM::WhenClosed::kEmptyAndAtEnd,
    RXM::ShortRead::kCounted};

MultiFile::MultiFile() : stream(kElementPolicy), system(&RXM::sys::System::Default()) {}

MultiFile::MultiFile(const String& name)
    : stream(kElementPolicy), system(&RXM::sys::System::Default()) {
  OpenMultiFile(Pointer<KYFile>(), name);
}

MultiFile::MultiFile(RXM::sys::System& calls) : stream(kElementPolicy), system(&calls) {}

// Member by member: a copy shares the archive's file, directory and lookup,
// and keeps its own entry and position.
MultiFile::MultiFile(const MultiFile& other) = default;

MultiFile& MultiFile::operator=(const MultiFile& other) = default;

MultiFile::~MultiFile() {
  CloseMultiFile();
}

const RTTIClass* MultiFile::GetClass() const {
  return &rtti_for_MultiFile;
}

void* MultiFile::FindInterface(const char* name) const {
  return RXM::AnswerFileInterface(this, name, "MultiFile");
}

void* MultiFile::rtti_CreateMultiFile(const char* interfaceName) {
  return RXM::CreateRegistered<MultiFile>(interfaceName);
}

bool MultiFile::rtti_ImplementsInterfaceMultiFile(const char* interfaceName) {
  return RXM::ImplementsRegistered<MultiFile>(interfaceName);
}

// --- The archive ----------------------------------------------------------

// A commit of no entries: the 8-byte header, written by the one archive
// writer, which puts it in place of any file of that name in one step.
bool MultiFile::CreateEmptyMultiFile(const String& name) {
  return CreateEmptyMultiFile(name, RXM::sys::System::Default());
}

bool MultiFile::CreateEmptyMultiFile(const String& name, RXM::sys::System& calls) {
  MultiFileWriter writer(calls, name);
  return writer.Commit();
}

bool MultiFile::OpenMultiFile(Pointer<KYFile> file, const String& name) {
  CloseMultiFile();
  archiveFile = file.IsNull() ? Pointer<KYFile>(new DiskFile(*system)) : file;
  const auto* remote = static_cast<const HttpFile*>(archiveFile->FindInterface("HttpFile"));
  // A URL is named with its credentials hidden, in every message about it.
  archiveName = remote != nullptr ? String(RXM::RedactUrl(name.GetText()).c_str()) : name;
  if (!archiveFile->OpenFile(name, "rb")) {
    const int error = errno;
    status = remote != nullptr
                 ? remote->GetStatus()
                 : RXM::kymf::ArchiveReader::WhyNotOpened(*system, name.GetText(), error);
    archiveFile = nullptr;
    CTPointer<Debugger> debugger = RXM::GetDebugger();
    debugger->Print(kUnableToOpen, archiveName.GetText());
    return false;
  }
  status = RXM::kymf::ArchiveReader::CheckOpenedFile(*system, *archiveFile, archiveName.GetText());
  if (!status.IsOk()) {
    archiveFile = nullptr;
    return false;
  }
  // Our own file is read in large blocks; a caller's sees one call per record.
  status = LoadDirectory(file.IsNull()       ? kRecordsPerRead
                         : remote != nullptr ? kRecordsPerRemoteRead
                                             : 1);
  if (remote != nullptr && !remote->GetStatus().IsOk() && !status.IsOk()) {
    status = remote->GetStatus();  // the network's reason, not the short read it caused
  }
  if (!status.IsOk()) {
    // Released, not closed: a DiskFile made here closes with its last
    // reference, a caller's file stays open for the caller.
    archiveFile = nullptr;
    ForgetDirectory();
    if (status.GetCode() == ErrorCode::kNotAnArchive) {
      RXM::sys::FileInfo info;
      if (system->inspect(name.GetText(), &info) == 0 && info.kind == RXM::sys::FileKind::kFolder) {
        status = Failure(ErrorCode::kIsAFolder, name.GetText());
      }
    }
    return false;
  }
  archiveBytes = std::make_shared<const RXM::KYFileSource>(*archiveFile);
  if (remote == nullptr) {
    // The file whose directory was just read, never the name again: a file
    // put in its place meanwhile would give other bytes under these records.
    // Without a second handle (a caller's file of another kind, or a system
    // that refuses one), entries are copied through the archive's file
    // instead (CopyEntry).
    entryReader = RXM::SharedHandle::Adopt(DuplicateArchiveHandle(), *system);
  } else {
    entryReader = remote->GetReader();
  }
  if (entryReader) {
    entryReaderName = std::make_shared<const std::string>(archiveName.GetText());
  }
  return true;
}

// The header and the records are trusted only as far as the file backs them
// (see ArchiveReader): nothing is allocated for a count the file cannot hold,
// and every name in memory is a C string of at most 69 characters. Entries of
// an earlier archive that a failed close left behind are dropped before the
// new ones are read.
RXM::Status MultiFile::LoadDirectory(std::int32_t recordsPerRead) {
  RXM::kymf::ArchiveReader reader(*archiveFile, archiveName.GetText(), recordsPerRead);
  std::int32_t count = 0;
  RXM::Status header = reader.ReadHeader(count);
  if (!header.IsOk()) {
    return header;
  }
  ForgetDirectory();
  directory.SetSize(count);
  if (directory.GetCount() != count) {
    return Failure(ErrorCode::kNoMemory, archiveName.GetText());
  }
  try {
    RXM::ElementSlab slab(count, *system);
    for (std::int32_t i = 0; i < count; ++i) {
      Pointer<MultiFileElement> element(slab.Make());
      if (element.IsNull()) {
        return Failure(ErrorCode::kNoMemory, archiveName.GetText());
      }
      RXM::Status read = reader.ReadRecord(*element);
      if (!read.IsOk()) {
        return read;
      }
      directory.Add(element);
    }
    lookup = std::make_shared<const RXM::EntryLookup>();
  } catch (const std::bad_alloc&) {
    return Failure(ErrorCode::kNoMemory, archiveName.GetText());
  }
  archiveSize = reader.GetFileSize();
  return RXM::Status::Ok();
}

void MultiFile::ForgetDirectory() {
  directory.SetSize(0);
  lookup.reset();
  archiveSize = -1;
  entryReader.reset();
  entryReaderName.reset();
  archiveBytes.reset();
}

bool MultiFile::CloseMultiFile() {
  if (archiveFile.IsNull()) {
    return false;
  }
  CloseFile();
  if (!archiveFile->CloseFile()) {
    return false;
  }
  ForgetDirectory();
  archiveFile = nullptr;
  return true;
}

bool MultiFile::IsMultiFileOpen() {
  return !archiveFile.IsNull();
}

const PointerArray<MultiFileElement>& MultiFile::GetDirectory() const {
  return directory;
}

const RXM::Status& MultiFile::GetStatus() const {
  return status;
}

std::int64_t MultiFile::GetArchiveSize() const {
  return archiveFile.IsNull() ? -1 : archiveSize;
}

std::intptr_t MultiFile::DuplicateArchiveHandle() const {
  auto* disk = archiveFile.IsNull()
                   ? nullptr
                   : static_cast<DiskFile*>(archiveFile->FindInterface("DiskFile"));
  if (disk == nullptr || disk->GetFilePointer() == nullptr) {
    return RXM::sys::kNoHandle;
  }
  return system->duplicateForReading(disk->GetFilePointer());
}

std::vector<RXM::kymf::Finding> MultiFile::CheckArchive() const {
  return CheckArchive(SIZE_MAX).first;
}

RXM::kymf::LayoutReport MultiFile::CheckArchive(std::size_t limit) const {
  if (archiveFile.IsNull()) {
    return {};
  }
  std::vector<DirectoryRecord> records;
  records.reserve(static_cast<std::size_t>(directory.GetCount()));
  for (std::int32_t i = 0; i < directory.GetCount(); ++i) {
    if (directory.Peek(i) != nullptr) {
      records.push_back(*directory.Peek(i));
    }
  }
  return RXM::kymf::CheckLayout(records.data(), static_cast<int>(records.size()), archiveSize,
                                limit);
}

// Every reader of an entry asks the one rule (CheckReadable) first, against
// the file's size as measured when the archive opened.
RXM::Status MultiFile::CheckEntry(const String& name) const {
  ErrorCode code = ErrorCode::kOk;
  const MultiFileElement* element = FindWhole(name.GetText(), code);
  return Explain(code, name.GetText(), element);
}

const MultiFileElement* MultiFile::FindWhole(const char* name, ErrorCode& code) const {
  const int found = archiveFile.IsNull() ? -1 : Lookup(name);
  const MultiFileElement* element = found < 0 ? nullptr : directory.Peek(found);
  if (element == nullptr) {
    code = archiveFile.IsNull() ? ErrorCode::kNotOpen : ErrorCode::kNoSuchEntry;
  } else {
    code = RXM::kymf::CheckReadable(*element, directory.GetCount(), archiveSize);
  }
  return element;
}

RXM::Status MultiFile::Explain(ErrorCode code, const char* name,
                               const MultiFileElement* element) const {
  switch (code) {
    case ErrorCode::kOk:
      return RXM::Status::Ok();
    case ErrorCode::kNoSuchEntry:
      return Failure(code, RXM::Concat({archiveName.GetText(), ": ", name}));
    case ErrorCode::kNotOpen:
      return Failure(code, archiveName.GetText());
    default: {
      std::string reason;
      RXM::kymf::CheckReadable(*element, directory.GetCount(), archiveSize, &reason);
      return Failure(code, EntrySubject(*element), reason);
    }
  }
}

std::string MultiFile::EntrySubject(const MultiFileElement& element) const {
  return RXM::Concat({archiveName.GetText(), ": ", element.name});
}

// The lookup exists whenever the directory holds entries: it is made with
// them and dropped with them.
int MultiFile::Lookup(const char* name) const {
  return lookup ? lookup->Find(name, directory) : -1;
}

Pointer<KYFile> MultiFile::OpenEntry(const String& name) const {
  ErrorCode code = ErrorCode::kOk;
  const MultiFileElement* element = FindWhole(name.GetText(), code);
  return code == ErrorCode::kOk ? StreamOver(*element, nullptr) : nullptr;
}

Pointer<KYFile> MultiFile::OpenEntry(const String& name, RXM::Status& why) const {
  ErrorCode code = ErrorCode::kOk;
  const MultiFileElement* element = FindWhole(name.GetText(), code);
  why = Explain(code, name.GetText(), element);
  return code == ErrorCode::kOk ? StreamOver(*element, &why) : nullptr;
}

// Reaches the element without copying its Pointer: threads that open entries
// at once must not change its reference count.
Pointer<KYFile> MultiFile::StreamOver(const MultiFileElement& element, RXM::Status* why) const {
  if (!entryReader) {
    Pointer<KYFile> copy = CopyEntry(element);
    if (copy.IsNull() && why != nullptr) {
      *why = Failure(ErrorCode::kReadFailed, EntrySubject(element));
    }
    return copy;
  }
  return Pointer<KYFile>(new RXM::EntryStream(entryReader, element.dataStart, EntrySize(element),
                                              entryReaderName, element.name, RXM::kymf::NameIs));
}

Pointer<KYFile> MultiFile::CopyEntry(const MultiFileElement& element) const {
  const std::uint32_t size = EntrySize(element);
  auto bytes = std::shared_ptr<std::uint8_t>(
      static_cast<std::uint8_t*>(system->allocate(size == 0 ? 1 : size)), std::free);
  if (!bytes || !archiveFile->IsFileOpened()) {
    return nullptr;
  }
  const long before = archiveFile->GetPosition();
  const bool read = element.dataStart >= 0 && archiveFile->Seek(element.dataStart, 0) &&
                    (size == 0 || archiveFile->ReadData(bytes.get(), size, 1) == 1);
  archiveFile->Seek(before, 0);
  if (!read) {
    return nullptr;
  }
  const std::uint8_t* memory = bytes.get();
  return Pointer<KYFile>(new RXM::EntryStream(
      std::make_shared<const RXM::MemorySource>(std::move(bytes), memory, size), 0, size,
      std::make_shared<const std::string>(archiveName.GetText()), element.name, RXM::kymf::NameIs));
}

// --- Copying out ---------------------------------------------------------

// Copies the open entry whole, from its first byte, with one read and one
// write. An entry that cannot be read whole (empty, or with offsets past the
// archive's end) is reported as a read error before any memory is taken for
// it, so a record that claims gigabytes costs nothing.
bool MultiFile::ExtractToFile(const String& fileName) {
  if (currentElement.IsNull()) {
    status = Failure(ErrorCode::kNotOpen, archiveName.GetText(), "no entry open");
    return false;
  }
  Seek(0, 0);
  const std::uint32_t size = GetFileSize();
  CTPointer<Debugger> debugger = RXM::GetDebugger();
  // Only the entry's own bytes are copied out: the rule every reader asks,
  // against the file as it is now.
  std::string reason;
  const ErrorCode readable = ArchiveReadable()
                                 ? RXM::kymf::CheckReadable(*currentElement, directory.GetCount(),
                                                            archiveFile->GetFileSize(), &reason)
                                 : ErrorCode::kReadFailed;
  if (readable != ErrorCode::kOk || size == 0) {
    status = readable == ErrorCode::kOk || readable == ErrorCode::kReadFailed
                 ? Failure(ErrorCode::kReadFailed, EntrySubject(*currentElement))
                 : Failure(readable, EntrySubject(*currentElement), reason);
    debugger->PrintError(kReadError);
    return false;
  }
  std::unique_ptr<void, void (*)(void*)> block(system->allocate(size), std::free);
  if (block == nullptr) {
    status = Failure(ErrorCode::kNoMemory, EntrySubject(*currentElement));
    debugger->PrintError(kExtractTooLarge, size);
    return false;
  }
  if (ReadData(block.get(), size, 1) != 1) {
    status = Failure(ErrorCode::kReadFailed, EntrySubject(*currentElement));
    debugger->PrintError(kReadError);
    return false;
  }
  // With sums loaded, damaged bytes never reach the target: no file is made.
  const RXM::Status summed = CheckBytes(*currentElement, block.get(), size);
  if (!summed.IsOk()) {
    status = summed;
    debugger->PrintError(kReadError);
    return false;
  }
  Pointer<KYFile> target(new DiskFile(*system));
  if (!target->OpenFile(fileName, "wb")) {
    const int error = errno;
    status = RXM::OpenFailure(fileName.GetText(), error);
    debugger->PrintError(kExtractNotOpened, fileName.GetText());
    return false;
  }
  target->WriteData(block.get(), size, 1);
  status = RXM::Status::Ok();
  return true;
}
