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
#include "backends/System.h"
#include "files/BoundedStream.h"
#include "files/Failure.h"
#include "files/KYFileSource.h"
#include "files/Registration.h"
#include "files/Url.h"
#include "framework/Debugger.h"
#include "framework/Exception.h"
#include "multifile/ArchiveCore.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ArchiveLayout.h"
#include "multifile/MultiFileWriter.h"

namespace {

using RXM::ErrorCode;
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
  bool reached = false;
  core = RXM::multifile::ArchiveCore::Open(*system, file, name.GetText(), status, reached);
  if (!core) {
    // A URL is named with its credentials hidden, in every message about it.
    archiveName = String(dynamic_cast<HttpFile*>(file.Get()) == nullptr
                             ? name.GetText()
                             : RXM::RedactUrl(name.GetText()).c_str());
    if (!reached) {
      CTPointer<Debugger> debugger = RXM::GetDebugger();
      debugger->Print(kUnableToOpen, archiveName.GetText());
    }
    // Released, not closed: a DiskFile made there closes with its last
    // reference, a caller's file stays open for the caller.
    ForgetArchive();
    return false;
  }
  archiveName = String(core->Name().c_str());
  archiveFile = core->File();
  // The open entry is read through the archive's file itself, kept in step
  // with it: closing that file (through a copy, or a caller's own) ends its
  // reads, as the element stream has always behaved. OpenEntry's streams
  // read by position instead.
  entryBytes = std::make_shared<const RXM::KYFileSource>(*archiveFile);
  return true;
}

void MultiFile::ForgetArchive() {
  core.reset();
  entryBytes.reset();
  archiveFile = nullptr;
}

bool MultiFile::CloseMultiFile() {
  if (archiveFile.IsNull()) {
    return false;
  }
  CloseFile();
  if (!archiveFile->CloseFile()) {
    return false;
  }
  ForgetArchive();
  return true;
}

bool MultiFile::IsMultiFileOpen() {
  return !archiveFile.IsNull();
}

const PointerArray<MultiFileElement>& MultiFile::GetDirectory() const {
  static const PointerArray<MultiFileElement> kNone;
  return core ? core->Directory() : kNone;
}

const RXM::Status& MultiFile::GetStatus() const {
  return status;
}

std::int64_t MultiFile::GetArchiveSize() const {
  return core ? core->Size() : -1;
}

std::intptr_t MultiFile::DuplicateArchiveHandle() const {
  return core ? core->Duplicate() : RXM::sys::kNoHandle;
}

std::vector<RXM::multifile::Finding> MultiFile::CheckArchive() const {
  return CheckArchive(SIZE_MAX).first;
}

RXM::multifile::LayoutReport MultiFile::CheckArchive(std::size_t limit) const {
  return core ? core->Check(limit) : RXM::multifile::LayoutReport{};
}

RXM::Status MultiFile::CheckEntry(const String& name) const {
  if (!core) {
    return Failure(ErrorCode::kNotOpen, archiveName.GetText());
  }
  ErrorCode code = ErrorCode::kOk;
  const MultiFileElement* element = core->Find(name.GetText(), code);
  return core->Explain(code, name.GetText(), element);
}

Pointer<KYFile> MultiFile::OpenEntry(const String& name) const {
  RXM::Status why;
  return OpenEntry(name, why);
}

Pointer<KYFile> MultiFile::OpenEntry(const String& name, RXM::Status& why) const {
  if (!core) {
    why = Failure(ErrorCode::kNotOpen, archiveName.GetText());
    return nullptr;
  }
  ErrorCode code = ErrorCode::kOk;
  const MultiFileElement* element = core->Find(name.GetText(), code);
  why = core->Explain(code, name.GetText(), element);
  return code == ErrorCode::kOk ? core->OpenEntry(*element, &why) : nullptr;
}

RXM::Status MultiFile::LoadSums() {
  if (!core) {
    return Failure(ErrorCode::kNotOpen, archiveName.GetText());
  }
  return core->LoadSums(&sums);
}

RXM::Status MultiFile::CheckEntrySum(const String& name) const {
  if (!sums) {
    return RXM::Status::Ok();
  }
  return core ? core->CheckEntrySum(sums.get(), name.GetText())
              : Failure(ErrorCode::kNotOpen, archiveName.GetText());
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
  const ErrorCode readable = ArchiveReadable() ? RXM::multifile::CheckReadable(
                                                     *currentElement, core->Directory().GetCount(),
                                                     archiveFile->GetFileSize(), &reason)
                                               : ErrorCode::kReadFailed;
  if (readable != ErrorCode::kOk || size == 0) {
    status = readable == ErrorCode::kOk || readable == ErrorCode::kReadFailed
                 ? Failure(ErrorCode::kReadFailed, core->Subject(*currentElement))
                 : Failure(readable, core->Subject(*currentElement), reason);
    debugger->PrintError(kReadError);
    return false;
  }
  std::unique_ptr<void, void (*)(void*)> block(system->allocate(size), std::free);
  if (block == nullptr) {
    status = Failure(ErrorCode::kNoMemory, core->Subject(*currentElement));
    debugger->PrintError(kExtractTooLarge, size);
    return false;
  }
  if (ReadData(block.get(), size, 1) != 1) {
    status = Failure(ErrorCode::kReadFailed, core->Subject(*currentElement));
    debugger->PrintError(kReadError);
    return false;
  }
  // With sums loaded, damaged bytes never reach the target: no file is made.
  const RXM::Status summed = core->CheckBytes(sums.get(), *currentElement, block.get(), size);
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
