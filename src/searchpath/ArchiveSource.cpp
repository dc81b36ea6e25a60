#include "searchpath/ArchiveSource.h"

#include "backends/HttpFile.h"
#include "files/SafeName.h"
#include "files/Url.h"
#include "multifile/ArchiveFormat.h"

namespace RXM {

std::shared_ptr<const ArchiveSource> ArchiveSource::Load(const std::string& path,
                                                         sys::System& system, Status& why,
                                                         bool checkSums) {
  // A URL is read through an HttpFile, whose entry streams read the object
  // from many threads at once, as those of a file on disk do.
  const Pointer<KYFile> file(IsRemoteUrl(path.c_str()) ? new HttpFile() : nullptr);
  bool reached = false;
  std::shared_ptr<const multifile::ArchiveCore> core =
      multifile::ArchiveCore::Open(system, file, path, why, reached);
  if (!core) {
    return nullptr;
  }
  std::shared_ptr<const SumsTable> sums;
  if (checkSums) {
    const Status loaded = core->LoadSums(&sums);
    if (!loaded.IsOk() && !IsNoSumsFile(loaded)) {
      why = loaded;  // a sums file that cannot be read is no archive to trust
      return nullptr;
    }
  }
  return std::make_shared<const ArchiveSource>(std::move(core), std::move(sums));
}

// An entry that is not there leaves `why` alone; one that is there but
// cannot be read whole is refused with the archive's reason.
const MultiFileElement* ArchiveSource::Find(const std::string& name, Status& why) const {
  ErrorCode code = ErrorCode::kOk;
  const MultiFileElement* element = archive->Find(name.c_str(), code);
  if (code == ErrorCode::kOk) {
    return element;
  }
  if (code != ErrorCode::kNoSuchEntry) {
    why = archive->Explain(code, name.c_str(), element);
  }
  return nullptr;
}

Pointer<KYFile> ArchiveSource::Open(const std::string& name, Status& why) const {
  const MultiFileElement* element = Find(name, why);
  if (element == nullptr) {
    return nullptr;
  }
  const Status summed = archive->CheckEntrySum(sums.get(), element->name);  // Ok without sums
  if (!summed.IsOk()) {
    why = summed;
    return nullptr;
  }
  return archive->OpenEntry(*element, &why);
}

SourceStat ArchiveSource::Stat(const std::string& name, Status& why) const {
  SourceStat stat;
  Status refused;
  const MultiFileElement* element = Find(name, refused);
  if (element != nullptr) {
    stat.kinds = kFileName;
    stat.size = static_cast<long>(multifile::EntrySize(*element));
  } else if (!refused.IsOk()) {
    stat.kinds = kFileName;  // there, but its bytes cannot be read
    why = refused;
  }
  if (Folders().count(multifile::FoldName(name.c_str())) != 0) {
    stat.kinds |= kFolderName;
  }
  return stat;
}

// Folder names compare as entry names do, with the ASCII letters folded;
// each child keeps its spelling in the entry, and spellings that differ in
// case are listed each (as the entries hold them).
const ArchiveSource::FolderIndex& ArchiveSource::Folders() const {
  std::call_once(indexed, [this] {
    const PointerArray<MultiFileElement>& directory = archive->Directory();
    for (int i = directory.GetCount() - 1; i >= 0; --i) {
      const MultiFileElement* element = directory.Peek(i);
      if (element == nullptr || CheckSafeName(element->name) != NameFault::kNone) {
        continue;
      }
      const std::string name = element->name;
      std::string folder;  // folded, "" the root
      for (std::size_t start = 0;;) {
        const std::size_t slash = name.find('/', start);
        folders[folder][name.substr(start, slash - start)] |=
            slash == std::string::npos ? kFileName : kFolderName;
        if (slash == std::string::npos) {
          break;
        }
        folder = multifile::FoldName(name.substr(0, slash).c_str());
        start = slash + 1;
      }
    }
  });
  return folders;
}

long ArchiveSource::GetSize(const std::string& name, Status& why) const {
  const MultiFileElement* element = Find(name, why);
  return element == nullptr ? -1 : static_cast<long>(multifile::EntrySize(*element));
}

void ArchiveSource::List(const std::string& folder, Listing& names) const {
  const FolderIndex& index = Folders();
  const auto children = index.find(multifile::FoldName(folder.c_str()));
  if (children != index.end()) {
    for (const auto& [name, kinds] : children->second) {
      names[name] |= kinds;
    }
  }
}

}  // namespace RXM
