// One source of files mounted into a SearchPath.
#ifndef RXMFILES_SEARCHPATH_MOUNTEDSOURCE_H
#define RXMFILES_SEARCHPATH_MOUNTEDSOURCE_H

#include <cstdint>
#include <map>
#include <string>

#include "files/KYFile.h"
#include "files/Status.h"
#include "framework/Pointer.h"

namespace RXM {

// What a name is in a source, as bits: an archive may hold a file "a" and
// files below "a/", so a name can be both.
enum NameKind : std::uint8_t {
  kFileName = 1,
  kFolderName = 2,
};

// The names of one folder, each with its NameKind bits.
using Listing = std::map<std::string, std::uint8_t>;

struct SourceStat {
  std::uint8_t kinds = 0;  // NameKind bits; none when the source has no such name
  long size = -1;          // a file's bytes; -1 when the source refuses it
};

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
  // What `name` is here, from the source's index where it has one (nothing
  // is opened but a folder's file, to learn its kind and size): no bits when
  // the source has nothing of that name. With kFileName, `size` is the file's
  // bytes, or -1 with `why` set as Open would set it when the source refuses
  // the file. A name may be a file and a folder at once in an archive, which
  // may hold both "a" and "a/b".
  virtual SourceStat Stat(const std::string& name, Status& why) const = 0;
  // Stat's size alone: -1 for no file, `why` as Stat sets it. A source whose
  // folders cost more to know than its files (an archive's index of folders,
  // built at its first use) answers without them.
  virtual long GetSize(const std::string& name, Status& why) const { return Stat(name, why).size; }
  // Adds to `names` each name directly in `folder` ("" the root) with what
  // it is, from the same index: its bits are or-ed into those of a name
  // already there, so one map gathers a folder over many sources.
  virtual void List(const std::string& folder, Listing& names) const = 0;
};

}  // namespace RXM

#endif  // RXMFILES_SEARCHPATH_MOUNTEDSOURCE_H
