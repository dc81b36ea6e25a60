#include "searchpath/SearchPathWalk.h"

#include "files/SafeName.h"
#include "files/Text.h"

namespace RXM {

Status WalkSearchPath(const SearchPath& path, const std::string& folder,
                      const std::function<bool(const PathEntry& entry)>& visit) {
  Status listed;
  for (const ListedName& name : path.ListKinds(folder.c_str(), listed)) {
    PathEntry entry;
    entry.name = folder.empty() ? name.name : Concat({folder, "/", name.name});
    if (CheckSafeName(entry.name.c_str()) != NameFault::kNone) {
      entry.kind = PathKind::kUnsafeName;
      visit(entry);
      continue;
    }
    // A file anywhere hides a folder of its name: Open would find the file.
    entry.size = name.file ? path.GetSize(entry.name.c_str(), entry.why) : -1;
    if (entry.size >= 0) {
      entry.kind = PathKind::kFile;
    } else if (name.file && entry.why.GetCode() != ErrorCode::kNoSuchEntry) {
      entry.kind = PathKind::kRefusedFile;
    } else if (name.folder) {
      entry.kind = PathKind::kFolder;
      entry.why = Status::Ok();
      if (visit(entry)) {
        WalkSearchPath(path, entry.name, visit);
      }
      continue;
    } else {
      continue;  // gone since the listing
    }
    visit(entry);
  }
  return listed;
}

}  // namespace RXM
