#include "multifile/ArchiveInsertion.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "backends/DiskFile.h"
#include "backends/System.h"
#include "framework/Exception.h"
#include "multifile/ArchiveStatus.h"
#include "multifile/EntryLookup.h"
#include "multifile/MultiFile.h"

namespace RXM {
namespace {

using kymf::Failure;

constexpr const char* kAlreadyExists =
    "ERROR: Attempted to insert %s into multifile %s, but it already exists.";
constexpr const char* kSubFileNotOpened =
    "ERROR:\n\nFailed to open sub-file in multi-file when attemping to insert new "
    "file.\n\nSub-file:%s\nMulti-file:%s";
constexpr const char* kSubFileNotRead =
    "ERROR:\n\nFailed to read sub-file in multi-file when attemping to insert new "
    "file.\n\nSub-file:%s\nMulti-file:%s";
constexpr const char* kInputNotRead =
    "ERROR:\n\nFailed to read input file when attemping to insert file into a "
    "multi-file.\n\nInput-file:%s\nMulti-file:%s";
constexpr const char* kSubFileTooLarge =
    "ERROR:\n\nNot enough memory to copy sub-file in multi-file when attemping to insert new "
    "file.\n\nSub-file:%s\nMulti-file:%s";
constexpr const char* kInputTooLarge =
    "ERROR:\n\nNot enough memory to copy input file when attemping to insert file into a "
    "multi-file.\n\nInput-file:%s\nMulti-file:%s";
constexpr const char* kNotWritten =
    "ERROR:\n\nFailed to write the new multi-file when attemping to insert a file; the "
    "multi-file is unchanged.\n\nTemporary file:%s\nMulti-file:%s";
constexpr const char* kNotReplaced =
    "ERROR:\n\nFailed to replace the multi-file by its new version when attemping to insert a "
    "file; the multi-file is unchanged.\n\nTemporary file:%s\nMulti-file:%s";

}  // namespace

ArchiveInsertion::ArchiveInsertion(MultiFile& target)
    : archive(target), lock(*target.system), block(nullptr, std::free) {}

bool ArchiveInsertion::Run(Pointer<KYFile> source, const String& inputName, String entryName) {
  if (entryName.GetLength() == 0) {
    entryName = inputName;
  }
  if (!Admit(entryName)) {
    return false;
  }
  Pointer<KYFile> input = source.IsNull() ? Pointer<KYFile>(new DiskFile(*archive.system)) : source;
  if (!input->OpenFile(inputName, "rb")) {
    archive.status = Failure(ErrorCode::kReadFailed, inputName.GetText(), "cannot be opened");
    return false;
  }
  const std::uint32_t inputSize = input->GetFileSize();
  if (inputSize == 0) {
    archive.status = Failure(ErrorCode::kEmptyInput, inputName.GetText());
    return false;
  }
  if (!Lock()) {
    return false;
  }
  PointerArray<MultiFileElement>& directory = archive.directory;
  if (directory.Remove(Pointer<MultiFileElement>()) > 0) {
    archive.lookup = std::make_shared<const EntryLookup>();
  }
  std::int64_t dataBytes = inputSize;
  for (std::int32_t i = 0; i < directory.GetCount(); ++i) {
    dataBytes += kymf::EntrySize(*directory.Peek(i));
  }
  if (!kymf::ArchiveWriter::Fits(directory.GetCount() + 1, dataBytes)) {
    archive.status = Failure(ErrorCode::kTooLarge, archive.archiveName.GetText());
    return false;
  }
  writer.emplace(lock.GetTarget(), ReplacementFile::Naming::kFixed, *archive.system);
  writer->RemoveAbandoned();
  return WriteArchive(*input, inputName, entryName, inputSize) && Replace();
}

bool ArchiveInsertion::Admit(const String& entryName) {
  const std::string subject =
      std::string(archive.archiveName.GetText()) + ": " + entryName.GetText();
  if (archive.archiveFile.IsNull()) {
    archive.status = Failure(ErrorCode::kNotOpen, archive.archiveName.GetText());
    return false;
  }
  // Its name is a URL, no path to write beside.
  if (archive.archiveFile->FindInterface("HttpFile") != nullptr) {
    archive.status = Failure(ErrorCode::kWriteFailed, archive.archiveName.GetText(),
                             "an archive read over the network cannot be changed");
    return false;
  }
  archive.CloseFile();
  if (archive.OpenFile(entryName, "rb")) {
    archive.CloseFile();
    archive.status = Failure(ErrorCode::kAlreadyExists, subject);
    throw new Exception(kAlreadyExists, entryName.GetText(),  // NOLINT
                        archive.archiveName.GetText());
  }
  // Every name a record holds is stored, as it always has been (an input's
  // whole path among them, for an empty entry name); only the length is
  // refused.
  const Status name = kymf::CheckEntryName(
      entryName.GetText(), static_cast<std::size_t>(entryName.GetLength()), subject);
  if (name.GetCode() == ErrorCode::kNameTooLong) {
    archive.status = name;
    return false;
  }
  return true;
}

bool ArchiveInsertion::Lock() {
  const Status locked = lock.Acquire(archive.archiveName.GetText(), LockWait());
  if (!locked.IsOk()) {
    archive.status = locked;
    return false;
  }
  auto* disk = static_cast<DiskFile*>(archive.archiveFile->FindInterface("DiskFile"));
  if (!lock.IsHeld() || (disk != nullptr && !lock.Locks(disk->GetFilePointer()))) {
    lock.Release();
    archive.status = Failure(ErrorCode::kChanged, archive.archiveName.GetText());
    return false;
  }
  return true;
}

bool ArchiveInsertion::WriteArchive(KYFile& input, const String& inputName, const String& entryName,
                                    std::uint32_t inputSize) {
  const PointerArray<MultiFileElement>& directory = archive.directory;
  std::vector<kymf::ArchiveWriter::Planned> plan;
  plan.reserve(static_cast<std::size_t>(directory.GetCount()) + 1);
  for (std::int32_t i = 0; i < directory.GetCount(); ++i) {
    plan.push_back({*directory.Peek(i), kymf::EntrySize(*directory.Peek(i)), this});
  }
  plan.push_back({kymf::NewRecord(entryName.GetText()), inputSize, this});
  currentInput = &input;
  currentInputName = &inputName;
  archiveSize = archive.archiveFile->GetFileSize();
  using Outcome = kymf::ArchiveWriter::Outcome;
  const Outcome outcome = writer->Write(plan);
  if (outcome == Outcome::kNotCreated) {
    archive.status =
        Failure(ErrorCode::kWriteFailed, writer->TemporaryName().GetText(), "cannot be created");
    return false;
  }
  if (outcome != Outcome::kWritten) {
    FailWrite();
  }
  return true;
}

// The old entries, in directory order, then the input, which is closed once
// copied whole.
bool ArchiveInsertion::Append(std::size_t planned, std::uint32_t size, kymf::ArchiveWriter& to) {
  if (planned < static_cast<std::size_t>(archive.directory.GetCount())) {
    return CopyEntry(static_cast<std::int32_t>(planned), to);
  }
  CopyInput(*currentInput, *currentInputName, size, to);
  currentInput->CloseFile();
  return true;
}

// Each entry is reached by its index, not by its name, so that of two equal
// names each record's own bytes are copied.
bool ArchiveInsertion::CopyEntry(std::int32_t index, kymf::ArchiveWriter& to) {
  const char* archiveName = archive.archiveName.GetText();
  const Pointer<MultiFileElement> element = archive.directory.GetAt(index);
  const std::string subject = archive.EntrySubject(*element);
  if (!archive.OpenElement(element)) {
    archive.CloseFile();
    archive.status = Failure(ErrorCode::kReadFailed, subject);
    throw new Exception(kSubFileNotOpened, element->name, archiveName);  // NOLINT
  }
  const std::uint32_t size = archive.GetFileSize();
  if (size == 0 || !kymf::FileBacksEntry(*element, archiveSize)) {
    archive.status =
        Failure(ErrorCode::kTruncated, subject, "truncated at byte " + std::to_string(archiveSize));
    throw new Exception(kSubFileNotRead, element->name, archiveName);  // NOLINT
  }
  if (!Reserve(size)) {
    archive.status = Failure(ErrorCode::kNoMemory, subject);
    throw new Exception(kSubFileTooLarge, element->name, archiveName);  // NOLINT
  }
  if (archive.ReadData(block.get(), size, 1) != 1) {
    archive.status = Failure(ErrorCode::kReadFailed, subject);
    throw new Exception(kSubFileNotRead, element->name, archiveName);  // NOLINT
  }
  return to.WriteData(block.get(), size);
}

void ArchiveInsertion::CopyInput(KYFile& input, const String& inputName, std::uint32_t inputSize,
                                 kymf::ArchiveWriter& to) {
  const char* archiveName = archive.archiveName.GetText();
  if (!Reserve(inputSize)) {
    archive.status = Failure(ErrorCode::kNoMemory, inputName.GetText());
    throw new Exception(kInputTooLarge, inputName.GetText(), archiveName);  // NOLINT
  }
  if (input.ReadData(block.get(), inputSize, 1) != 1) {
    archive.status = Failure(ErrorCode::kReadFailed, inputName.GetText());
    throw new Exception(kInputNotRead, inputName.GetText(), archiveName);  // NOLINT
  }
  if (!to.WriteData(block.get(), inputSize)) {
    FailWrite();
  }
}

bool ArchiveInsertion::Replace() {
  const String name = archive.archiveName;
  const Pointer<KYFile> previousFile = archive.archiveFile;
  archive.CloseMultiFile();
  if (!writer->Replace()) {
    writer->Discard();
    archive.OpenMultiFile(previousFile, name);
    archive.status = Failure(ErrorCode::kReplaceFailed, name.GetText());
    throw new Exception(kNotReplaced, writer->TemporaryName().GetText(),  // NOLINT
                        name.GetText());
  }
  lock.Release();
  return archive.OpenMultiFile(Pointer<KYFile>(), name);
}

bool ArchiveInsertion::Reserve(std::uint32_t size) {
  if (block != nullptr && size <= capacity) {
    return true;
  }
  block.reset();
  capacity = size == 0 ? 1 : size;
  block.reset(archive.system->allocate(capacity));
  return block != nullptr;
}

void ArchiveInsertion::FailWrite() {
  writer->Discard();
  archive.status = Failure(ErrorCode::kWriteFailed, writer->TemporaryName().GetText());
  throw new Exception(kNotWritten, writer->TemporaryName().GetText(),  // NOLINT
                      archive.archiveName.GetText());
}

}  // namespace RXM
