#include "multifile/MultiFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "backends/DiskFile.h"
#include "backends/System.h"
#include "files/Failure.h"
#include "multifile/ArchiveCore.h"
#include "multifile/ArchiveDigest.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ArchiveLayout.h"
#include "multifile/ArchiveLock.h"
#include "multifile/ArchiveSums.h"
#include "multifile/ArchiveWriter.h"
#include "multifile/FoldedNames.h"
#include "multifile/MultiFileWriterEntries.h"

using RXM::ErrorCode;

namespace {

// What the new names take: `first`, the number (in the order added) of the
// first new name refused as taken, or the count of new names when none is;
// and which kept entries a new name replaces.
struct TakenNames {
  std::size_t first;
  std::vector<bool> replaced;
};

// Over `names`, the kept ones (numbered below `keptCount`) then the new ones
// in the order added: a new name is taken when an earlier new one, or (unless
// `replace`) a kept one, folds the same.
TakenNames FindTaken(const RXM::multifile::FoldedNames& names, std::size_t keptCount,
                     bool replace) {
  const std::vector<int> order = names.SortedOrder();
  const auto number = [&order](std::size_t at) { return static_cast<std::size_t>(order[at]); };
  TakenNames taken{order.size() - keptCount, std::vector<bool>(keptCount, false)};
  for (std::size_t k = 0; k < order.size();) {
    std::size_t end = k + 1;  // [k, end): one folded name, kept ones first
    while (end < order.size() && names[number(end)] == names[number(k)]) {
      ++end;
    }
    std::size_t firstNew = k;
    while (firstNew < end && number(firstNew) < keptCount) {
      ++firstNew;
    }
    const bool keptToo = firstNew > k;
    if (firstNew < end) {
      const std::size_t refused = keptToo && !replace ? firstNew : firstNew + 1;
      if (refused < end) {
        taken.first = std::min(taken.first, number(refused) - keptCount);
      }
      for (std::size_t at = k; keptToo && replace && at < firstNew; ++at) {
        taken.replaced[number(at)] = true;
      }
    }
    k = end;
  }
  return taken;
}

}  // namespace

MultiFileWriter::MultiFileWriter(const String& name, bool keep, std::uint32_t chunk)
    : MultiFileWriter(RXM::sys::System::Default(), name, keep, chunk) {}

MultiFileWriter::MultiFileWriter(RXM::sys::System& calls, const String& name, bool keep,
                                 std::uint32_t chunk)
    : system(&calls),
      archiveName(name),
      keepExisting(keep),
      chunkSize(chunk == 0 ? 1 : chunk),
      lock(new RXM::ArchiveLock(calls)) {}

MultiFileWriter::~MultiFileWriter() = default;

void MultiFileWriter::AddFile(const String& entryName, const String& path) {
  entries.push_back(Entry{entryName.GetText(), Pointer<KYFile>(), path, true, {}, 0});
}

void MultiFileWriter::AddFile(const String& entryName, Pointer<KYFile> source,
                              const String& inputName) {
  entries.push_back(Entry{entryName.GetText(), source, inputName, false, {}, 0});
}

void MultiFileWriter::AddBytes(const String& entryName, const void* data, std::uint32_t size) {
  const auto* begin = static_cast<const std::uint8_t*>(data);
  entries.push_back(Entry{entryName.GetText(), Pointer<KYFile>(), String(), false,
                          std::vector<std::uint8_t>(begin, begin + size), size});
}

void MultiFileWriter::SetLockWait(std::uint32_t milliseconds, void (*waiting)(const char*, void*),
                                  void* context) {
  lockWait = milliseconds;
  lockWaiting = waiting;
  lockWaitingContext = context;
}

void MultiFileWriter::SetReplaceExisting(bool replace) {
  replaceExisting = replace;
}

void MultiFileWriter::SetAllowEmpty(bool allow) {
  allowEmpty = allow;
}

void MultiFileWriter::SetProgress(void (*callback)(int, int, void*), void* context) {
  progress = callback;
  progressContext = context;
}

void MultiFileWriter::SetByteProgress(void (*callback)(std::uint64_t, std::uint64_t, void*),
                                      void* context) {
  byteProgress = callback;
  byteProgressContext = context;
}

int MultiFileWriter::GetCount() const {
  return static_cast<int>(entries.size());
}

const RXM::Status& MultiFileWriter::GetStatus() const {
  return status;
}

const char* MultiFileWriter::GetError() const {
  return status.GetText();
}

bool MultiFileWriter::Fail(ErrorCode code, const std::string& detail) {
  status = RXM::Failure(code, archiveName.GetText(), detail);
  return false;
}

bool MultiFileWriter::FailSystem(ErrorCode code, const std::string& detail, int error) {
  status = RXM::SystemFailure(code, archiveName.GetText(), detail, error);
  return false;
}

// What is under an input's name, or the system's `error` when it could not
// be examined (or opened).
bool MultiFileWriter::FailInput(const Entry& entry, RXM::sys::FileKind kind, int error) {
  using RXM::sys::FileKind;
  const std::string subject = std::string("cannot open ") + entry.inputName.GetText();
  if (kind == FileKind::kOther) {
    return Fail(ErrorCode::kReadFailed,
                subject + ": " + RXM::Describe(ErrorCode::kNotARegularFile));
  }
  const bool missing = kind == FileKind::kMissing && error == 0;
  return FailSystem(ErrorCode::kReadFailed, subject,
                    kind == FileKind::kFolder ? EISDIR
                    : missing                 ? ENOENT
                                              : error);
}

bool MultiFileWriter::Lock() {
  if (lock->IsHeld()) {
    return true;
  }
  const RXM::Status locked = lock->Acquire(
      archiveName.GetText(), RXM::LockWait{lockWait, lockWaiting, lockWaitingContext});
  if (!locked.IsOk()) {
    status = locked;
    return false;
  }
  return true;
}

bool MultiFileWriter::CheckName(const char* name, std::size_t length) {
  status = RXM::multifile::CheckEntryName(
      name, length, std::string(archiveName.GetText()) + ": entry name \"" + name + "\"");
  return status.IsOk();
}

// Read under the lock, so that the directory is the archive's until the new
// one replaces it.
bool MultiFileWriter::LoadExisting() {
  if (existing) {
    return true;
  }
  if (!Lock()) {
    return false;
  }
  RXM::Status why;
  bool reached = false;
  std::shared_ptr<const RXM::multifile::ArchiveCore> archive = RXM::multifile::ArchiveCore::Open(
      *system, Pointer<KYFile>(), archiveName.GetText(), why, reached);
  if (!archive) {
    status = RXM::Status(why.GetCode(),
                         std::string(archiveName.GetText()) + ": cannot be read as an archive (" +
                             why.GetText() + ")",
                         why.GetSystemError());
    return false;
  }
  const PointerArray<MultiFileElement>& directory = archive->Directory();
  kept.clear();
  kept.reserve(static_cast<std::size_t>(directory.GetCount()));
  for (std::int32_t i = 0; i < directory.GetCount(); ++i) {
    const MultiFileElement& element = *directory.Peek(i);
    kept.push_back(Kept{element, RXM::multifile::EntrySize(element), element.name});
  }
  existing = archive;
  return true;
}

int MultiFileWriter::FindKept(const String& name) const {
  for (std::size_t i = kept.size(); i-- > 0;) {
    if (RXM::multifile::NameMatches(name.GetText(), kept[i].record)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool MultiFileWriter::RemoveExisting(const String& name) {
  status = RXM::Status::Ok();
  if (!keepExisting) {
    return Fail(ErrorCode::kNotOpen, "keeps no existing entries");
  }
  if (!LoadExisting()) {
    return false;
  }
  const auto removed = std::remove_if(kept.begin(), kept.end(), [&](const Kept& entry) {
    return RXM::multifile::NameMatches(name.GetText(), entry.record);
  });
  if (removed == kept.end()) {
    return Fail(ErrorCode::kNoSuchEntry, std::string("no entry ") + name.GetText());
  }
  kept.erase(removed, kept.end());
  return true;
}

bool MultiFileWriter::RenameExisting(const String& from, const String& to) {
  status = RXM::Status::Ok();
  if (!keepExisting) {
    return Fail(ErrorCode::kNotOpen, "keeps no existing entries");
  }
  if (!LoadExisting()) {
    return false;
  }
  const int found = FindKept(from);
  if (found < 0) {
    return Fail(ErrorCode::kNoSuchEntry, std::string("no entry ") + from.GetText());
  }
  if (!CheckName(to.GetText(), static_cast<std::size_t>(to.GetLength()))) {
    return false;
  }
  const int other = FindKept(to);
  if (other >= 0 && other != found) {
    return Fail(ErrorCode::kAlreadyExists, std::string("entry name \"") + to.GetText() +
                                               "\" is already taken (letter case is ignored)");
  }
  const DirectoryRecord renamed = RXM::multifile::NewRecord(to.GetText());
  std::copy(std::begin(renamed.name), std::end(renamed.name),
            kept[static_cast<std::size_t>(found)].record.name);
  return true;
}

// Everything that can be refused is checked before the first byte is
// written: names, sizes and the existing archive. The data are then copied
// in one pass.
bool MultiFileWriter::Prepare() {
  if (keepExisting && !LoadExisting()) {
    return false;
  }
  std::int64_t dataBytes = 0;
  if (!CheckNames() || !CheckKept(dataBytes)) {
    return false;
  }
  for (Entry& entry : entries) {
    if (!Measure(entry, dataBytes)) {
      return false;
    }
  }
  const std::int64_t count = static_cast<std::int64_t>(kept.size() + entries.size());
  if (!RXM::multifile::ArchiveWriter::Fits(count, dataBytes)) {
    return Fail(ErrorCode::kTooLarge, "the archive would exceed 2,147,483,647 bytes");
  }
  return true;
}

bool MultiFileWriter::Commit() {
  status = RXM::Status::Ok();
  sumsStatus = RXM::Status::Ok();
  if (!Lock() || !Prepare()) {
    return false;
  }
  RXM::multifile::ArchiveWriter writer(lock->GetTarget(), RXM::ReplacementFile::Naming::kUnique,
                                       *system);
  writer.RemoveAbandoned();
  RXM::SumsUpdate sums(*system, archiveName.GetText(), lock->GetTarget(), writeSums, sumsThreads);
  for (const Kept& entry : kept) {
    sums.Keep(entry.storedName, entry.record.name);
  }
  if (!Write(writer)) {
    return false;
  }
  existing = nullptr;  // closes the old archive before it is replaced
  if (!Place(writer)) {
    const int error = writer.GetError();
    writer.Discard();
    return status.IsOk() ? FailSystem(ErrorCode::kReplaceFailed,
                                      "could not put the new archive in place", error)
                         : false;
  }
  // The archive first, its sums second, both under the lock: a crash between
  // the two leaves a sums file written before the archive file was made, which verify calls
  // stale, never silently wrong.
  sumsStatus = sums.Finish();
  lock->Release();
  return true;
}

bool MultiFileWriter::CommitTo(std::FILE* out) {
  status = RXM::Status::Ok();
  sumsStatus = RXM::Status::Ok();
  if (!Prepare()) {
    return false;
  }
  RXM::multifile::ArchiveWriter writer(out, *system);
  if (!Write(writer)) {
    return false;
  }
  if (lock->IsHeld()) {
    lock->Release();
  }
  return true;
}

void MultiFileWriter::SetWriteSums(bool write, unsigned threads) {
  writeSums = write;
  sumsThreads = threads;
}

const RXM::Status& MultiFileWriter::GetSumsStatus() const {
  return sumsStatus;
}

// With no archive to lock when the commit began, the new one takes the name
// only while it is free; a file that took it meanwhile is then locked and
// replaced, as by a writer that came after it.
bool MultiFileWriter::Place(RXM::multifile::ArchiveWriter& writer) {
  const bool held = lock->IsHeld();
  if (writer.Replace(held)) {
    return true;
  }
  return !held && Lock() && lock->IsHeld() && writer.Replace(true);
}

// New names: safe, short enough, distinct from each other and from the kept
// ones, whose entries they replace when asked to. Kept and new names are
// folded into one list and sorted, so that an archive of many entries costs
// no allocation per name. The first refusal in the order the entries were
// added is the one reported.
bool MultiFileWriter::CheckNames() {
  const std::size_t keptCount = kept.size();
  RXM::multifile::FoldedNames names;  // the kept ones first, then the new
  names.Reserve(keptCount + entries.size(), (keptCount + entries.size()) * 16);
  for (const Kept& entry : kept) {
    names.Add(entry.record.name, ::strnlen(entry.record.name, RXM::multifile::kNameSize));
  }
  for (const Entry& entry : entries) {
    names.Add(entry.name.data(), entry.name.size());
  }
  const TakenNames taken = FindTaken(names, keptCount, replaceExisting);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!CheckName(entries[i].name.c_str(), entries[i].name.size())) {
      return false;
    }
    if (i == taken.first) {
      return Fail(ErrorCode::kAlreadyExists, "entry name \"" + entries[i].name +
                                                 "\" is already taken (letter case is ignored)");
    }
  }
  std::size_t left = 0;  // the kept entries not replaced, in their order
  for (std::size_t i = 0; i < keptCount; ++i) {
    if (!taken.replaced[i]) {
      if (left != i) {
        kept[left] = std::move(kept[i]);
      }
      ++left;
    }
  }
  kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(left), kept.end());
  return true;
}

bool MultiFileWriter::CheckKept(std::int64_t& dataBytes) {
  // Kept entries come from the existing archive, read when there are any.
  const std::int32_t count = existing ? existing->Directory().GetCount() : 0;
  for (const Kept& entry : kept) {
    // Only an entry's own bytes are copied: the rule every reader asks.
    std::string reason;
    const ErrorCode readable =
        RXM::multifile::CheckReadable(entry.record, count, existing->Size(), &reason);
    if (readable != ErrorCode::kOk) {
      return Fail(readable, std::string("entry \"") + entry.record.name +
                                "\" cannot be read whole (" + reason + ")");
    }
    if (entry.size == 0 && !allowEmpty) {
      return Fail(ErrorCode::kEmptyInput,
                  std::string("entry \"") + entry.record.name + "\" cannot be read whole");
    }
    dataBytes += entry.size;
  }
  return true;
}

// One look at the system for a disk file instead of an open, a measure and a
// close: packing thousands of small files is mostly such calls.
bool MultiFileWriter::Measure(Entry& entry, std::int64_t& dataBytes) {
  if (entry.diskFile) {
    RXM::sys::FileInfo info;
    const bool examined = system->inspect(entry.inputName.GetText(), &info) == 0;
    if (!examined || info.kind != RXM::sys::FileKind::kFile) {
      return FailInput(entry, examined ? info.kind : RXM::sys::FileKind::kMissing,
                       examined ? 0 : info.error);
    }
    const auto largest = static_cast<std::uint64_t>(RXM::multifile::kLargestArchive);
    entry.size = info.size > largest ? static_cast<std::uint32_t>(largest) + 1u
                                     : static_cast<std::uint32_t>(info.size);
  } else if (!entry.source.IsNull()) {
    errno = 0;
    if (!entry.source->OpenFile(entry.inputName, "rb")) {
      return FailInput(entry, RXM::sys::FileKind::kFile, errno);
    }
    entry.size = entry.source->GetFileSize();
    entry.source->CloseFile();
  }
  if (entry.size == 0 && !allowEmpty) {
    return Fail(ErrorCode::kEmptyInput, "entry \"" + entry.name + "\" would be empty");
  }
  dataBytes += entry.size;
  return true;
}
