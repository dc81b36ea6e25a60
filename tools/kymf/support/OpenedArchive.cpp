#include "support/OpenedArchive.h"

#include <unordered_map>

#include "files/Sha256.h"

#include "multifile/ArchiveFormat.h"
#include "remote/Url.h"

namespace kymf {

bool OpenedArchive::Open(const std::string& path, Reporter& reporter) {
  remote = RXM::IsRemoteUrl(path.c_str());
  shown = RXM::RedactUrl(path);
  file = path;
  if (path == "-") {
    RXM::Status status = standardInput.Make();
    if (status.IsOk()) {
      status = standardInput.FromStandardInput();
    }
    if (!status.IsOk()) {
      reporter.Fail(status);
      return false;
    }
    file = standardInput.GetPath();
  }
  // A URL is read through an HttpFile, with the options of the environment
  // (which --cacert and --header set).
  remoteFile = Pointer<HttpFile>(remote ? new HttpFile() : nullptr);
  if (!archive.OpenMultiFile(Pointer<KYFile>(remoteFile), file.c_str())) {
    const RXM::Status& status = archive.GetStatus();
    if (path == "-") {  // the message would name the temporary copy
      reporter.Fail("-", RXM::Describe(status.GetCode()));
    } else {
      reporter.Fail(status);
    }
    return false;
  }
  FindShadowed();
  return true;
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

RXM::Status OpenedArchive::ReadFailure(const std::string& name) const {
  if (!remoteFile.IsNull()) {
    const RXM::Status why = remoteFile->GetReadFailure();
    if (!why.IsOk()) {
      // The library's text names the archive already: the entry goes first.
      return RXM::Status(why.GetCode(), name + ": " + why.GetText());
    }
  }
  return RXM::Status(RXM::ErrorCode::kReadFailed,
                     shown + ": " + name + ": " + RXM::Describe(RXM::ErrorCode::kReadFailed));
}

std::string OpenedArchive::GetName(int index) const {
  return archive.GetDirectory().GetAt(index)->name;
}

std::uint32_t OpenedArchive::GetSize(int index) const {
  return RXM::kymf::EntrySize(*archive.GetDirectory().GetAt(index));
}

// The library's one rule of whether an entry's bytes are its own and all
// in the file, asked before anything is written.
RXM::Status OpenedArchive::CheckEntry(int index) {
  return archive.CheckEntry(GetName(index).c_str());
}

void OpenedArchive::FindShadowed() {
  const int count = GetCount();
  shadowedBy.assign(static_cast<std::size_t>(count), -1);
  std::unordered_map<std::string, int> last;
  for (int i = count - 1; i >= 0; --i) {
    const auto found = last.emplace(RXM::kymf::FoldName(GetName(i).c_str()), i);
    if (!found.second) {
      shadowedBy[static_cast<std::size_t>(i)] = found.first->second;
    }
  }
}

OpenedArchive::~OpenedArchive() {
  if (handle != -1) {
    RXM::sys::System::Default().closeHandle(handle);
  }
}

RXM::Status OpenedArchive::ReadSums(std::vector<RXM::EntrySum>* sums, bool* stale) {
  *stale = false;
  if (shown == "-") {
    return RXM::Status(RXM::ErrorCode::kNoSuchFile, "-: standard input has no sums file");
  }
  const std::string path = RXM::SumsPathOf(file);
  if (!remote) {
    RXM::sys::System& system = RXM::sys::System::Default();
    *stale = RXM::ArchiveNewerThanSums(system, file, path);
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
  const MultiFileElement& record = *archive.GetDirectory().GetAt(index);
  const std::string subject = shown + ": " + record.name;
  if (!remote && handle == -1) {
    handle = archive.DuplicateArchiveHandle();
  }
  if (handle != -1) {
    return RXM::HashRange(RXM::sys::System::Default(), handle,
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
    return ReadFailure(record.name);
  }
  *hex = RXM::Sha256::Hex(digest.Finish());
  return RXM::Status::Ok();
}

RXM::Status OpenedArchive::CheckSum(int index, const std::vector<RXM::EntrySum>& sums, bool stale) {
  const std::string name = GetName(index);
  const std::string subject = shown + ": " + name;
  const RXM::EntrySum* line = nullptr;
  for (const RXM::EntrySum& sum : sums) {
    line = sum.name == name ? &sum : line;  // the last line of that name, as a lookup finds
  }
  if (line == nullptr) {
    return RXM::Status(RXM::ErrorCode::kNoSuchEntry, subject + ": not in the sums file");
  }
  std::string actual;
  const RXM::Status hashed = HashEntry(index, &actual);
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
  const RXM::Status read = ReadSums(&checkSums, &checkStale);
  const RXM::ErrorCode code = read.GetCode();
  if (code == RXM::ErrorCode::kNoSuchFile || code == RXM::ErrorCode::kRemoteNotFound) {
    reporter.Fail(shown, "--check: no sums file (kymf sums " + shown + " writes one)");
    return false;
  }
  if (!read.IsOk()) {
    reporter.Fail(read);
    return false;
  }
  checking = true;
  return true;
}

RXM::Status OpenedArchive::CheckAgainstSums(int index) {
  return checking ? CheckSum(index, checkSums, checkStale) : RXM::Status::Ok();
}

void ReportUnmatched(const Selection& selection, const std::string& archive, Reporter& reporter) {
  for (const std::string& pattern : selection.Unmatched()) {
    reporter.Fail(archive + ": " + pattern, RXM::Describe(RXM::ErrorCode::kNoSuchEntry));
  }
}

}  // namespace kymf
