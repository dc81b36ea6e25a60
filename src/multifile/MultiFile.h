#ifndef RXMFILES_MULTIFILE_MULTIFILE_H
#define RXMFILES_MULTIFILE_MULTIFILE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/KYFile.h"
#include "files/Status.h"
#include "files/StreamRoom.h"
#include "framework/Export.h"
#include "framework/Pointer.h"
#include "framework/RTTIClass.h"
#include "framework/String.h"
#include "multifile/ArchiveFinding.h"
#include "multifile/MultiFileElement.h"
#include "multifile/PointerArray.h"

namespace RXM {
class ByteSource;
struct StreamPolicy;
struct SumsTable;
namespace multifile {
class ArchiveCore;
}
namespace sys {
class System;
}
}  // namespace RXM

/// A "KYMF" multi-file archive (its bytes: docs/format.md).
///
/// The object opens an archive through any KYFile (a DiskFile by default),
/// loads its directory, and keeps the archive's file open until the archive is
/// closed. While an archive is open the object is also a read-only KYFile over
/// one entry at a time: OpenFile picks the entry by name, and ReadData, Seek,
/// GetPosition, GetFileSize and EndOfFile see only that entry's bytes, fetched
/// straight from the archive's file. InsertFile adds a file by writing the
/// whole archive anew; ExtractToFile copies the open entry to a disk file.
///
/// Finding an entry by name (OpenFile, OpenEntry, InsertFile's check): the
/// first lookup after an open scans the directory, and the second builds an
/// index of its names that answers every later one in constant time. So an
/// open costs the reading of the records alone, and a program that lists an
/// archive or reads one entry from it never pays for the index.
///
/// Copies share the archive's file (and so its one file position), the open
/// entry and the directory's entries.
///
/// Threads: an object, with its copies, is used by one thread at a time, with
/// one exception: OpenEntry on an archive opened from disk or through an
/// HttpFile may be called from
/// any number of threads at once, as long as no thread calls anything else on
/// the object or its copies meanwhile (open the archive, then hand it to the
/// threads). The streams it returns are separate objects, each for one thread
/// at a time, reading through one handle that they hold by a thread-safe
/// count.
class RXMFILES_API MultiFile : public KYFile {
 public:
  /// Closed: no archive, no entry, an empty directory and name.
  MultiFile();
  /// Opens the archive `name` through a new DiskFile; ask IsMultiFileOpen.
  explicit MultiFile(const String& name);
  /// Closed, like MultiFile(), with every call to the system (the archive's
  /// DiskFiles, its reads, an insertion's writes and replace) going through
  /// `system`, which must outlive the object and its copies.
  explicit MultiFile(RXM::sys::System& system);
  /// Shares `other`'s archive file, directory and open entry (see above),
  /// with an entry position of its own.
  MultiFile(const MultiFile& other);
  /// Makes this object a copy of `other`, as the copy constructor does;
  /// returns this object.
  MultiFile& operator=(const MultiFile& other);
  /// Closes the archive and releases what the object holds.
  ~MultiFile() override;

  const RTTIClass* GetClass() const override;
  /// Answers "KYFile" and "MultiFile", nothing else.
  void* FindInterface(const char* name) const override;

  /// Writes the 8-byte empty archive under `name`, replacing any file of that
  /// name in one step, as MultiFileWriter does (whose lock, permissions and
  /// link rules apply). False when it cannot be written or put in place.
  static bool CreateEmptyMultiFile(const String& name);
  /// The same, through `system`.
  static bool CreateEmptyMultiFile(const String& name, RXM::sys::System& system);

  /// Closes whatever was open, then opens the archive `name` through `file`
  /// (shared with the caller), or through a new DiskFile when `file` is null,
  /// and loads its directory. True on success, leaving the archive's file open
  /// and no entry open. When the file cannot be opened, "Unable to open
  /// multi-file: <name>" goes to the debugger (a URL's credentials hidden);
  /// every other refusal (not a
  /// KYMF archive, a count the file cannot hold, a short or unterminated
  /// record) is silent. On failure the object is closed, and a caller's file
  /// is left open for the caller. GetStatus says why: kNoSuchFile, kIsAFolder,
  /// kNotARegularFile (a FIFO, socket or device, refused before it is read),
  /// kCannotOpen (with the system's reason), kNotAnArchive, kCountBeyondFile,
  /// kShortRecord, kUnterminatedName or kNoMemory, each naming the archive;
  /// through an HttpFile, the reason its OpenFile or reads gave (kRemote...),
  /// and messages name the URL with any credentials hidden.
  bool OpenMultiFile(Pointer<KYFile> file, const String& name);

  /// Closes the open entry and the archive's file and empties the directory.
  /// False when no archive is open, or when the archive's file refuses to
  /// close (the archive then stays open, its entry closed).
  bool CloseMultiFile();

  /// Whether an archive is open.
  bool IsMultiFileOpen();

  /// The directory as loaded: one element per record, in file order.
  const PointerArray<MultiFileElement>& GetDirectory() const;

  /// Why the last OpenMultiFile, OpenFile, InsertFile or ExtractToFile failed;
  /// Ok after its success. Changes nothing.
  const RXM::Status& GetStatus() const;

  /// Every finding of RXM::multifile::CheckLayout about the open archive's
  /// directory and its file's size (as measured when it was opened); empty
  /// when no archive is open. Changes nothing.
  std::vector<RXM::multifile::Finding> CheckArchive() const;
  /// The same, only the first `limit` findings kept (and how many there are),
  /// so that an archive of millions of damaged records costs memory for
  /// `limit` findings beyond a copy of its records.
  RXM::multifile::LayoutReport CheckArchive(std::size_t limit) const;

  /// Ok when the entry `name` (looked up as OpenFile does) exists and its
  /// bytes are its own and all in the archive's file (RXM::multifile::CheckReadable,
  /// the rule OpenEntry, ExtractToFile and the search path ask). Otherwise
  /// kNotOpen (no archive), kNoSuchEntry, kImpossibleRange (a negative start,
  /// or an end before the start: "<archive>: <entry>: data end at byte E
  /// before the start at byte S"), kDamagedEntry (data inside the header or
  /// the directory) or kTruncated ("<archive>: <entry>: truncated at byte N",
  /// N the file's size). Reads nothing and changes nothing. OpenFile opens
  /// such an entry all the same, as programs written for the element stream
  /// expect; this says whether what it reads is the entry's.
  RXM::Status CheckEntry(const String& name) const;

  /// The archive file's size in bytes as measured when it was opened; -1 when
  /// no archive is open.
  std::int64_t GetArchiveSize() const;

  /// A new handle for positional reads of the very file this archive was
  /// read from (an archive opened through a DiskFile), for a writer that
  /// copies kept entries inside the kernel: a handle of the System this
  /// object was made with (RXM::sys::Handle), which the caller closes through
  /// its closeHandle. -1 (kNoHandle) with no archive open, through another
  /// kind of file, or when the system refuses a second handle.
  std::intptr_t DuplicateArchiveHandle() const;

  // --- The open entry, as a read-only KYFile -----------------------------

  /// Closes the open entry, then opens the entry named `name` (ASCII letters
  /// compared without regard to case; of equal names, the one nearest the end
  /// of the directory). Throws a new Exception for the writing modes "w", "a",
  /// "at", "ab", "wt", "r+t", "wb" and "r+b" (exactly these strings); every
  /// other mode reads. False with no archive open (kNotOpen), no such entry
  /// (kNoSuchEntry), or when the archive's file cannot be positioned at the
  /// entry (kReadFailed); no entry is open then.
  bool OpenFile(String name, String mode) override;
  /// True when an entry was open. The constructor that opens an archive and the
  /// destructor reach it through OpenMultiFile and CloseMultiFile, where this
  /// class's own closing is the one meant.
  // cppcheck-suppress virtualCallInConstructor
  bool CloseFile() override;
  /// Whether an entry is open.
  bool IsFileOpened() override;
  /// Reads whole items only: an item that only partly remains in the entry is
  /// not read. 0 with no entry open, for `size` 0, or when the archive's file
  /// has been closed under the entry.
  unsigned int ReadData(void* buffer, unsigned int size, unsigned int count) override;
  /// 0 with no entry open; with one open, throws a new Exception and writes
  /// nothing.
  unsigned int WriteData(const void* buffer, unsigned int size, unsigned int count) override;
  /// The entry's size; 0 with no entry open.
  unsigned int GetFileSize() override;
  /// True with no entry open, or once the position has reached the entry's
  /// end. Not after a read that found too few bytes: the loop
  ///   while (!f->EndOfFile()) { if (f->ReadData(b, 1, n) == 0) break; ... }
  /// must stop on a read of 0 items as well, since an item larger than what
  /// is left, or an archive's file that ends before the entry (which
  /// CheckEntry reports beforehand) or shrinks, leaves EndOfFile false for
  /// good. The streams of OpenEntry end at a short read instead.
  bool EndOfFile() override;
  /// Moves within the entry, clamping a target outside it to its start or end.
  /// False with no entry open, another origin, or when the archive's file
  /// refuses the move (the position is then unchanged).
  bool Seek(long offset, int origin) override;
  /// The position inside the entry (the last one after the entry is closed;
  /// 0 before any entry was opened).
  long GetPosition() override;

  /// A new read-only stream over the entry `name`, found as OpenFile finds it,
  /// open at position 0 with a position of its own. Null with no archive open
  /// (why: kNotOpen), no such entry (kNoSuchEntry), or an entry whose bytes
  /// are not its own or not all in the archive's file as it was when opened
  /// (kImpossibleRange, kDamagedEntry, kTruncated: as CheckEntry says); `why`
  /// is Ok with a stream. The stream
  /// answers as OpenFile's entry does (see files/EntryStream.h), except that
  /// it ends (EndOfFile) at a short read, should the file shrink later, and
  /// it leaves this object's open entry, its file's position and GetStatus
  /// alone. It keeps what it reads alive: closing or
  /// destroying the MultiFile leaves it readable until it goes.
  ///  - An archive opened from disk (through a DiskFile, the default): the
  ///    stream reads with positional reads through one read-only handle that
  ///    every stream of the archive shares; nothing is copied and no lock is
  ///    taken, so any number of streams may read at once, on any threads.
  ///    The handle is the file that was opened, never the name opened again:
  ///    an archive put in its place later is not seen until the next
  ///    OpenMultiFile, as an open file on POSIX keeps its bytes.
  ///  - An archive opened through an HttpFile: the same, through the object's
  ///    block cache, which every stream of the archive shares; requests of
  ///    different streams run at once.
  ///  - An archive opened through a caller's other KYFile: the entry is read
  ///    whole through that file into memory the stream owns, and the file's
  ///    position is put back. This follows the file's one-thread rule: call
  ///    OpenEntry from the thread that uses this object. Null also when the
  ///    entry cannot be read whole or the memory cannot be had (kReadFailed).
  Pointer<KYFile> OpenEntry(const String& name, RXM::Status& why) const;
  /// The same, for a caller who needs no reason.
  Pointer<KYFile> OpenEntry(const String& name) const;

  /// Reads the sums file beside the open archive ("<archive>.sha256"; for an
  /// archive at a URL, fetched from "<URL>.sha256"). From then on
  /// ExtractToFile checks the entry it copies, and CheckEntrySum answers. Ok
  /// when read; kNoSuchFile or kRemoteNotFound when there is none (nothing is
  /// checked then); kNotOpen without an archive; the reason a file that is no
  /// sums file was refused. Copies made afterwards share the sums.
  RXM::Status LoadSums();
  /// Ok when no sums are loaded, or when the entry `name`, read whole, matches
  /// its sum; otherwise kDamaged (naming the entry and both sums),
  /// kNoSuchEntry when the sums file has no line for it, or why the entry
  /// cannot be read. Safe from many threads at once, as OpenEntry is.
  RXM::Status CheckEntrySum(const String& name) const;

  // --- Changing and copying out ------------------------------------------

  /// Adds the file `inputName`, read through `source` (a new DiskFile when
  /// null), as the last entry `entryName` (`inputName` when empty). The
  /// archive is written anew into "<archive>.tmp", which then replaces the
  /// archive in one step, and the archive is opened again through a new
  /// DiskFile: true when that reopening succeeds, with no entry open and the
  /// input closed.
  ///
  /// Refusals that change nothing on disk and leave no entry open:
  ///  - no archive open: false (kNotOpen);
  ///  - an archive opened through an HttpFile: false (kWriteFailed);
  ///  - an entry of that name (ASCII case ignored) exists: throws a new
  ///    Exception "ERROR: Attempted to insert <entry> into multifile
  ///    <archive>, but it already exists." (kAlreadyExists);
  ///  - a name of more than 69 characters: false (kNameTooLong);
  ///  - an input that cannot be opened (kReadFailed) or is empty
  ///    (kEmptyInput), an archive that would exceed 2,147,483,647 bytes
  ///    (kTooLarge), a temporary file that cannot be created (kWriteFailed):
  ///    false, the input left open.
  /// Failures while the new archive is written throw a new Exception whose
  /// text begins with "ERROR:" and names the archive last; the archive stays
  /// open and unchanged on disk:
  ///  - an entry that cannot be opened or read whole (kReadFailed,
  ///    kTruncated), the input cannot be read whole (kReadFailed): the
  ///    incomplete temporary file stays, and the next insertion truncates it;
  ///  - a copy block that cannot be allocated (kNoMemory);
  ///  - a failed write, flush, sync or close of the temporary file
  ///    (kWriteFailed) or a failed replacement (kReplaceFailed): the
  ///    temporary file is deleted.
  /// Each record's offsets are those of its own data as written, so an
  /// archive the library did not write (equal names, gaps) is copied right.
  bool InsertFile(Pointer<KYFile> source, const String& inputName, String entryName);

  /// Copies the open entry, whole, into the disk file `fileName` (created or
  /// replaced). True once the entry was read whole and the target opened,
  /// whatever the target's write reports. False when no entry is open
  /// (kNotOpen, silently), when the entry cannot be read whole or its bytes
  /// are not its own (CheckEntry's reasons against the file as it is now, or
  /// kReadFailed; "Error while reading data from multifile." goes to the
  /// debugger's PrintError and no target is created), when no buffer can be
  /// had (kNoMemory), or when the target cannot be opened (kCannotOpen). The
  /// entry stays open, at its end after a success.
  bool ExtractToFile(const String& fileName);

 private:
  // What an insertion reads and reopens of this object (MultiFileInsertion.cpp).
  class InsertionView;

  static void* rtti_CreateMultiFile(const char* interfaceName);
  static bool rtti_ImplementsInterfaceMultiFile(const char* interfaceName);
  static RTTIClass rtti_for_MultiFile;

  // Whether the archive's file can still be read (it may have been closed by a
  // copy of this object, or by another holder of a caller's file).
  bool ArchiveReadable();
  // Makes `element` (one of the directory's) the open entry at its first byte.
  bool OpenElement(MultiFileElement* element);
  // Drops the open archive's directory, lookup and readers.
  void ForgetArchive();

  // The open entry's stream: whole items, clamped seeks, no reasons of its
  // own; empty and at its end when closed.
  static const RXM::StreamPolicy kElementPolicy;

  Pointer<MultiFileElement> currentElement;
  RXM::StreamRoom stream;  // the open entry's
  Pointer<KYFile> archiveFile;
  // The open archive (directory, lookup, the positional reader of the one
  // file that was opened), shared by copies; null when none is open.
  std::shared_ptr<const RXM::multifile::ArchiveCore> core;
  // What the open entry's stream reads: the archive's file kept in step with
  // it (KYFileSource); made when the archive opens, shared by copies.
  std::shared_ptr<const RXM::ByteSource> entryBytes;
  String archiveName;
  RXM::Status status;
  // Shared by copies.
  RXM::sys::System* system;
  // The sums file's lines, once LoadSums read them; shared by copies.
  std::shared_ptr<const RXM::SumsTable> sums;
};

#endif  // RXMFILES_MULTIFILE_MULTIFILE_H
