#include "multifile/MultiFile.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "backends/DiskFile.h"
#include "backends/SystemCalls.h"
#include "files/Registration.h"
#include "framework/Debugger.h"
#include "framework/Exception.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/NameIndex.h"
#include "multifile/ReplacementFile.h"

namespace {

using RXM::kymf::EntrySize;

// The modes that would write; an entry is read-only.
const char* const kWritingModes[] = {"w", "a", "at", "ab", "wt", "r+t", "wb", "r+b"};

constexpr const char* kOpenedForWriting =
    "ERROR:\n\nA file element from a multi-file was opened for writing! This is not allowed by "
    "the RXM framework.\n\nMulti-File filename: %s";
constexpr const char* kWrittenInto =
    "ERROR:\n\nAttempted to write into a file element from a multi-file! This is not allowed by "
    "the RXM framework.\n\nMulti-File filename: %s";
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

constexpr const char* kUnableToOpen = "Unable to open multi-file: %s\n";
constexpr const char* kReadError = "Error while reading data from multifile.\n";
constexpr const char* kExtractNotOpened = "Unable to open file for writing: %s\n";
constexpr const char* kExtractTooLarge = "Not enough memory to extract %u bytes from multifile.\n";

// The copy block: memory from the C runtime's heap, freed when it goes out of
// scope. One block serves a whole insertion and grows only when an entry
// needs more than it holds: a fresh block for every entry would cost the
// operating system's work of mapping it in again each time, which for large
// entries costs more than the copy itself. Only one block exists at a time,
// so the peak stays the size of the largest entry.
class Block {
 public:
  Block() = default;
  ~Block() { std::free(data); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  // Makes room for `size` bytes; false (holding nothing) when they cannot be
  // allocated.
  bool Reserve(std::uint32_t size) {
    if (data != nullptr && size <= capacity) {
      return true;
    }
    std::free(data);
    capacity = size == 0 ? 1 : size;
    data = RXM::sys::Calls().allocate(capacity);
    return data != nullptr;
  }
  void* Get() const { return data; }

 private:
  void* data = nullptr;
  std::uint32_t capacity = 0;
};

}  // namespace

MultiFile::MultiFile() = default;

MultiFile::MultiFile(const String& name) {
  OpenMultiFile(Pointer<KYFile>(), name);
}

MultiFile::MultiFile(const MultiFile& other)
    : BaseObject(other),
      KYFile(other),
      currentElement(other.currentElement),
      position(other.position),
      directory(other.directory),
      archiveFile(other.archiveFile),
      archiveName(other.archiveName),
      index(other.index) {}

MultiFile& MultiFile::operator=(const MultiFile& other) {
  if (this == &other) {
    return *this;
  }
  KYFile::operator=(other);
  currentElement = other.currentElement;
  position = other.position;
  directory = other.directory;
  archiveFile = other.archiveFile;
  archiveName = other.archiveName;
  index = other.index;
  return *this;
}

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

bool MultiFile::CreateEmptyMultiFile(const String& name) {
  Pointer<KYFile> file(new DiskFile());
  if (!file->OpenFile(name, "wb")) {
    return false;
  }
  std::uint8_t count[4] = {0, 0, 0, 0};
  file->WriteData(RXM::kymf::kMagic, 4, 1);
  file->WriteData(count, 4, 1);
  return true;  // the last reference goes: the DiskFile closes the file
}

bool MultiFile::OpenMultiFile(Pointer<KYFile> file, const String& name) {
  CloseMultiFile();
  archiveName = name;
  archiveFile = file.IsNull() ? Pointer<KYFile>(new DiskFile()) : file;
  if (!archiveFile->OpenFile(name, "rb")) {
    archiveFile = nullptr;
    CTPointer<Debugger> debugger = RXM::GetDebugger();
    debugger->Print(kUnableToOpen, name.GetText());
    return false;
  }
  if (!LoadDirectory()) {
    // Released, not closed: a DiskFile made here closes with its last
    // reference, a caller's file stays open for the caller.
    archiveFile = nullptr;
    ForgetDirectory();
    return false;
  }
  return true;
}

// The header and the records are trusted only as far as the file backs them:
//  - a negative count, or one whose records cannot fit in the file, is
//    refused before anything is allocated (no 2^31-slot directory for a
//    20-byte file);
//  - a record whose 70 name bytes hold no NUL is refused with the archive, so
//    that every name in memory is a C string of at most 69 characters and no
//    comparison can run past its record;
//  - offsets are not checked here: reading an entry whose offsets the file
//    does not back gives short counts.
// Entries of an earlier archive that a failed close left behind are dropped
// before the new ones are read.
bool MultiFile::LoadDirectory() {
  std::uint8_t header[4];
  if (archiveFile->ReadData(header, 4, 1) != 1 || std::memcmp(header, RXM::kymf::kMagic, 4) != 0) {
    return false;
  }
  if (archiveFile->ReadData(header, 4, 1) != 1) {
    return false;
  }
  const std::int32_t count = RXM::kymf::DecodeInt32(header);
  if (count < 0 || RXM::kymf::kHeaderSize + RXM::kymf::kRecordSize * count >
                       static_cast<std::int64_t>(archiveFile->GetFileSize())) {
    return false;
  }
  ForgetDirectory();
  directory.SetSize(count);
  if (directory.GetCount() != count) {
    return false;
  }
  try {
    std::vector<std::uint32_t> hashes(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
      Pointer<MultiFileElement> element(new (std::nothrow) MultiFileElement());
      std::uint8_t record[RXM::kymf::kRecordSize];
      if (element.IsNull() || archiveFile->ReadData(record, sizeof record, 1) != 1 ||
          !RXM::kymf::DecodeRecord(record, *element)) {
        return false;
      }
      hashes[static_cast<std::size_t>(i)] = RXM::NameIndex::Hash(element->name);
      directory.Add(element);
    }
    index = std::make_shared<const RXM::NameIndex>(directory, hashes);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void MultiFile::ForgetDirectory() {
  directory.SetSize(0);
  index.reset();
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

// The index exists whenever the directory holds entries: it is built with
// them and dropped with them.
int MultiFile::Lookup(const char* name) const {
  return index ? index->Find(name, directory) : -1;
}

// --- The open entry -------------------------------------------------------

bool MultiFile::ArchiveReadable() {
  return !archiveFile.IsNull() && archiveFile->IsFileOpened();
}

bool MultiFile::OpenFile(String name, String mode) {
  CloseFile();
  if (archiveFile.IsNull()) {
    return false;
  }
  for (const char* writing : kWritingModes) {
    if (std::strcmp(mode.GetText(), writing) == 0) {
      throw new Exception(kOpenedForWriting, archiveName.GetText());  // NOLINT
    }
  }
  const int found = Lookup(name.GetText());
  return found >= 0 && OpenElement(directory.GetAt(found));
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
  throw new Exception(kWrittenInto, archiveName.GetText());  // NOLINT
}

unsigned int MultiFile::GetFileSize() {
  return currentElement.IsNull() ? 0 : EntrySize(*currentElement);
}

bool MultiFile::EndOfFile() {
  return currentElement.IsNull() ||
         static_cast<std::uint32_t>(position) >= EntrySize(*currentElement);
}

// A target outside the entry is clamped to its start or end. Each case makes
// exactly one move of the archive's file: clamping moves are relative to where
// it stands, moves to a target inside the entry from its start or end are
// absolute. Bounds are computed in 64 bits, so no offset can overflow them.
bool MultiFile::Seek(long offset, int origin) {
  if (currentElement.IsNull() || !ArchiveReadable()) {
    return false;
  }
  const std::int64_t size = EntrySize(*currentElement);
  const std::int64_t p = position;
  const std::int64_t start = currentElement->dataStart;
  const auto off = static_cast<std::int64_t>(offset);
  std::int64_t target = 0;
  bool moved = false;
  switch (origin) {
    case 0:
      if (off < 0) {
        moved = archiveFile->Seek(static_cast<long>(-p), 1);
      } else if (off <= size) {
        target = off;
        moved = archiveFile->Seek(static_cast<long>(start + off), 0);
      } else {
        target = size;
        moved = archiveFile->Seek(static_cast<long>(size - p), 1);
      }
      break;
    case 1:
      if (off < -p) {
        moved = archiveFile->Seek(static_cast<long>(-p), 1);
      } else if (off <= size - p) {
        target = p + off;
        moved = archiveFile->Seek(static_cast<long>(off), 1);
      } else {
        target = size;
        moved = archiveFile->Seek(static_cast<long>(size - p), 1);
      }
      break;
    case 2:
      if (off > 0) {
        target = size;
        moved = archiveFile->Seek(static_cast<long>(size - p), 1);
      } else if (off >= -size) {
        target = size + off;
        moved = archiveFile->Seek(static_cast<long>(start + size + off), 0);
      } else {
        moved = archiveFile->Seek(static_cast<long>(-p), 1);
      }
      break;
    default:
      return false;
  }
  if (moved) {
    position = static_cast<std::int32_t>(target);
  }
  return moved;
}

long MultiFile::GetPosition() {
  return position;
}

bool MultiFile::ArchiveBacksEntry(std::uint32_t size, std::int64_t archiveSize) const {
  const std::int64_t start = currentElement->dataStart;
  return start >= 0 && start + size <= archiveSize;
}

// --- Inserting --------------------------------------------------------------

// Adds a file as the last entry of the archive, which is written anew.
//
// Refusals that leave everything as it was, with no entry open:
//  - no archive open: false, nothing touched;
//  - an entry of that name exists (ASCII case ignored): throws kAlreadyExists;
//  - an entry name of more than 69 characters, which a record cannot hold: false
//    (a name is an entry's identity, so it is never cut);
//  - an input that cannot be opened or is empty, a temporary file that cannot
//    be created, or an archive that would outgrow 2,147,483,647 bytes: false.
//    The input is left open (a DiskFile made here closes with its last
//    reference).
//
// Failures while the new archive is copied throw; the archive stays open and
// unchanged on disk:
//  - an entry that cannot be opened or read whole (its offsets point past the
//    archive's end, or it is empty): kSubFileNotOpened / kSubFileNotRead; the
//    input cannot be read whole: kInputNotRead. The incomplete temporary file
//    stays on disk, and the next insertion truncates it.
//  - a copy block that cannot be allocated: kSubFileTooLarge / kInputTooLarge,
//    before anything is read into it;
//  - a write, flush, sync or close of the temporary file that fails (a full
//    disk): kNotWritten, and the temporary file is deleted;
//  - the replacement of the archive fails: kNotReplaced, the temporary file is
//    deleted and the old archive opened again.
//
// Entries are copied by their index, each with its own bytes, and every
// record's offsets are computed from where its data are written. For every
// archive the library writes this is the same as shifting the stored offsets
// by one record; for one it did not write (equal names, data not back to
// back) it still gives each record the offsets of its own data.
bool MultiFile::InsertFile(Pointer<KYFile> source, const String& inputName, String entryName) {
  using namespace RXM::kymf;
  if (archiveFile.IsNull()) {
    return false;
  }
  if (entryName.GetLength() == 0) {
    entryName = inputName;
  }
  CloseFile();
  if (OpenFile(entryName, "rb")) {
    CloseFile();
    throw new Exception(kAlreadyExists, entryName.GetText(), archiveName.GetText());  // NOLINT
  }
  if (static_cast<std::size_t>(entryName.GetLength()) > kLongestName) {
    return false;
  }
  Pointer<KYFile> input = source.IsNull() ? Pointer<KYFile>(new DiskFile()) : source;
  if (!input->OpenFile(inputName, "rb")) {
    return false;
  }
  const std::uint32_t inputSize = input->GetFileSize();
  if (inputSize == 0) {
    return false;
  }

  if (directory.Remove(Pointer<MultiFileElement>()) > 0) {
    index = std::make_shared<const RXM::NameIndex>(directory);
  }
  const std::int32_t count = directory.GetCount();
  std::int64_t total = kHeaderSize + kRecordSize * (count + 1) + inputSize;
  for (std::int32_t i = 0; i < count; ++i) {
    total += EntrySize(*directory.Peek(i));
  }
  if (total > kLargestArchive) {
    return false;
  }

  RXM::ReplacementFile replacement(archiveName);
  if (!replacement.Open()) {
    return false;
  }
  auto failWrite = [&]() {
    replacement.Discard();
    throw new Exception(kNotWritten, replacement.TemporaryName().GetText(),  // NOLINT
                        archiveName.GetText());
  };

  std::uint8_t bytes[kRecordSize];
  EncodeInt32(count + 1, bytes);
  replacement.Write(kMagic, 4);
  replacement.Write(bytes, 4);

  MultiFileElement scratch;
  std::int32_t dataStart = static_cast<std::int32_t>(kHeaderSize + kRecordSize * (count + 1));
  for (std::int32_t i = 0; i < count; ++i) {
    scratch = *directory.Peek(i);
    const std::uint32_t size = EntrySize(scratch);
    scratch.dataStart = dataStart;
    scratch.dataEnd = dataStart + static_cast<std::int32_t>(size) - 1;
    dataStart += static_cast<std::int32_t>(size);
    EncodeRecord(scratch, bytes);
    replacement.Write(bytes, sizeof bytes);
  }
  std::memset(scratch.name, 0, sizeof scratch.name);
  std::memset(scratch.padding, 0, sizeof scratch.padding);
  std::memcpy(scratch.name, entryName.GetText(), static_cast<std::size_t>(entryName.GetLength()));
  scratch.dataStart = dataStart;
  scratch.dataEnd = dataStart + static_cast<std::int32_t>(inputSize) - 1;
  EncodeRecord(scratch, bytes);
  if (!replacement.Write(bytes, sizeof bytes)) {
    failWrite();
  }

  Block block;
  const std::int64_t archiveSize = archiveFile->GetFileSize();
  for (std::int32_t i = 0; i < count; ++i) {
    const Pointer<MultiFileElement> element = directory.GetAt(i);
    if (!OpenElement(element)) {
      CloseFile();
      throw new Exception(kSubFileNotOpened, element->name, archiveName.GetText());  // NOLINT
    }
    const std::uint32_t size = GetFileSize();
    if (size == 0 || !ArchiveBacksEntry(size, archiveSize)) {
      throw new Exception(kSubFileNotRead, element->name, archiveName.GetText());  // NOLINT
    }
    if (!block.Reserve(size)) {
      throw new Exception(kSubFileTooLarge, element->name, archiveName.GetText());  // NOLINT
    }
    if (ReadData(block.Get(), size, 1) != 1) {
      throw new Exception(kSubFileNotRead, element->name, archiveName.GetText());  // NOLINT
    }
    if (!replacement.Write(block.Get(), size)) {
      failWrite();
    }
  }
  if (!block.Reserve(inputSize)) {
    throw new Exception(kInputTooLarge, inputName.GetText(), archiveName.GetText());  // NOLINT
  }
  if (input->ReadData(block.Get(), inputSize, 1) != 1) {
    throw new Exception(kInputNotRead, inputName.GetText(), archiveName.GetText());  // NOLINT
  }
  if (!replacement.Write(block.Get(), inputSize)) {
    failWrite();
  }

  input->CloseFile();
  if (!replacement.Finish()) {
    failWrite();
  }
  const Pointer<KYFile> previousFile = archiveFile;
  CloseMultiFile();
  if (!replacement.Replace()) {
    replacement.Discard();
    OpenMultiFile(previousFile, archiveName);
    throw new Exception(kNotReplaced, replacement.TemporaryName().GetText(),  // NOLINT
                        archiveName.GetText());
  }
  return OpenMultiFile(Pointer<KYFile>(), archiveName);
}

// --- Extracting -------------------------------------------------------------

// Copies the open entry whole, from its first byte, with one read and one
// write. An entry that cannot be read whole (empty, or with offsets past the
// archive's end) is reported as a read error before any memory is taken for
// it, so a record that claims gigabytes costs nothing. A block that cannot be
// allocated, and a target that cannot be opened, are reported through
// PrintError as well and give false; the target's write count is not looked
// at.
bool MultiFile::ExtractToFile(const String& fileName) {
  if (currentElement.IsNull()) {
    return false;
  }
  Seek(0, 0);
  const std::uint32_t size = GetFileSize();
  CTPointer<Debugger> debugger = RXM::GetDebugger();
  if (size == 0 || !ArchiveReadable() || !ArchiveBacksEntry(size, archiveFile->GetFileSize())) {
    debugger->PrintError(kReadError);
    return false;
  }
  Block block;
  if (!block.Reserve(size)) {
    debugger->PrintError(kExtractTooLarge, size);
    return false;
  }
  if (ReadData(block.Get(), size, 1) != 1) {
    debugger->PrintError(kReadError);
    return false;
  }
  Pointer<KYFile> target(new DiskFile());
  if (!target->OpenFile(fileName, "wb")) {
    debugger->PrintError(kExtractNotOpened, fileName.GetText());
    return false;
  }
  target->WriteData(block.Get(), size, 1);
  return true;
}
