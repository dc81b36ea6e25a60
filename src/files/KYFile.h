#ifndef RXMFILES_FILES_KYFILE_H
#define RXMFILES_FILES_KYFILE_H

#include "framework/BaseObject.h"
#include "framework/Export.h"
#include "framework/String.h"

/// A file, whatever holds it: a disk file, a resource of a Windows module, an
/// entry of a multi-file archive. Programs hold files as Pointer<KYFile> and
/// need not know which kind they have.
///
/// Sizes, offsets and positions are bytes; ReadData and WriteData count items
/// of `size` bytes. `unsigned int` is 32 bits and positions fit in 32 signed
/// bits on every platform. An object is used by one thread at a time.
class RXMFILES_API KYFile : public virtual BaseObject {
 public:
  KYFile() = default;
  /// Copies what the derived class copies; the reference count starts at 0.
  KYFile(const KYFile& other) = default;
  /// Assigns what the derived class assigns; the reference count stays.
  KYFile& operator=(const KYFile& other) = default;
  ~KYFile() override;

  /// Opens the file that `name` denotes; what `name` and `mode` mean is the
  /// implementation's (a path and a C runtime mode such as "rb" for a disk
  /// file). Returns whether a file is open afterwards.
  virtual bool OpenFile(String name, String mode) = 0;

  /// True when an open file was closed; false when none was open or closing
  /// failed.
  virtual bool CloseFile() = 0;

  /// Whether a file is open.
  virtual bool IsFileOpened() = 0;

  /// Copies up to `count` items of `size` bytes into `buffer` and returns the
  /// number of whole items read; the position moves past the bytes read. On
  /// a file that is not open: 0.
  virtual unsigned int ReadData(void* buffer, unsigned int size, unsigned int count) = 0;

  /// Writes up to `count` items of `size` bytes and returns the number of whole
  /// items written; 0 for a file that refuses writing.
  virtual unsigned int WriteData(const void* buffer, unsigned int size, unsigned int count) = 0;

  /// The size in bytes; the position is left where it was.
  virtual unsigned int GetFileSize() = 0;

  /// Whether the end of the file has been reached.
  virtual bool EndOfFile() = 0;

  /// Moves the position by `offset` bytes from the start (origin 0), the
  /// current position (1) or the end (2). True on success; on failure the
  /// position is unchanged.
  virtual bool Seek(long offset, int origin) = 0;

  /// The position in bytes from the start.
  virtual long GetPosition() = 0;
};

#endif  // RXMFILES_FILES_KYFILE_H
