// What a search path source is: decided in one place for SearchPath::Mount,
// kymf --path and kymf mount.
#ifndef RXMFILES_SEARCHPATH_SOURCEKIND_H
#define RXMFILES_SEARCHPATH_SOURCEKIND_H

#include <memory>
#include <string>

#include "backends/System.h"
#include "files/Status.h"
#include "framework/Export.h"
#include "searchpath/MountedSource.h"

namespace RXM {

enum class SourceKind {
  kArchive,  // a KYMF archive: a file that begins with the magic, or an http(s) URL
  kFolder,   // a folder on disk
  kModule,   // any other regular file: the module reader decides whether it is one
};

// What `source` names, examined through `system` (a URL is not examined: it
// is an archive, or nothing). True with `kind` set; false with the reason in
// `why` for a name that cannot be examined (OpenFailure's reasons) or names
// something that is neither a regular file nor a folder (kNotAnArchive).
RXMFILES_API bool IdentifySource(const std::string& source, sys::System& system, SourceKind* kind,
                                 Status& why);

// `source`, identified as `kind`, loaded by the reader of that kind: null
// with that reader's reason in `why`; a regular file that is neither archive
// nor module says so (NotASource), naming what was tried. With `checkSums`,
// an archive's entries are held to the sums file beside it.
std::shared_ptr<const MountedSource> LoadSource(SourceKind kind, const std::string& source,
                                                sys::System& system, Status& why, bool checkSums);

}  // namespace RXM

#endif  // RXMFILES_SEARCHPATH_SOURCEKIND_H
