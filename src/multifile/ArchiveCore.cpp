#include "multifile/ArchiveCore.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "backends/DiskFile.h"
#include "backends/HttpFile.h"
#include "backends/SharedHandle.h"
#include "files/EntryStream.h"
#include "files/Failure.h"
#include "files/MemorySource.h"
#include "files/Text.h"
#include "files/Url.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ArchiveLayout.h"
#include "multifile/ArchiveReader.h"
#include "multifile/ElementSlab.h"

namespace RXM {
namespace multifile {
namespace {

// Records read per call when the archive's file is our own DiskFile: 320 KB.
constexpr std::int32_t kRecordsPerRead = 4096;
// Through an HttpFile every read that misses its cache is a request: the
// directory beyond the first block comes in one (up to 80 MiB of records).
constexpr std::int32_t kRecordsPerRemoteRead = 1 << 20;

}  // namespace

ArchiveCore::ArchiveCore(sys::System& calls, Pointer<KYFile> file, std::string shown,
                         bool overNetwork)
    : system(calls), archiveFile(std::move(file)), name(std::move(shown)), remote(overNetwork) {}

ArchiveCore::~ArchiveCore() = default;

std::shared_ptr<const ArchiveCore> ArchiveCore::Open(sys::System& system, Pointer<KYFile> given,
                                                     const std::string& path, Status& why,
                                                     bool& reached) {
  const bool own = given.IsNull();
  Pointer<KYFile> file = own ? Pointer<KYFile>(new DiskFile(system)) : given;
  // What the file is decides how it is read, here and nowhere else.
  auto* const http = dynamic_cast<HttpFile*>(file.Get());
  std::shared_ptr<ArchiveCore> core(
      new ArchiveCore(system, file, http != nullptr ? RedactUrl(path) : path, http != nullptr));
  core->disk = dynamic_cast<DiskFile*>(file.Get());
  reached = file->OpenFile(path.c_str(), "rb");
  if (!reached) {
    const int error = errno;
    why = http != nullptr ? http->GetStatus() : ArchiveReader::WhyNotOpened(system, path, error);
    return nullptr;
  }
  why = ArchiveReader::CheckOpenedFile(system, *file, core->name);
  if (!why.IsOk()) {
    return nullptr;
  }
  // Our own file is read in large blocks; a caller's sees one call per record.
  why = core->LoadDirectory(own ? kRecordsPerRead : http != nullptr ? kRecordsPerRemoteRead : 1);
  if (http != nullptr && !http->GetStatus().IsOk() && !why.IsOk()) {
    why = http->GetStatus();  // the network's reason, not the short read it caused
  }
  if (!why.IsOk()) {
    sys::FileInfo info;
    if (why.GetCode() == ErrorCode::kNotAnArchive && http == nullptr &&
        system.inspect(path.c_str(), &info) == 0 && info.kind == sys::FileKind::kFolder) {
      why = Failure(ErrorCode::kIsAFolder, path);
    }
    return nullptr;
  }
  // The file whose directory was just read, never the name again. Without a
  // second handle (a caller's file of another kind, or a system that refuses
  // one), entries are copied through the archive's file instead (CopyEntry).
  if (http != nullptr) {
    core->reader = http->GetReader();
  } else {
    core->reader = SharedHandle::Adopt(core->Duplicate(), system, SharedHandle::Readers::kMany);
  }
  if (core->reader) {
    try {
      core->streamParts = SpreadHold<EntryStreamParts>(
          std::make_shared<const EntryStreamParts>(EntryStreamParts{core->reader, core->name}));
    } catch (const std::bad_alloc&) {
      why = Failure(ErrorCode::kNoMemory, core->name);
      return nullptr;
    }
  }
  return core;
}

// The header and the records are trusted only as far as the file backs them
// (see ArchiveReader): nothing is allocated for a count the file cannot hold,
// and every name in memory is a C string of at most 69 characters.
Status ArchiveCore::LoadDirectory(std::int32_t recordsPerRead) {
  ArchiveReader records(*archiveFile, name, recordsPerRead);
  std::int32_t count = 0;
  Status header = records.ReadHeader(count);
  if (!header.IsOk()) {
    return header;
  }
  directory.SetSize(count);
  if (directory.GetCount() != count) {
    return Failure(ErrorCode::kNoMemory, name);
  }
  try {
    ElementSlab slab(count, system);
    for (std::int32_t i = 0; i < count; ++i) {
      Pointer<MultiFileElement> element(slab.Make());
      if (element.IsNull()) {
        return Failure(ErrorCode::kNoMemory, name);
      }
      Status read = records.ReadRecord(*element);
      if (!read.IsOk()) {
        return read;
      }
      directory.Add(static_cast<Pointer<MultiFileElement>&&>(element));
    }
  } catch (const std::bad_alloc&) {
    return Failure(ErrorCode::kNoMemory, name);
  }
  fileSize = records.GetFileSize();
  return Status::Ok();
}

// Every reader of an entry asks the one rule (CheckReadable) first, against
// the file's size as measured when the archive opened.
const MultiFileElement* ArchiveCore::Find(const char* wanted, ErrorCode& code) const {
  const int found = Lookup(wanted);
  const MultiFileElement* element = found < 0 ? nullptr : directory.Peek(found);
  code = element == nullptr ? ErrorCode::kNoSuchEntry
                            : CheckReadable(*element, directory.GetCount(), fileSize);
  return element;
}

Status ArchiveCore::Explain(ErrorCode code, const char* wanted,
                            const MultiFileElement* element) const {
  switch (code) {
    case ErrorCode::kOk:
      return Status::Ok();
    case ErrorCode::kNoSuchEntry:
      return Failure(code, Concat({name, ": ", wanted}));
    default: {
      std::string reason;
      CheckReadable(*element, directory.GetCount(), fileSize, &reason);
      return Failure(code, Subject(*element), reason);
    }
  }
}

Status ArchiveCore::Readable(const MultiFileElement& element) const {
  return Explain(CheckReadable(element, directory.GetCount(), fileSize), element.name, &element);
}

std::string ArchiveCore::Subject(const MultiFileElement& element) const {
  return Concat({name, ": ", element.name});
}

// Reaches the element without copying its Pointer: threads that open entries
// at once must not change its reference count.
Pointer<KYFile> ArchiveCore::OpenEntry(const MultiFileElement& element, Status* why) const {
  if (!reader) {
    Pointer<KYFile> copy = CopyEntry(element);
    if (copy.IsNull() && why != nullptr) {
      *why = Failure(ErrorCode::kReadFailed, Subject(element));
    }
    return copy;
  }
  // Copies of the lane, aliased to its parts: two counts on this
  // processor's lane, none on a line other processors write.
  const std::shared_ptr<const EntryStreamParts>& parts = streamParts.Get();
  return Pointer<KYFile>(new EntryStream(
      std::shared_ptr<const ByteSource>(parts, parts->reader.get()), element.dataStart,
      EntrySize(element), std::shared_ptr<const std::string>(parts, &parts->archive), element.name,
      NameIs));
}

// A caller's file has one position, shared with its caller: it is put back
// where it was after the copy.
Pointer<KYFile> ArchiveCore::CopyEntry(const MultiFileElement& element) const {
  const std::uint32_t bytes = EntrySize(element);
  auto copy = std::shared_ptr<std::uint8_t>(
      static_cast<std::uint8_t*>(system.allocate(bytes == 0 ? 1 : bytes)), std::free);
  if (!copy || !archiveFile->IsFileOpened()) {
    return nullptr;
  }
  const long before = archiveFile->GetPosition();
  const bool read = element.dataStart >= 0 && archiveFile->Seek(element.dataStart, 0) &&
                    (bytes == 0 || archiveFile->ReadData(copy.get(), bytes, 1) == 1);
  archiveFile->Seek(before, 0);
  if (!read) {
    return nullptr;
  }
  const std::uint8_t* memory = copy.get();
  return Pointer<KYFile>(
      new EntryStream(std::make_shared<const MemorySource>(std::move(copy), memory, bytes), 0,
                      bytes, std::make_shared<const std::string>(name), element.name, NameIs));
}

sys::Handle ArchiveCore::Duplicate() const {
  std::FILE* const stream = disk == nullptr ? nullptr : disk->GetFilePointer();
  if (stream == nullptr) {
    errno = EBADF;
    return sys::kNoHandle;
  }
  return system.duplicateForReading(stream);
}

LayoutReport ArchiveCore::Check(std::size_t limit) const {
  std::vector<DirectoryRecord> records;
  records.reserve(static_cast<std::size_t>(directory.GetCount()));
  for (std::int32_t i = 0; i < directory.GetCount(); ++i) {
    records.push_back(*directory.Peek(i));
  }
  return CheckLayout(records.data(), static_cast<int>(records.size()), fileSize, limit);
}

}  // namespace multifile
}  // namespace RXM
