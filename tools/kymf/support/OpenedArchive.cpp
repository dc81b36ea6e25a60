#include "support/OpenedArchive.h"

#include <unordered_map>

#include "files/Sha256.h"
#include "files/Text.h"

#include "files/Url.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/VolumeSet.h"

namespace kymf {

bool OpenedArchive::Open(const std::string& path, Reporter& reporter, bool alone) {
  remote = RXM::IsRemoteUrl(path.c_str());
  shown = RXM::RedactUrl(path);
  std::vector<std::string> files{path};
  if (path == "-") {
    RXM::Status status = standardInput.Make();
    if (status.IsOk()) {
      status = standardInput.FromStandardInput();
    }
    if (!status.IsOk()) {
      reporter.Fail(status);
      return false;
    }
    files[0] = standardInput.GetPath();
  }
  // The first volume first, so that a set costs a request of its own only
  // once the archive has been reached (a probe per further volume).
  if (!OpenVolume(files[0], reporter)) {
    return false;
  }
  if (path != "-" && !alone) {
    const RXM::Status listed = ListVolumes(path, &files);
    if (!listed.IsOk()) {
      reporter.Fail(listed);
      return false;
    }
  }
  for (std::size_t i = 1; i < files.size(); ++i) {
    if (!OpenVolume(files[i], reporter)) {
      return false;
    }
  }
  FindShadowed();
  return true;
}

bool OpenedArchive::OpenVolume(const std::string& file, Reporter& reporter) {
  auto volume = std::make_unique<Volume>();
  volume->file = file;
  volume->shown = volumes.empty() ? shown : RXM::RedactUrl(file);
  volume->first = count;
  // A URL is read through an HttpFile, with the options of the environment
  // (which --cacert and --header set).
  volume->remoteFile = Pointer<HttpFile>(remote ? new HttpFile() : nullptr);
  if (!volume->archive.OpenMultiFile(Pointer<KYFile>(volume->remoteFile), file.c_str())) {
    const RXM::Status& status = volume->archive.GetStatus();
    if (shown == "-") {  // the message would name the temporary copy
      reporter.Fail("-", RXM::Describe(status.GetCode()));
    } else {
      reporter.Fail(status);
    }
    return false;
  }
  const int records = volume->archive.GetDirectory().GetCount();
  volumeOf.insert(volumeOf.end(), static_cast<std::size_t>(records),
                  static_cast<int>(volumes.size()));
  count += records;
  volumes.push_back(std::move(volume));
  return true;
}

OpenedArchive::Volume& OpenedArchive::VolumeOf(int index) const {
  return *volumes[static_cast<std::size_t>(volumeOf[static_cast<std::size_t>(index)])];
}

const MultiFileElement& OpenedArchive::GetRecord(int index) const {
  const Volume& volume = VolumeOf(index);
  return *volume.archive.GetDirectory().Peek(index - volume.first);
}

void OpenedArchive::Fail(const RXM::Status& status, Reporter& reporter) const {
  // Every failure's text begins with the name the archive was opened by.
  const std::string staged = standardInput.GetPath() + ":";
  const std::string text = status.GetText();
  if (shown == "-" && text.compare(0, staged.size(), staged) == 0) {
    reporter.Fail(RXM::Status(status.GetCode(), "-:" + text.substr(staged.size())));
  } else {
    reporter.Fail(status);
  }
}

RXM::Status OpenedArchive::ReadFailure(int index) const {
  const Volume& volume = VolumeOf(index);
  const std::string name = GetName(index);
  if (!volume.remoteFile.IsNull()) {
    const RXM::Status why = volume.remoteFile->GetReadFailure();
    if (!why.IsOk()) {
      // The library's text names the archive already: the entry goes first.
      return RXM::Status(why.GetCode(), name + ": " + why.GetText());
    }
  }
  return RXM::Status(RXM::ErrorCode::kReadFailed, volume.shown + ": " + name + ": " +
                                                      RXM::Describe(RXM::ErrorCode::kReadFailed));
}

std::string OpenedArchive::GetName(int index) const {
  return GetRecord(index).name;
}

std::uint32_t OpenedArchive::GetSize(int index) const {
  return RXM::multifile::EntrySize(GetRecord(index));
}

// The library's one rule of whether an entry's bytes are its own and all
// in the file, asked before anything is written.
RXM::Status OpenedArchive::CheckEntry(int index) {
  return GetArchive(index).CheckEntry(GetName(index).c_str());
}

void OpenedArchive::FindShadowed() {
  shadowedBy.assign(static_cast<std::size_t>(count), -1);
  std::unordered_map<std::string, int> last;
  for (int i = count - 1; i >= 0; --i) {
    const auto found = last.emplace(RXM::multifile::FoldName(GetName(i).c_str()), i);
    if (!found.second) {
      shadowedBy[static_cast<std::size_t>(i)] = found.first->second;
    }
  }
}

OpenedArchive::~OpenedArchive() {
  for (const std::unique_ptr<Volume>& volume : volumes) {
    if (volume->handle != -1) {
      RXM::sys::System::Default().closeHandle(volume->handle);
    }
  }
}

RXM::Status OpenedArchive::ReadSums(std::vector<RXM::EntrySum>* sums, bool* stale) {
  return ReadSumsOf(*volumes.front(), sums, stale);
}

RXM::Status OpenedArchive::ReadSumsOf(const Volume& volume, std::vector<RXM::EntrySum>* sums,
                                      bool* stale) const {
  *stale = false;
  if (shown == "-") {
    return RXM::Status(RXM::ErrorCode::kNoSuchFile, "-: standard input has no sums file");
  }
  const std::string path = RXM::SumsPathOf(volume.file);
  if (!remote) {
    RXM::sys::System& system = RXM::sys::System::Default();
    *stale = RXM::ArchiveNewerThanSums(system, volume.file, path);
    return RXM::ReadSums(system, path, sums);
  }
  Pointer<HttpFile> fetched(new HttpFile());
  if (!fetched->OpenFile(path.c_str(), "rb")) {
    return fetched->GetStatus();
  }
  std::string text(fetched->GetFileSize(), '\0');
  if (!text.empty() &&
      fetched->ReadData(&text[0], 1, static_cast<unsigned int>(text.size())) != text.size()) {
    return fetched->GetReadFailure();
  }
  return RXM::ParseSums(text, RXM::RedactUrl(path), sums);
}

RXM::Status OpenedArchive::HashEntry(int index, std::string* hex) {
  Volume& volume = VolumeOf(index);
  MultiFile& archive = volume.archive;
  const MultiFileElement& record = GetRecord(index);
  const std::string subject = volume.shown + ": " + record.name;
  if (!remote && volume.handle == -1) {
    volume.handle = archive.DuplicateArchiveHandle();
  }
  if (volume.handle != -1) {
    return RXM::HashRange(RXM::sys::System::Default(), volume.handle,
                          static_cast<std::uint64_t>(record.dataStart), GetSize(index), subject,
                          hex);
  }
  // Over the network (or where the system gives no second handle): the
  // entry's own stream, a block at a time.
  Pointer<KYFile> stream = archive.OpenEntry(record.name);
  if (stream.IsNull()) {
    return archive.GetStatus();
  }
  RXM::Sha256 digest;
  std::vector<char> block(1 << 20);
  std::uint64_t done = 0;
  for (unsigned int got;
       (got = stream->ReadData(block.data(), 1, static_cast<unsigned int>(block.size()))) > 0;) {
    digest.Update(block.data(), got);
    done += got;
  }
  if (done != GetSize(index)) {
    return ReadFailure(index);
  }
  *hex = RXM::Sha256::Hex(digest.Finish());
  return RXM::Status::Ok();
}

RXM::Status OpenedArchive::CheckSum(int index, const std::vector<RXM::EntrySum>& sums, bool stale) {
  const std::string name = GetName(index);
  const std::string subject = VolumeOf(index).shown + ": " + name;
  const RXM::EntrySum* line = nullptr;
  for (const RXM::EntrySum& sum : sums) {
    line = sum.name == name ? &sum : line;  // the last line of that name, as a lookup finds
  }
  if (line == nullptr) {
    return RXM::Status(RXM::ErrorCode::kNoSuchEntry, subject + ": not in the sums file");
  }
  std::string actual;
  RXM::Status hashed = HashEntry(index, &actual);
  if (!hashed.IsOk() || actual == line->hex) {
    return hashed;
  }
  const RXM::Status damaged = RXM::Damaged(subject, line->hex, actual);
  return stale ? RXM::Status(damaged.GetCode(), std::string(damaged.GetText()) +
                                                    "; the sums file was written before the "
                                                    "archive was (stale: kymf sums writes it anew)")
               : damaged;
}

bool OpenedArchive::LoadSumsForCheck(Reporter& reporter) {
  for (const std::unique_ptr<Volume>& volume : volumes) {
    const RXM::Status read = ReadSumsOf(*volume, &volume->checkSums, &volume->checkStale);
    if (RXM::IsNoSumsFile(read)) {
      reporter.Fail(volume->shown,
                    "--check: no sums file (kymf sums " + volume->shown + " writes one)");
      return false;
    }
    if (!read.IsOk()) {
      reporter.Fail(read);
      return false;
    }
  }
  checking = true;
  return true;
}

RXM::Status OpenedArchive::CheckAgainstSums(int index) {
  const Volume& volume = VolumeOf(index);
  return checking ? CheckSum(index, volume.checkSums, volume.checkStale) : RXM::Status::Ok();
}

RXM::Status ListVolumes(const std::string& path, std::vector<std::string>* volumes) {
  if (RXM::IsRemoteUrl(path.c_str())) {
    return RXM::FindRemoteVolumes(path, volumes);
  }
  *volumes = path == "-" ? std::vector<std::string>{path}
                         : RXM::FindVolumes(RXM::sys::System::Default(), path);
  return RXM::Status::Ok();
}

void ReportUnmatched(const Selection& selection, const std::string& archive, Reporter& reporter) {
  for (const std::string& pattern : selection.Unmatched()) {
    reporter.Fail(RXM::Concat({archive, ": ", pattern}),
                  RXM::Describe(RXM::ErrorCode::kNoSuchEntry));
  }
}

}  // namespace kymf
