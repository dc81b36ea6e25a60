#ifndef RXMFILES_BACKENDS_HTTPFILE_H
#define RXMFILES_BACKENDS_HTTPFILE_H

#include <cstdint>
#include <memory>

#include "files/KYFile.h"
#include "files/Status.h"
#include "files/StreamRoom.h"
#include "framework/Export.h"
#include "framework/RTTIClass.h"
#include "remote/RemoteOptions.h"

namespace RXM {
class ByteSource;
class RemoteObject;
struct StreamPolicy;
}  // namespace RXM

/// A read-only KYFile over an object on an HTTP or HTTPS server (a web server,
/// a CDN, an object store's URL), read with range requests: opening costs one
/// request, which also brings the object's first 64 KiB; later reads go
/// through a block cache (see remote/RemoteObject.h and docs/remote.md).
///
/// The object is pinned when it is opened: its size and validator (ETag, else
/// Last-Modified) guard every later request, so an object replaced on the
/// server makes reads fail with kRemoteChanged rather than mix two versions.
///
/// A front of the library's one stream (BoundedStream) over the object, as
/// ResourceFile and EntryStream are over theirs. Copies read the same object,
/// through the same cache, each from a position of its own (as ResourceFile's
/// copies do). Writing is refused as ResourceFile refuses it: WriteData
/// writes nothing and gives 0.
class RXMFILES_API HttpFile : public KYFile {
 public:
  /// Not open, with the options of RemoteOptions::FromEnvironment.
  HttpFile();
  /// Open on the same object and cache as `other`, at its position, with its
  /// options and status; from then on the positions move independently.
  HttpFile(const HttpFile& other);
  /// Makes this object a copy of `other`, as the copy constructor does;
  /// returns this object.
  HttpFile& operator=(const HttpFile& other);
  ~HttpFile() override;

  const RTTIClass* GetClass() const override;
  /// Answers "KYFile" and "HttpFile", nothing else.
  void* FindInterface(const char* name) const override;

  /// The options the next OpenFile uses (timeouts, retries, cache, trust,
  /// authorization); an open object keeps the ones it was opened with.
  void SetOptions(const RXM::RemoteOptions& options);

  /// Closes what was open, then opens the object at `url` (http:// or
  /// https://) with one range request. `mode` must be "rb"; every other mode
  /// is refused (kCannotOpen). False when the object cannot be reached or read:
  /// GetStatus says why (kRemoteNotFound, kRemoteForbidden, kRangeIgnored,
  /// kRemoteFailed, kNetworkFailed, kSecureFailed, kCannotOpen for a text
  /// that is no http(s) URL, kTooLarge beyond 2,147,483,647 bytes), naming
  /// the URL with any credentials in it hidden. Nothing is open then.
  bool OpenFile(String url, String mode) override;
  /// True when an object was open; the position keeps its value.
  bool CloseFile() override;
  bool IsFileOpened() override;
  /// Whole items only, as ResourceFile reads: an item that only partly
  /// remains is not read; with `size` 0 the result is `count`. 0 when not
  /// open. A read the network cannot complete gives the whole items read
  /// before the failure, and GetStatus says why (kRemoteChanged once the
  /// object was replaced: every later read fails too).
  unsigned int ReadData(void* buffer, unsigned int size, unsigned int count) override;
  /// Writes nothing: 0.
  unsigned int WriteData(const void* buffer, unsigned int size, unsigned int count) override;
  /// The object's size as the first response gave it; 0 when none was open.
  unsigned int GetFileSize() override;
  /// False when not open; otherwise whether the position is at or past the end.
  bool EndOfFile() override;
  /// A position before the start is refused as DiskFile (fseek) refuses it,
  /// so that an archive read over the network answers as on disk; one past
  /// the end is clamped to the end. False also for an unknown origin or with
  /// no object open; the position is then unchanged.
  bool Seek(long offset, int origin) override;
  long GetPosition() override;

  /// Why the last OpenFile or ReadData failed (for a read, the object's most
  /// recent failure); Ok after its success.
  const RXM::Status& GetStatus() const;
  /// The most recent failure of a read of the open object by any reader, its
  /// entry streams included (kRemoteChanged, kRemoteTimedOut, kRemoteFailed
  /// for an answer other than the range asked for, kNetworkFailed, ...),
  /// naming the URL with credentials hidden; Ok when none failed or none is
  /// open.
  RXM::Status GetReadFailure() const;

  /// The open object as a reader by offset, for entry streams that read it
  /// from many threads at once; null when none is open.
  std::shared_ptr<const RXM::ByteSource> GetReader() const;
  /// Requests sent for the open object so far (0 when none is open).
  std::uint64_t GetRequests() const;

 private:
  static void* rtti_CreateHttpFile(const char* interfaceName);
  static bool rtti_ImplementsInterfaceHttpFile(const char* interfaceName);
  static RTTIClass rtti_for_HttpFile;

  // Items of size 0 all fit (as ResourceFile's), an unknown origin is
  // refused, a closed file is empty, a short read (the network failed) counts
  // the items it delivered and the next read tries again.
  static const RXM::StreamPolicy kPolicy;

  RXM::RemoteOptions options;
  // What the stream reads, shared by copies; open exactly while the stream is.
  std::shared_ptr<const RXM::RemoteObject> object;
  RXM::StreamRoom stream;
  RXM::Status status;
};

#endif  // RXMFILES_BACKENDS_HTTPFILE_H
