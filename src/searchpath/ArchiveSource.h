// A KYMF archive mounted into a SearchPath.
#ifndef RXMFILES_SEARCHPATH_ARCHIVESOURCE_H
#define RXMFILES_SEARCHPATH_ARCHIVESOURCE_H

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "backends/System.h"
#include "multifile/ArchiveCore.h"
#include "multifile/ArchiveSums.h"
#include "searchpath/MountedSource.h"

namespace RXM {

// The entries of one archive, opened as MultiFile::OpenEntry opens them:
// names match as the archive's own lookup matches them (ASCII letters
// folded, the last equal name wins), and a name with "/" in it is a file in a
// folder. An entry whose name is no safe name can never be asked for and is
// not listed.
class ArchiveSource : public MountedSource {
 public:
  // The archive at `path` (a file, or an http(s) URL), read through `system`;
  // null when it cannot be opened as one, with the archive reader's reason
  // in `why`.
  // With `checkSums`, the sums file beside it is read too (none: nothing is
  // checked), and each entry opened is first read whole and held to its sum.
  static std::shared_ptr<const ArchiveSource> Load(const std::string& path, sys::System& system,
                                                   Status& why, bool checkSums = false);
  // Over the archive `core`, its entries held to `table` (none: unchecked).
  ArchiveSource(std::shared_ptr<const multifile::ArchiveCore> core,
                std::shared_ptr<const SumsTable> table)
      : archive(std::move(core)), sums(std::move(table)) {}

  Pointer<KYFile> Open(const std::string& name, Status& why) const override;
  // A file by the archive's lookup; a folder from the index of folders.
  SourceStat Stat(const std::string& name, Status& why) const override;
  // The archive's lookup alone: the index of folders is not built for it.
  long GetSize(const std::string& name, Status& why) const override;
  // From an index of the archive's folders made at the first call (a source
  // never changes): a folder's listing costs its children, not the archive's
  // entries, so walking a whole tree is linear in its entries.
  void List(const std::string& folder, Listing& names) const override;

 private:
  // The children (files and folders, with their NameKind bits) of each
  // folder that holds a listable entry, keyed by the folder's name with ASCII
  // letters folded ("" the root).
  using FolderIndex = std::map<std::string, Listing>;
  const FolderIndex& Folders() const;

  // The entry `name` when the archive's file holds all of it; null otherwise,
  // with the reason in `why` when the entry is there but refused.
  const MultiFileElement* Find(const std::string& name, Status& why) const;

  // Opened once by Load, then read from many threads at once.
  std::shared_ptr<const multifile::ArchiveCore> archive;
  std::shared_ptr<const SumsTable> sums;  // null: nothing is checked
  mutable std::once_flag indexed;
  mutable FolderIndex folders;
};

}  // namespace RXM

#endif  // RXMFILES_SEARCHPATH_ARCHIVESOURCE_H
