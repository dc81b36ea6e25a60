// What is wrong, or merely unusual, about the records of an archive: the
// checks that opening leaves out, for tools and programs that want them.
#ifndef RXMFILES_MULTIFILE_ARCHIVELAYOUT_H
#define RXMFILES_MULTIFILE_ARCHIVELAYOUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/Export.h"
#include "multifile/ArchiveFinding.h"
#include "multifile/ArchiveFormat.h"

namespace RXM {
namespace multifile {

// Every finding about the `count` records at `records` of an archive of
// `fileSize` bytes, ordered by entry (and by kind within an entry). Empty for
// an archive the library wrote. Names are read within their 70 bytes only.
// O(N log N) in the number of records.
RXMFILES_API std::vector<Finding> CheckLayout(const DirectoryRecord* records, int count,
                                              std::int64_t fileSize);

// The same findings, only the first `limit` of them kept: memory for
// `limit` findings and O(count) indexes, whatever the records hold.
RXMFILES_API LayoutReport CheckLayout(const DirectoryRecord* records, int count,
                                      std::int64_t fileSize, std::size_t limit);

// Why the data of `record` can be in no file: "data start at byte -5 before
// the start of the file" or "data end at byte 50 before the start at byte
// 88"; "" when the range is possible (an empty entry ends one byte before
// its start).
RXMFILES_API std::string DescribeImpossibleRange(const DirectoryRecord& record);

// The one rule of whether the bytes that `record` names can be read as its
// entry's own, in an archive of `count` records and `fileSize` bytes: every
// reader of an entry (streams, extraction, the search path, the mount,
// kymf, the writers that copy kept entries) asks it before reading. kOk, or
// why not, with `reason` (when given) saying it after "<archive>: <entry>: ":
//  - kImpossibleRange: the data start before the file, or end before they
//    start ("data end at byte 50 before the start at byte 88");
//  - kDamagedEntry: the data start inside the header or the directory
//    ("data inside the header: data start at byte 0 inside the header and
//    directory (88 bytes)"), bytes that are no entry's;
//  - kTruncated: the data run past the file's end ("truncated at byte N",
//    N the file's size).
// An empty entry has no bytes to be wrong: only where it starts is checked.
RXMFILES_API ErrorCode CheckReadable(const DirectoryRecord& record, std::int32_t count,
                                     std::int64_t fileSize, std::string* reason = nullptr);

}  // namespace multifile
}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ARCHIVELAYOUT_H
