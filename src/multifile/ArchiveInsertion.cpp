#include "multifile/ArchiveInsertion.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <string>
#include <vector>

#include "backends/DiskFile.h"
#include "backends/HttpFile.h"
#include "backends/System.h"
#include "files/Failure.h"
#include "framework/Format.h"
#include "multifile/ArchiveSums.h"
#include "multifile/EntryLookup.h"

namespace RXM {
namespace {

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

ArchiveInsertion::ArchiveInsertion(Archive& target)
    : archive(target), lock(target.System()), block(nullptr, std::free) {}

bool ArchiveInsertion::Run(Pointer<KYFile> source, const String& givenInput, String entryName) {
  if (entryName.GetLength() == 0) {
    entryName = givenInput;
  }
  if (!Admit(entryName)) {
    return false;
  }
  Pointer<KYFile> opened =
      source.IsNull() ? Pointer<KYFile>(new DiskFile(archive.System())) : source;
  errno = 0;
  if (!opened->OpenFile(givenInput, "rb")) {
    return Refuse(
        SystemFailure(ErrorCode::kReadFailed, givenInput.GetText(), "cannot be opened", errno));
  }
  const std::uint32_t inputSize = opened->GetFileSize();
  if (inputSize == 0) {
    return Refuse(Failure(ErrorCode::kEmptyInput, givenInput.GetText()));
  }
  if (!Lock()) {
    return false;
  }
  const PointerArray<MultiFileElement>& directory = archive.Directory();
  std::int64_t dataBytes = inputSize;
  for (std::int32_t i = 0; i < directory.GetCount(); ++i) {
    dataBytes += multifile::EntrySize(*directory.Peek(i));
  }
  if (!multifile::ArchiveWriter::Fits(directory.GetCount() + 1, dataBytes)) {
    return Refuse(Failure(ErrorCode::kTooLarge, archive.Name().GetText()));
  }
  input = opened.Get();
  inputName = &givenInput;
  writer.emplace(lock.GetTarget(), ReplacementFile::Naming::kFixed, archive.System());
  writer->RemoveAbandoned();
  sums.emplace(archive.System(), archive.Name().GetText(), lock.GetTarget(), false);
  for (std::int32_t i = 0; i < directory.GetCount(); ++i) {
    const char* name = directory.Peek(i)->name;
    sums->Keep(name, name);
  }
  return WriteArchive(entryName, inputSize) && Replace();
}

bool ArchiveInsertion::Refuse(Status why) {
  failure = Failed{std::move(why), std::string()};
  return false;
}

bool ArchiveInsertion::Throw(Status why, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const String text = FormatV(format, arguments);
  va_end(arguments);
  failure = Failed{std::move(why), text.GetText()};
  return false;
}

bool ArchiveInsertion::Admit(const String& entryName) {
  const char* archiveName = archive.Name().GetText();
  const std::string subject = std::string(archiveName) + ": " + entryName.GetText();
  if (archive.File() == nullptr) {
    return Refuse(Failure(ErrorCode::kNotOpen, archiveName));
  }
  // Its name is a URL, no path to write beside.
  if (dynamic_cast<HttpFile*>(archive.File()) != nullptr) {
    return Refuse(Failure(ErrorCode::kWriteFailed, archiveName,
                          "an archive read over the network cannot be changed"));
  }
  KYFile& entries = archive.Entries();
  entries.CloseFile();
  if (entries.OpenFile(entryName, "rb")) {
    entries.CloseFile();
    return Throw(Failure(ErrorCode::kAlreadyExists, subject), kAlreadyExists, entryName.GetText(),
                 archiveName);
  }
  // Every name a record holds is stored, as it always has been (an input's
  // whole path among them, for an empty entry name); only the length is
  // refused.
  const Status name = multifile::CheckEntryName(
      entryName.GetText(), static_cast<std::size_t>(entryName.GetLength()), subject);
  return name.GetCode() == ErrorCode::kNameTooLong ? Refuse(name) : true;
}

bool ArchiveInsertion::Lock() {
  const Status locked = lock.Acquire(archive.Name().GetText(), LockWait());
  if (!locked.IsOk()) {
    return Refuse(locked);
  }
  auto* disk = dynamic_cast<DiskFile*>(archive.File());
  if (!lock.IsHeld() || (disk != nullptr && !lock.Locks(disk->GetFilePointer()))) {
    lock.Release();
    return Refuse(Failure(ErrorCode::kChanged, archive.Name().GetText()));
  }
  return true;
}

// A failure of a source stops the writing with its reason kept; the
// incomplete temporary file stays for the next insertion to truncate.
bool ArchiveInsertion::WriteArchive(const String& entryName, std::uint32_t inputSize) {
  const PointerArray<MultiFileElement>& directory = archive.Directory();
  std::vector<multifile::ArchiveWriter::Planned> plan;
  plan.reserve(static_cast<std::size_t>(directory.GetCount()) + 1);
  for (std::int32_t i = 0; i < directory.GetCount(); ++i) {
    plan.push_back({*directory.Peek(i), multifile::EntrySize(*directory.Peek(i)), this});
  }
  plan.push_back({multifile::NewRecord(entryName.GetText()), inputSize, this});
  archiveSize = archive.File()->GetFileSize();
  using Outcome = multifile::ArchiveWriter::Outcome;
  switch (writer->Write(plan)) {
    case Outcome::kWritten:
      return true;
    case Outcome::kNotCreated:
      return Refuse(SystemFailure(ErrorCode::kWriteFailed, writer->TemporaryName().GetText(),
                                  "cannot be created", writer->GetError()));
    case Outcome::kSourceFailed:
      if (failure) {
        return false;
      }
      break;
    case Outcome::kWriteFailed:
      break;
  }
  return FailWrite();
}

// The old entries, in directory order, then the input, which is closed once
// copied whole.
bool ArchiveInsertion::Append(std::size_t planned, std::uint32_t size,
                              multifile::ArchiveWriter& to) {
  if (planned < static_cast<std::size_t>(archive.Directory().GetCount())) {
    return CopyEntry(static_cast<std::int32_t>(planned), to);
  }
  if (!CopyInput(size, to)) {
    return false;
  }
  input->CloseFile();
  return true;
}

// Each entry is reached by its index, not by its name, so that of two equal
// names each record's own bytes are copied.
bool ArchiveInsertion::CopyEntry(std::int32_t index, multifile::ArchiveWriter& to) {
  const char* archiveName = archive.Name().GetText();
  const MultiFileElement& element = *archive.Directory().Peek(index);
  const std::string subject = std::string(archiveName) + ": " + element.name;
  KYFile& entries = archive.Entries();
  if (!archive.OpenEntryAt(index)) {
    entries.CloseFile();
    return Throw(Failure(ErrorCode::kReadFailed, subject), kSubFileNotOpened, element.name,
                 archiveName);
  }
  const std::uint32_t size = entries.GetFileSize();
  if (size == 0 || !multifile::FileBacksEntry(element, archiveSize)) {
    return Throw(
        Failure(ErrorCode::kTruncated, subject, "truncated at byte " + std::to_string(archiveSize)),
        kSubFileNotRead, element.name, archiveName);
  }
  if (!Reserve(size)) {
    return Throw(Failure(ErrorCode::kNoMemory, subject), kSubFileTooLarge, element.name,
                 archiveName);
  }
  if (entries.ReadData(block.get(), size, 1) != 1) {
    return Throw(Failure(ErrorCode::kReadFailed, subject), kSubFileNotRead, element.name,
                 archiveName);
  }
  return to.WriteData(block.get(), size);
}

bool ArchiveInsertion::CopyInput(std::uint32_t inputSize, multifile::ArchiveWriter& to) {
  const char* archiveName = archive.Name().GetText();
  const char* name = inputName->GetText();
  if (!Reserve(inputSize)) {
    return Throw(Failure(ErrorCode::kNoMemory, name), kInputTooLarge, name, archiveName);
  }
  if (input->ReadData(block.get(), inputSize, 1) != 1) {
    return Throw(Failure(ErrorCode::kReadFailed, name), kInputNotRead, name, archiveName);
  }
  return to.WriteData(block.get(), inputSize);
}

// The archive is closed while its file is replaced (Windows renames no file
// held open) and opened again either way: the old one when the replacement
// failed, the new one, after the lock is given up, when it worked.
bool ArchiveInsertion::Replace() {
  const Pointer<KYFile> previousFile(archive.File());
  archive.Close();
  if (!writer->Replace()) {
    const int error = writer->GetError();
    writer->Discard();
    archive.Reopen(previousFile);
    return Throw(SystemFailure(ErrorCode::kReplaceFailed, archive.Name().GetText(),
                               Describe(ErrorCode::kReplaceFailed), error),
                 kNotReplaced, writer->TemporaryName().GetText(), archive.Name().GetText());
  }
  // A sums file beside the archive follows it, under the lock. InsertFile's
  // result is the reopening's, as it always was: a sums file that could not be
  // rewritten stays as it was, older than the archive file: verify calls it stale.
  sums->Finish();
  lock.Release();
  return archive.Reopen(Pointer<KYFile>());
}

bool ArchiveInsertion::Reserve(std::uint32_t size) {
  if (block != nullptr && size <= capacity) {
    return true;
  }
  block.reset();
  capacity = size == 0 ? 1 : size;
  block.reset(archive.System().allocate(capacity));
  return block != nullptr;
}

bool ArchiveInsertion::FailWrite() {
  const int error = writer->GetError();
  writer->Discard();
  return Throw(SystemFailure(ErrorCode::kWriteFailed, writer->TemporaryName().GetText(),
                             Describe(ErrorCode::kWriteFailed), error),
               kNotWritten, writer->TemporaryName().GetText(), archive.Name().GetText());
}

}  // namespace RXM
