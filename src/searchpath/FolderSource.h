// A folder on disk mounted into a SearchPath.
#ifndef RXMFILES_SEARCHPATH_FOLDERSOURCE_H
#define RXMFILES_SEARCHPATH_FOLDERSOURCE_H

#include <memory>
#include <string>

#include "backends/System.h"
#include "searchpath/MountedSource.h"

namespace RXM {

// The files below one folder. Every name is opened relative to the folder,
// one component after the other, without following a link (the seam's
// openBelow), so no name and no link planted inside the folder reaches a file
// outside it. Names match as the file system matches them.
class FolderSource : public MountedSource {
 public:
  // Reads through `system`.
  FolderSource(std::string folder, sys::System& system);

  Pointer<KYFile> Open(const std::string& name, Status& why) const override;
  // A regular file (of at most INT32_MAX bytes, as positions of 32 bits
  // reach) or a folder on disk below the root, empty or not, reached without
  // links; links and devices are nothing.
  SourceStat Stat(const std::string& name, Status& why) const override;
  // Files and folders only: links and devices are left out, as Open would
  // refuse them.
  void List(const std::string& folder, Listing& names) const override;

 private:
  sys::System& system;
  std::string root;
  std::shared_ptr<const std::string> origin;  // named in a refused write
};

}  // namespace RXM

#endif  // RXMFILES_SEARCHPATH_FOLDERSOURCE_H
