#include "multifile/ArchiveDigest.h"

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>

#include "files/Failure.h"
#include "multifile/ArchiveCore.h"
#include "multifile/ArchiveLayout.h"

namespace RXM {

Status ComputeSums(sys::System& system, const std::string& archive,
                   const std::map<std::string, std::string>& reuse, std::vector<EntrySum>* sums,
                   unsigned threads) {
  sums->clear();
  Status why;
  bool reached = false;
  const std::shared_ptr<const multifile::ArchiveCore> opened =
      multifile::ArchiveCore::Open(system, Pointer<KYFile>(), archive, why, reached);
  if (!opened) {
    return why;
  }
  const PointerArray<MultiFileElement>& directory = opened->Directory();
  // The file whose directory was read, never the name opened again.
  errno = 0;
  const sys::Handle handle = opened->Duplicate();
  if (handle == sys::kNoHandle) {
    return OpenFailure(archive, errno != 0 ? errno : EIO);
  }
  const std::size_t count = static_cast<std::size_t>(directory.GetCount());
  std::vector<Status> outcome(count, Status::Ok());
  std::vector<std::size_t> unknown;  // the entries whose bytes are read
  for (std::size_t i = 0; i < count; ++i) {
    sums->push_back(EntrySum{directory.Peek(static_cast<int>(i))->name, std::string()});
    const auto known = reuse.find(sums->back().name);
    if (known != reuse.end()) {
      sums->back().hex = known->second;
    } else {
      unknown.push_back(i);
    }
  }
  // Each worker takes the next entry to read; the handle reads at offsets,
  // so they never wait for each other.
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t k; (k = next++) < unknown.size();) {
      const std::size_t i = unknown[k];
      const MultiFileElement& record = *directory.Peek(static_cast<int>(i));
      const std::string subject = archive + ": " + record.name;
      std::string reason;
      const ErrorCode readable =
          multifile::CheckReadable(record, directory.GetCount(), opened->Size(), &reason);
      outcome[i] = readable == ErrorCode::kOk
                       ? HashRange(system, handle, static_cast<std::uint64_t>(record.dataStart),
                                   multifile::EntrySize(record), subject, &(*sums)[i].hex)
                       : Failure(readable, subject, reason);
    }
  };
  std::vector<std::thread> workers;
  for (unsigned t = 1; t < threads && t < unknown.size(); ++t) {
    workers.emplace_back(work);
  }
  work();
  for (std::thread& worker : workers) {
    worker.join();
  }
  system.closeHandle(handle);
  for (const Status& status : outcome) {  // the first failure in directory order
    if (!status.IsOk()) {
      return status;
    }
  }
  return Status::Ok();
}

Status RefreshSums(sys::System& system, const std::string& archive, const LockWait& wait,
                   int* count, unsigned threads) {
  ArchiveLock lock(system);
  Status locked = lock.Acquire(archive, wait);
  if (!locked.IsOk()) {
    return locked;
  }
  if (!lock.IsHeld()) {
    return OpenFailure(archive, ENOENT);
  }
  std::vector<EntrySum> sums;
  const Status computed = ComputeSums(system, lock.GetTarget(), {}, &sums, threads);
  *count = static_cast<int>(sums.size());
  return computed.IsOk() ? WriteSums(system, SumsPathOf(archive), lock.GetTarget(), sums)
                         : computed;
}

SumsUpdate::SumsUpdate(sys::System& calls, std::string name, std::string file, bool create,
                       unsigned workers)
    : system(calls),
      archive(std::move(name)),
      target(std::move(file)),
      wanted(create),
      threads(workers) {
  const std::string sums = SumsPathOf(archive);
  sys::FileInfo info;
  if (system.inspect(sums.c_str(), &info) != 0 || info.kind != sys::FileKind::kFile) {
    return;
  }
  wanted = true;
  std::vector<EntrySum> lines;
  if (ArchiveNewerThanSums(system, target, sums) || !ReadSums(system, sums, &lines).IsOk()) {
    return;  // nothing to trust: every entry is read
  }
  for (EntrySum& line : lines) {
    old[line.name] = std::move(line.hex);
  }
}

void SumsUpdate::Keep(const std::string& storedName, const std::string& newName) {
  const auto found = old.find(storedName);
  if (found != old.end()) {
    reuse[newName] = found->second;
  }
}

Status SumsUpdate::Finish() {
  if (!wanted) {
    return Status::Ok();
  }
  std::vector<EntrySum> sums;
  const Status computed = ComputeSums(system, target, reuse, &sums, threads);
  return computed.IsOk() ? WriteSums(system, SumsPathOf(archive), target, sums) : computed;
}

}  // namespace RXM
