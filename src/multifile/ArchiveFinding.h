// What the layout check (MultiFile::CheckArchive) finds wrong, or merely
// unusual, about the records of an archive.
#ifndef RXMFILES_MULTIFILE_ARCHIVEFINDING_H
#define RXMFILES_MULTIFILE_ARCHIVEFINDING_H

#include <cstdint>
#include <string>
#include <vector>

#include "framework/Export.h"

namespace RXM {
namespace multifile {

/// What a Finding is about.
enum class FindingKind {
  kUnsafeName,    ///< error: the name cannot safely become a path (docs/format.md, Names)
  kPathClash,     ///< error: the name is an entry and the folder of another ("x" beside "x/y")
  kShadowedName,  ///< warning: an earlier record of an equal name is hidden by this one
  kDataPastEnd,   ///< error: the data end past the end of the file
  kNegativeSize,  ///< error: dataEnd lies before dataStart - 1
  kDataInHeader,  ///< error: the data start inside the header or the directory
  kOverlap,       ///< warning: the data share bytes with another entry's
  kLayoutBreak,   ///< warning: a gap, data out of directory order, or bytes after the last entry
};

/// Whether a Finding is an error (the entry cannot be read as its own, or
/// cannot be extracted) or a warning.
enum class Severity {
  kWarning,  ///< unusual, but every entry reads as its own
  kError,    ///< an entry that cannot be read or extracted as its own
};

/// One thing wrong, or merely unusual, about an archive's records.
struct Finding {
  int entry;           ///< index of the record concerned (-1: the archive as a whole)
  int other;           ///< the other record involved (shadowing, overlap, clash), or -1
  FindingKind kind;    ///< what is wrong or unusual
  Severity severity;   ///< whether it is an error or a warning
  std::string reason;  ///< for people, e.g. "shadows record 3 (Readme.txt)"
};

/// Findings cut to a number that memory can hold whatever an archive claims.
struct LayoutReport {
  std::vector<Finding> first;  ///< the first findings, in the order CheckArchive gives them
  std::int64_t total = 0;      ///< how many findings there are in all
  std::int64_t errors = 0;     ///< how many of them are errors
};

/// A short name of the kind: "unsafe name", "shadowed name", ...
RXMFILES_API const char* DescribeFinding(FindingKind kind);

}  // namespace multifile
}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ARCHIVEFINDING_H
