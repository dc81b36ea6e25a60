// One MultiFile::InsertFile: the archive written anew with one entry more.
#ifndef RXMFILES_MULTIFILE_ARCHIVEINSERTION_H
#define RXMFILES_MULTIFILE_ARCHIVEINSERTION_H

#include <cstdint>
#include <memory>
#include <optional>

#include "files/KYFile.h"
#include "framework/Pointer.h"
#include "framework/String.h"
#include "multifile/ArchiveLock.h"
#include "multifile/ArchiveWriter.h"

class MultiFile;

namespace RXM {

// Works on the archive object's own state: the entries are reached through
// its element stream (OpenFile, GetFileSize, ReadData) so that a caller's
// archive file sees the calls an insertion has always made, and the archive
// is reopened through it at the end. MultiFile::InsertFile states what each
// failure leaves behind.
class ArchiveInsertion : private kymf::ArchiveWriter::Source {
 public:
  explicit ArchiveInsertion(MultiFile& archive);
  ArchiveInsertion(const ArchiveInsertion&) = delete;
  ArchiveInsertion& operator=(const ArchiveInsertion&) = delete;

  bool Run(Pointer<KYFile> source, const String& inputName, String entryName);

 private:
  // The checks before anything is written; false (with the archive's Status
  // set) for a refusal. Throws for a name that exists.
  bool Admit(const String& entryName);
  // Takes the archive's lock, without waiting, and makes sure the archive
  // is still the file whose directory the object holds; false (Status set:
  // kBusy, kReadOnly, kChanged, kCannotOpen) otherwise.
  bool Lock();
  // The records, then every old entry's data, then the input's, through the
  // one archive writer with this object as the source of the bytes. False
  // (Status set) when the temporary file cannot be created; throws on every
  // other failure.
  bool WriteArchive(KYFile& input, const String& inputName, const String& entryName,
                    std::uint32_t inputSize);
  bool Append(std::size_t planned, std::uint32_t size, kymf::ArchiveWriter& to) override;
  bool CopyEntry(std::int32_t index, kymf::ArchiveWriter& to);
  void CopyInput(KYFile& input, const String& inputName, std::uint32_t inputSize,
                 kymf::ArchiveWriter& to);
  // Puts the finished temporary file in the archive's place.
  bool Replace();
  // Makes room for `size` bytes in the copy block; false when they cannot be
  // allocated.
  bool Reserve(std::uint32_t size);
  [[noreturn]] void FailWrite();

  MultiFile& archive;
  ArchiveLock lock;  // held to the end of the insertion, however it ends
  std::optional<kymf::ArchiveWriter> writer;
  KYFile* currentInput = nullptr;
  const String* currentInputName = nullptr;
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
