#include "support/OpenedArchive.h"

#include <unordered_set>

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
  if (!archive.OpenMultiFile(Pointer<KYFile>(remote ? new HttpFile() : nullptr), file.c_str())) {
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

std::string OpenedArchive::GetName(int index) const {
  return archive.GetDirectory().GetAt(index)->name;
}

std::uint32_t OpenedArchive::GetSize(int index) const {
  return RXM::kymf::EntrySize(*archive.GetDirectory().GetAt(index));
}

void OpenedArchive::FindShadowed() {
  const int count = GetCount();
  shadowed.assign(static_cast<std::size_t>(count), false);
  std::unordered_set<std::string> later;
  for (int i = count - 1; i >= 0; --i) {
    shadowed[static_cast<std::size_t>(i)] =
        !later.insert(RXM::kymf::FoldName(GetName(i).c_str())).second;
  }
}

void ReportUnmatched(const Selection& selection, const std::string& archive, Reporter& reporter) {
  for (const std::string& pattern : selection.Unmatched()) {
    reporter.Fail(archive + ": " + pattern, RXM::Describe(RXM::ErrorCode::kNoSuchEntry));
  }
}

}  // namespace kymf
