// One source of files mounted into a SearchPath.
#ifndef RXMFILES_SEARCHPATH_MOUNTEDSOURCE_H
#define RXMFILES_SEARCHPATH_MOUNTEDSOURCE_H

#include <set>
#include <string>

#include "files/KYFile.h"
#include "files/Status.h"
#include "framework/Pointer.h"

namespace RXM {

// What a SearchPath asks of a folder, an archive or a module. Names given to
// a source are relative to its mount point and have passed CheckSafeName
// (the folder "" is the source's root). A source does not change once made,
// and every operation may be called from any number of threads at once.
class MountedSource {
 public:
  MountedSource() = default;
  MountedSource(const MountedSource&) = delete;
  MountedSource& operator=(const MountedSource&) = delete;
  virtual ~MountedSource() = default;

  // A new read-only stream over `name`, or null: with `why` left as it was
  // (Ok) when the source has no such file, so that the search goes on; with
  // a failure in `why` when it has the file but refuses it (an archive's
  // entry that its file cannot hold: kTruncated), which ends the search.
  virtual Pointer<KYFile> Open(const std::string& name, Status& why) const = 0;
  // The size of the file `name` in bytes; -1 when the source has none or
  // refuses it, `why` as Open sets it.
  virtual long GetSize(const std::string& name, Status& why) const = 0;
  // Adds to `names` the names (files and folders) directly in `folder`.
  virtual void List(const std::string& folder, std::set<std::string>& names) const = 0;
  // Whether `folder` (not "") is a folder of this source: by default,
  // whether List finds anything in it.
  virtual bool HasFolder(const std::string& folder) const {
    std::set<std::string> names;
    List(folder, names);
    return !names.empty();
  }
};

}  // namespace RXM

#endif  // RXMFILES_SEARCHPATH_MOUNTEDSOURCE_H
