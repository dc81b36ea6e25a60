// One open archive, as every reader of it holds it: MultiFile (its entry
// streams and its open entry), the search path's archive source, the writer
// that copies kept entries, and the mount.
#ifndef RXMFILES_MULTIFILE_ARCHIVECORE_H
#define RXMFILES_MULTIFILE_ARCHIVECORE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "backends/System.h"
#include "files/ByteSource.h"
#include "files/KYFile.h"
#include "files/Status.h"
#include "framework/Export.h"
#include "framework/Pointer.h"
#include "multifile/ArchiveFinding.h"
#include "multifile/EntryLookup.h"
#include "multifile/MultiFileElement.h"
#include "multifile/PointerArray.h"
#include "multifile/SpreadHold.h"

class DiskFile;

namespace RXM {
struct SumsTable;

namespace multifile {

// What each entry stream of an archive keeps: its reader and the archive's
// name.
struct EntryStreamParts {
  std::shared_ptr<const ByteSource> reader;
  std::string archive;
};

// The directory read from the one file that was opened, the lookup over it,
// and that same file's bytes: a positional reader (a second handle on the
// open file, or a remote object's ranges) that entry streams on any number
// of threads read at their own offsets, never the name opened again. An
// archive put in place of the name while this one is held changes nothing
// read through it.
//
// Made once by Open and then never changed: every const operation may run on
// many threads at once. How the archive's file is read is decided here, once,
// from what the file is:
//  - a DiskFile of the library's own: records read in large blocks, entries
//    through a second handle on the open file (System::duplicateForReading);
//  - an HttpFile: the directory in one request, entries by ranges of the one
//    object (its validator pins the version);
//  - any other KYFile (a caller's): one call per record, and each entry
//    opened is copied out through the file, since no second handle exists.
class RXMFILES_API ArchiveCore {
 public:
  // Opens the archive `name` through `file` (a new DiskFile over `system`
  // when null) and reads its header and directory. Null on failure, with the
  // reason in `why` (the file's, the reader's) and `reached` telling whether
  // the file itself opened (false: it could not be opened at all). A URL is
  // named with its credentials hidden in every message.
  static std::shared_ptr<const ArchiveCore> Open(sys::System& system, Pointer<KYFile> file,
                                                 const std::string& name, Status& why,
                                                 bool& reached);

  ArchiveCore(const ArchiveCore&) = delete;
  ArchiveCore& operator=(const ArchiveCore&) = delete;
  ~ArchiveCore();

  // The archive as messages name it.
  const std::string& Name() const { return name; }
  // The file it was read through; still open unless its holder closed it.
  const Pointer<KYFile>& File() const { return archiveFile; }
  bool IsRemote() const { return remote; }
  // Every record, in order; no slot is empty.
  const PointerArray<MultiFileElement>& Directory() const { return directory; }
  // The file's size when the directory was read.
  std::int64_t Size() const { return fileSize; }

  // The record index that `name` finds (the last equal name, ASCII letters
  // folded), or -1.
  int Lookup(const char* wanted) const { return lookup.Find(wanted, directory); }
  // The record `name` finds (null with kNoSuchEntry in `code`), and whether
  // the file holds all its bytes (kOk, or CheckReadable's refusal). No text
  // is made, so a lookup that misses costs no more than the lookup.
  const MultiFileElement* Find(const char* name, ErrorCode& code) const;
  // The Status for Find's `code` about `name`, found as `element`.
  Status Explain(ErrorCode code, const char* name, const MultiFileElement* element) const;
  // Ok when the file holds all of `element`'s bytes and they are its own;
  // CheckReadable's refusal, with its reason, otherwise.
  Status Readable(const MultiFileElement& element) const;
  // "<archive>: <entry>", for messages.
  std::string Subject(const MultiFileElement& element) const;

  // A new read-only stream over `element`'s bytes, reading by position; null
  // when a copy of them cannot be had (a caller's file), with the reason in
  // `why` when given.
  Pointer<KYFile> OpenEntry(const MultiFileElement& element, Status* why) const;
  // The positional reader of the file, or null for a caller's file.
  const std::shared_ptr<const ByteSource>& Reader() const { return reader; }
  // A new handle of `system` on the very file the directory was read from,
  // for positional reads (a copy inside the kernel); the caller closes it.
  // kNoHandle (errno set) through a file that is no DiskFile, one its holder
  // closed, or when the system refuses a second handle.
  sys::Handle Duplicate() const;

  // Every fault of the layout, up to `limit` of them (CheckLayout).
  LayoutReport Check(std::size_t limit) const;

  // The sums file beside the archive ("<archive>.sha256"), read or fetched
  // into `table`: Ok; kNoSuchFile or kRemoteNotFound when there is none; the
  // reason a file that is no sums file was refused.
  Status LoadSums(std::shared_ptr<const SumsTable>* table) const;
  // Ok with no `sums`, or when the `size` bytes at `data` are `element`'s
  // sum; kDamaged (naming the entry and both sums) or kNoSuchEntry otherwise.
  Status CheckBytes(const SumsTable* sums, const MultiFileElement& element, const void* data,
                    std::size_t size) const;
  // Ok with no `sums`, or when the entry `name`, read whole, matches its
  // sum; kDamaged, kNoSuchEntry, or why the entry cannot be read.
  Status CheckEntrySum(const SumsTable* sums, const char* name) const;

 private:
  ArchiveCore(sys::System& system, Pointer<KYFile> file, std::string name, bool remote);
  // Reads the directory, `recordsPerRead` records per call of the file.
  Status LoadDirectory(std::int32_t recordsPerRead);
  // A stream over a copy of `element`'s bytes read through the file.
  Pointer<KYFile> CopyEntry(const MultiFileElement& element) const;

  sys::System& system;
  Pointer<KYFile> archiveFile;
  DiskFile* disk = nullptr;  // `archiveFile`, when it is one
  std::string name;
  bool remote;
  PointerArray<MultiFileElement> directory;
  EntryLookup lookup;
  std::int64_t fileSize = -1;
  std::shared_ptr<const ByteSource> reader;
  // What each entry stream keeps, held through a lane of the processor the
  // stream is opened on, so that threads opening entries at once do not
  // count on one cache line.
  SpreadHold<EntryStreamParts> streamParts;
};

}  // namespace multifile
}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ARCHIVECORE_H
