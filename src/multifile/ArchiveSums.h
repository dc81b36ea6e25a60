// The sums file beside an archive: "NAME.kymf.sha256", one line per entry in
// GNU sha256sum's own format (64 lowercase hex digits, two spaces, the entry's
// name as stored; a name holding a backslash or a line feed is escaped as
// sha256sum escapes it, the line then beginning with a backslash), in
// directory order. So `sha256sum -c` checks an extracted tree with nothing
// but coreutils, and the archive's own bytes stay exactly as the format has
// them.
//
// Which of the two is current: a writer of the archive replaces the archive
// first and its sums file second, each the safe way (temporary file, sync,
// rename), so the sums file of a consistent pair was written after the
// archive file was made. A sums file written before its archive was made
// was left behind, by a crash between the two renames or by a tool that
// rewrote the archive without knowing about sums: it is stale, and a
// mismatch then says so rather than calling the entry damaged. The same
// holds when the names differ.
#ifndef RXMFILES_MULTIFILE_ARCHIVESUMS_H
#define RXMFILES_MULTIFILE_ARCHIVESUMS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "backends/System.h"
#include "files/Status.h"
#include "framework/Export.h"

namespace RXM {

struct EntrySum {
  std::string name;  // as stored in the archive
  std::string hex;   // 64 lowercase hexadecimal digits
};

inline bool operator==(const EntrySum& a, const EntrySum& b) {
  return a.name == b.name && a.hex == b.hex;
}

// A sums file's lines by entry name (the last line of a name), as a
// MultiFile holds them to check entries read whole.
struct SumsTable {
  std::map<std::string, std::string> byName;
};

// The sums file of the archive `archive` (a path or a URL): archive + ".sha256".
RXMFILES_API std::string SumsPathOf(const std::string& archive);

// sha256sum's text for `sums`, a line each.
RXMFILES_API std::string FormatSums(const std::vector<EntrySum>& sums);
// The lines of a sums file's `text` (named `file` in a failure). Accepts
// sha256sum's binary marker ("HEX *NAME") too. kNotAnArchive, naming the
// file and the line, for a line that is not a sum.
RXMFILES_API Status ParseSums(const std::string& text, const std::string& file,
                              std::vector<EntrySum>* sums);

// The sums file `file`, read and parsed; kNoSuchFile when there is none,
// kNotARegularFile for a FIFO, socket or device (never waited on).
RXMFILES_API Status ReadSums(sys::System& system, const std::string& file,
                             std::vector<EntrySum>* sums);
// Whether `read`, the failure to read an archive's sums file, says only that
// there is none: kNoSuchFile beside a file, kRemoteNotFound over the
// network. An archive without a sums file is read unchecked; any other
// failure is a sums file that cannot be trusted, and fails what needed it.
RXMFILES_API bool IsNoSumsFile(const Status& read);

// Puts `sums`, the sums of the archive file `archive`, under `file` in one
// step (temporary file beside it, sync, rename, folder sync); on failure the
// old file is as it was. A link under `file` is replaced, never followed.
// The new file's modification time is made later
// than the archive file's birth, however coarse the file system's clock, so
// that the pair is never taken for a stale one.
RXMFILES_API Status WriteSums(sys::System& system, const std::string& file,
                              const std::string& archive, const std::vector<EntrySum>& sums);

// The digest of `size` bytes at `offset` of `handle` (named `subject` in a
// failure), read in large blocks; kTruncated when the file ends first.
RXMFILES_API Status HashRange(sys::System& system, sys::Handle handle, std::uint64_t offset,
                              std::uint64_t size, const std::string& subject, std::string* hex);
// Whether the archive file `archive` was made after (or in the same step of
// the file system's clock as) the sums file `file` was last written: the archive was replaced since
// (by a writer that knew nothing of sums, or by a crash between the two renames), so the sums file
// is stale. A file changed in place (a bad sector, a stray write) keeps its
// birth time, so its mismatches are damage, not staleness. False when either
// is missing or the system gives no birth time.
RXMFILES_API bool ArchiveNewerThanSums(sys::System& system, const std::string& archive,
                                       const std::string& file);

// kDamaged for the entry `subject` ("ARCHIVE: ENTRY"), saying both sums.
RXMFILES_API Status Damaged(const std::string& subject, const std::string& expected,
                            const std::string& actual);

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ARCHIVESUMS_H
