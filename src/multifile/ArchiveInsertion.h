// One MultiFile::InsertFile: the archive written anew with one entry more.
#ifndef RXMFILES_MULTIFILE_ARCHIVEINSERTION_H
#define RXMFILES_MULTIFILE_ARCHIVEINSERTION_H

#include <cstdint>
#include <memory>
#include <optional>

#include <string>
#include "multifile/ArchiveDigest.h"
#include "multifile/ArchiveSums.h"

#include "files/KYFile.h"
#include "files/Status.h"
#include "framework/Export.h"
#include "framework/Pointer.h"
#include "framework/String.h"
#include "multifile/ArchiveLock.h"
#include "multifile/ArchiveWriter.h"
#include "multifile/MultiFileElement.h"
#include "multifile/PointerArray.h"

namespace RXM {

// The insertion works on the archive object only through Archive, which that
// object supplies: it reads the entries through the object's own entry
// stream (OpenFile, GetFileSize, ReadData), so that a caller's archive file
// sees the calls an insertion has always made, and closes and reopens the
// archive through it. It never sets the object's state; it reports how it
// ended (GetFailure), and the object keeps that reason and throws where
// MultiFile::InsertFile says it does.
class ArchiveInsertion : private multifile::ArchiveWriter::Source {
 public:
  // What an insertion needs of the archive object it changes.
  class Archive {
   public:
    virtual ~Archive() = default;
    // The archive's name, as messages show it.
    virtual const String& Name() const = 0;
    // The archive's file; null when no archive is open.
    virtual KYFile* File() const = 0;
    virtual sys::System& System() const = 0;
    // The records, in the archive's order.
    virtual const PointerArray<MultiFileElement>& Directory() const = 0;
    // The object as a stream over one entry at a time (OpenFile by name,
    // CloseFile, GetFileSize, ReadData).
    virtual KYFile& Entries() = 0;
    // Makes the record at `index` the open entry, at its first byte; false
    // when the archive's file cannot be brought there.
    virtual bool OpenEntryAt(std::int32_t index) = 0;
    // Closes the archive, entry and file.
    virtual void Close() = 0;
    // Opens the archive again, under its name, through `file` (a new
    // DiskFile when null); what MultiFile::OpenMultiFile returns.
    virtual bool Reopen(Pointer<KYFile> file) = 0;
  };

  // How an insertion failed: the reason the archive object keeps, and, for
  // a failure that InsertFile throws, the text of its Exception (empty for
  // a refusal, which InsertFile returns as false).
  struct Failed {
    Status why;
    std::string thrown;
  };

  explicit ArchiveInsertion(Archive& archive);
  ArchiveInsertion(const ArchiveInsertion&) = delete;
  ArchiveInsertion& operator=(const ArchiveInsertion&) = delete;

  // Adds `inputName`, read through `source` (a new DiskFile when null), as
  // the entry `entryName` (`inputName` when empty). True when the archive
  // was replaced and opened again. False otherwise, with GetFailure saying
  // why, except when the replaced archive could not be opened again (the
  // object's own status then says why). MultiFile::InsertFile states what
  // each failure leaves behind.
  bool Run(Pointer<KYFile> source, const String& inputName, String entryName);

  // Why Run returned false; null when it did not fail.
  const Failed* GetFailure() const { return failure ? &*failure : nullptr; }

 private:
  // The checks before anything is written.
  bool Admit(const String& entryName);
  // Takes the archive's lock, without waiting, and makes sure the archive
  // is still the file whose directory the object holds.
  bool Lock();
  // The records, then every old entry's data, then the input's, through the
  // one archive writer with this object as the source of the bytes.
  bool WriteArchive(const String& entryName, std::uint32_t inputSize);
  bool Append(std::size_t planned, std::uint32_t size, multifile::ArchiveWriter& to) override;
  bool CopyEntry(std::int32_t index, multifile::ArchiveWriter& to);
  bool CopyInput(std::uint32_t inputSize, multifile::ArchiveWriter& to);
  // Puts the finished temporary file in the archive's place.
  bool Replace();
  // Makes room for `size` bytes in the copy block; false when they cannot be
  // allocated.
  bool Reserve(std::uint32_t size);

  // Records why the insertion stops; false, for the caller to return.
  bool Refuse(Status why);
  // The same for a failure that InsertFile throws, with the Exception's
  // text formatted from `format`.
  bool Throw(Status why, const char* format, ...) RXMFILES_PRINTF(3, 4);
  // A failed write of the temporary file: it is deleted.
  bool FailWrite();

  Archive& archive;
  ArchiveLock lock;  // held to the end of the insertion, however it ends
  std::optional<multifile::ArchiveWriter> writer;
  std::optional<SumsUpdate> sums;
  std::optional<Failed> failure;
  KYFile* input = nullptr;
  const String* inputName = nullptr;
  std::int64_t archiveSize = -1;  // as measured when the archive was opened
  // One copy block for the whole insertion, grown only when an entry needs
  // more: a fresh block per entry would cost the operating system mapping it
  // in again each time, more than the copy itself for large entries. The
  // peak stays the size of the largest entry.
  std::unique_ptr<void, void (*)(void*)> block;
  std::uint32_t capacity = 0;
};

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ARCHIVEINSERTION_H
