#include "support/OpenedArchive.h"

#include <unordered_map>

#include "multifile/ArchiveFormat.h"
#include "remote/Url.h"

namespace kymf {

bool OpenedArchive::Open(const std::string& path, Reporter& reporter) {
  remote = RXM::IsRemoteUrl(path.c_str());
  shown = RXM::RedactUrl(path);
  std::string file = path;
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

void ReportUnmatched(const Selection& selection, const std::string& archive, Reporter& reporter) {
  for (const std::string& pattern : selection.Unmatched()) {
    reporter.Fail(archive + ": " + pattern, RXM::Describe(RXM::ErrorCode::kNoSuchEntry));
  }
}

}  // namespace kymf
