// The sums of an archive's entries, read from the archive itself: computed
// (ComputeSums), written anew under the archive's lock (RefreshSums), and
// kept current by the writers that replace the archive (SumsUpdate). The
// sums file's own text and rules are ArchiveSums.h's.
#ifndef RXMFILES_MULTIFILE_ARCHIVEDIGEST_H
#define RXMFILES_MULTIFILE_ARCHIVEDIGEST_H

#include <map>
#include <string>
#include <vector>

#include "backends/System.h"
#include "files/Status.h"
#include "framework/Export.h"
#include "multifile/ArchiveLock.h"
#include "multifile/ArchiveSums.h"

namespace RXM {

// The sums of every entry of the archive `archive`, in directory order. An
// entry named in `reuse` (by its name as stored) takes the sum given there
// without being read. A failure names the archive or the entry whose bytes
// could not be read (the layout rule's reason for an entry it refuses).
// With `threads` above 1, that many threads (this one among them) read and
// digest entries at once, and are done when it returns; by default the
// library starts none.
RXMFILES_API Status ComputeSums(sys::System& system, const std::string& archive,
                                const std::map<std::string, std::string>& reuse,
                                std::vector<EntrySum>* sums, unsigned threads = 1);

// Writes the sums file of the archive `archive` anew, every entry read,
// while holding the archive's lock (waiting for another writer as `wait`
// says), so that no writer replaces the archive meanwhile. The number of
// sums in *count; `threads` as ComputeSums. On failure (the archive's
// reason, kBusy, ...) the old sums file, if any, is as it was.
RXMFILES_API Status RefreshSums(sys::System& system, const std::string& archive,
                                const LockWait& wait, int* count, unsigned threads = 1);

// Keeps the sums file of one archive current across a replacement of the
// archive: made while the old archive is still in place (whose sums file, if
// current, gives the kept entries' sums without reading them), finished once
// the new archive has taken its place and before its lock is given up. A
// writer that finds no sums file writes none, unless asked to create one.
class RXMFILES_API SumsUpdate {
 public:
  // `archive`: the archive's name as given (the sums file lies beside it);
  // `target`: the file it names, links followed.
  // `threads` as ComputeSums.
  SumsUpdate(sys::System& system, std::string archive, std::string target, bool create,
             unsigned threads = 1);
  // The entry stored as `storedName` in the old archive keeps its bytes in
  // the new one under `newName`.
  void Keep(const std::string& storedName, const std::string& newName);
  // Writes the new archive's sums file; Ok when none was wanted. On failure
  // the old sums file stays, written before the archive file was made: stale, as verify says.
  Status Finish();

 private:
  sys::System& system;
  std::string archive;
  std::string target;
  bool wanted;
  unsigned threads;
  std::map<std::string, std::string> old;    // stored name -> sum, of a current sums file
  std::map<std::string, std::string> reuse;  // new name -> sum
};

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ARCHIVEDIGEST_H
