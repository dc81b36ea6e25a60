// The one walk over a search path's tree, for kymf list --path, kymf mount
// and rxm::SearchPath::walk.
#ifndef RXMFILES_SEARCHPATH_SEARCHPATHWALK_H
#define RXMFILES_SEARCHPATH_SEARCHPATHWALK_H

#include <functional>
#include <string>

#include "files/Status.h"
#include "framework/Export.h"
#include "searchpath/SearchPath.h"

namespace RXM {

// What a name of the tree is, as the search path answers for it.
enum class PathKind {
  kFile,         // a file: `size` its bytes
  kRefusedFile,  // a file the source that has it refuses (`why`: its bytes are not its own, ...)
  kFolder,       // a folder of some source, or a mount point's folder
  kUnsafeName,   // a name the search path never takes (no safe path): never opened or entered
};

struct PathEntry {
  std::string name;  // the full name: "/"-separated from the search path's root
  PathKind kind = PathKind::kFile;
  long size = -1;  // for kFile
  Status why;      // for kRefusedFile
};

// Visits every name below `folder` ("" the root), depth first, each folder's
// names in List's order. A name is what the first source that has it makes
// it, as Open finds it: a file hides a folder of the same name further on.
// `visit` is called once per name; for a folder, its answer says whether the
// walk goes into it. What each name is comes with its folder's listing
// (SearchPath::ListKinds); only a file costs a lookup more, for its size. Ok, or why `folder`
// itself is refused (List's reason: no safe name); nothing is visited then.
RXMFILES_API Status WalkSearchPath(const SearchPath& path, const std::string& folder,
                                   const std::function<bool(const PathEntry& entry)>& visit);

}  // namespace RXM

#endif  // RXMFILES_SEARCHPATH_SEARCHPATHWALK_H
