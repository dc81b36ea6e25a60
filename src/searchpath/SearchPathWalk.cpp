#include "searchpath/SearchPathWalk.h"

#include "files/SafeName.h"
#include "files/Text.h"

namespace RXM {

Status WalkSearchPath(const SearchPath& path, const std::string& folder,
                      const std::function<bool(const PathEntry& entry)>& visit) {
  Status listed;
  for (const std::string& name : path.List(folder.c_str(), listed)) {
    PathEntry entry;
    entry.name = folder.empty() ? name : Concat({folder, "/", name});
    if (CheckSafeName(entry.name.c_str()) != NameFault::kNone) {
      entry.kind = PathKind::kUnsafeName;
      visit(entry);
      continue;
    }
    entry.size = path.GetSize(entry.name.c_str(), entry.why);
    if (entry.size >= 0) {
      entry.kind = PathKind::kFile;
    } else if (entry.why.GetCode() != ErrorCode::kNoSuchEntry) {
      entry.kind = PathKind::kRefusedFile;
    } else if (path.IsFolder(entry.name.c_str())) {
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
