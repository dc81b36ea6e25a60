#ifndef RXMFILES_BACKENDS_DISKFILE_H
#define RXMFILES_BACKENDS_DISKFILE_H

#include <cstdio>
#include <memory>

#include "files/KYFile.h"
#include "framework/Export.h"
#include "framework/RTTIClass.h"

namespace RXM {
namespace sys {
class System;
}
}  // namespace RXM

/// A file on disk, held as a buffered stream of the C runtime. Each operation
/// maps onto one or a few stream calls; ReadData and WriteData are fread and
/// fwrite, so a last item that only partly remains is consumed as fread
/// consumes it.
///
/// Copies share one stream: a read through one moves the position that the
/// others see, and closing (or destroying) any of them closes the stream for
/// all, exactly once; the others then report that no file is open.
///
/// Its calls to the system go through a System (System.h): the process's own
/// unless one is given; copies share it with the stream.
///
/// On a DiskFile with no file open every operation fails harmlessly: ReadData,
/// WriteData and GetFileSize give 0, EndOfFile and Seek false, GetPosition -1.
class RXMFILES_API DiskFile : public KYFile {
 public:
  DiskFile();
  /// A closed DiskFile whose opens, reads, writes and closes go through
  /// `system`, which must outlive it and its copies.
  explicit DiskFile(RXM::sys::System& system);
  /// A DiskFile that shares `other`'s stream, and so its position.
  DiskFile(const DiskFile& other);
  /// Shares `other`'s stream from now on, as a copy does; returns this object.
  DiskFile& operator=(const DiskFile& other);
  ~DiskFile() override;

  const RTTIClass* GetClass() const override;
  /// Answers "KYFile" and "DiskFile", nothing else.
  void* FindInterface(const char* name) const override;

  /// Opens `name` with the C runtime's mode `mode` ("rb", "wb", "r+b", ...),
  /// with no restriction on other opens of the same file. A stream that this
  /// object had open before is let go first: closed when no copy shares it,
  /// left to the copies otherwise.
  bool OpenFile(String name, String mode) override;
  /// Closes the stream for this object and every copy. False when none is
  /// open, or when the C runtime reports a failure: the object then still
  /// reports a file open, but the stream is finished and every operation
  /// fails; a further CloseFile forgets it and returns true.
  bool CloseFile() override;
  bool IsFileOpened() override;
  unsigned int ReadData(void* buffer, unsigned int size, unsigned int count) override;
  unsigned int WriteData(const void* buffer, unsigned int size, unsigned int count) override;
  /// Measures by seeking to the end and back; clears the end-of-file indicator.
  unsigned int GetFileSize() override;
  /// The stream's end-of-file indicator: set by a read that ran into the end,
  /// cleared by a successful Seek or GetFileSize.
  bool EndOfFile() override;
  /// As fseek: a position past the end is allowed, one before the start or an
  /// unknown origin is refused.
  bool Seek(long offset, int origin) override;
  /// As ftell; -1 also for a position that does not fit in 32 signed bits.
  long GetPosition() override;

  /// The stream, for callers that use it directly; null when no file is open.
  std::FILE* GetFilePointer();

 private:
  static void* rtti_CreateDiskFile(const char* interfaceName);
  static bool rtti_ImplementsInterfaceDiskFile(const char* interfaceName);
  static RTTIClass rtti_for_DiskFile;

  // The stream that a DiskFile and its copies share, and the System it goes
  // through; the last of them to let it go closes it if it is still open.
  struct Stream;

  // The usable stream, or null.
  std::FILE* Usable() const;
  // The calls this object makes go through.
  RXM::sys::System& Calls() const;

  std::shared_ptr<Stream> stream;
};

#endif  // RXMFILES_BACKENDS_DISKFILE_H
