#include "searchpath/ArchiveSource.h"

#include "backends/HttpFile.h"
#include "files/SafeName.h"
#include "multifile/ArchiveFormat.h"
#include "remote/Url.h"

namespace RXM {

std::shared_ptr<const ArchiveSource> ArchiveSource::Load(const std::string& path,
                                                         sys::System& system, Status& why,
                                                         bool checkSums) {
  auto source = std::make_shared<ArchiveSource>(system);
  // A URL is read through an HttpFile, whose entry streams read the object
  // from many threads at once, as those of a file on disk do.
  const Pointer<KYFile> file(IsRemoteUrl(path.c_str()) ? new HttpFile() : nullptr);
  if (!source->archive.OpenMultiFile(file, path.c_str())) {
    why = source->archive.GetStatus();
    return nullptr;
  }
  if (checkSums) {
    const Status sums = source->archive.LoadSums();
    const ErrorCode code = sums.GetCode();
    if (!sums.IsOk() && code != ErrorCode::kNoSuchFile && code != ErrorCode::kRemoteNotFound) {
      why = sums;  // a sums file that cannot be read is no archive to trust
      return nullptr;
    }
  }
  return source;
}

// An entry that is not there leaves `why` alone; one that is there but
// cannot be read whole is refused with the archive's reason.
const MultiFileElement* ArchiveSource::Find(const std::string& name, Status& why) const {
  ErrorCode code = ErrorCode::kOk;
  const MultiFileElement* element = archive.FindWhole(name.c_str(), code);
  if (code == ErrorCode::kOk) {
    return element;
  }
  if (code != ErrorCode::kNoSuchEntry) {
    why = archive.Explain(code, name.c_str(), element);
  }
  return nullptr;
}

Pointer<KYFile> ArchiveSource::Open(const std::string& name, Status& why) const {
  const MultiFileElement* element = Find(name, why);
  if (element == nullptr) {
    return nullptr;
  }
  const Status summed = archive.CheckEntrySum(element->name);  // Ok without sums
  if (!summed.IsOk()) {
    why = summed;
    return nullptr;
  }
  return archive.StreamOver(*element, &why);
}

long ArchiveSource::GetSize(const std::string& name, Status& why) const {
  const MultiFileElement* element = Find(name, why);
  return element == nullptr ? -1 : static_cast<long>(kymf::EntrySize(*element));
}

// Folder names compare as entry names do, with the ASCII letters folded;
// each child keeps its spelling in the entry, and spellings that differ in
// case are listed each (as the entries hold them).
const ArchiveSource::FolderIndex& ArchiveSource::Folders() const {
  std::call_once(indexed, [this] {
    const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
    for (int i = directory.GetCount() - 1; i >= 0; --i) {
      const MultiFileElement* element = directory.Peek(i);
      if (element == nullptr || CheckSafeName(element->name) != NameFault::kNone) {
        continue;
      }
      const std::string name = element->name;
      std::string folder;  // folded, "" the root
      for (std::size_t start = 0;;) {
        const std::size_t slash = name.find('/', start);
        folders[folder].insert(name.substr(start, slash - start));
        if (slash == std::string::npos) {
          break;
        }
        folder = kymf::FoldName(name.substr(0, slash).c_str());
        start = slash + 1;
      }
    }
  });
  return folders;
}

void ArchiveSource::List(const std::string& folder, std::set<std::string>& names) const {
  const FolderIndex& index = Folders();
  const auto children = index.find(kymf::FoldName(folder.c_str()));
  if (children != index.end()) {
    names.insert(children->second.begin(), children->second.end());
  }
}

bool ArchiveSource::HasFolder(const std::string& folder) const {
  return Folders().count(kymf::FoldName(folder.c_str())) != 0;
}

}  // namespace RXM
