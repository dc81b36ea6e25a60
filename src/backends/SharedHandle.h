// A file opened once for positional reads and shared by every stream that
// reads it: the ByteSource of files on disk (archives opened from disk, the
// files of a mounted folder).
#ifndef RXMFILES_BACKENDS_SHAREDHANDLE_H
#define RXMFILES_BACKENDS_SHAREDHANDLE_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "backends/System.h"
#include "files/ByteSource.h"

namespace RXM {

// Owns a read-only handle and closes it when the last holder lets go. Reads
// take an offset and keep no position, so any number of threads may read
// through one SharedHandle at once; hold it by std::shared_ptr, whose count is
// thread-safe.
class SharedHandle final : public ByteSource {
 public:
  // The file `path` opened for reading through `system`, which then reads
  // and closes it; null when it cannot be.
  static std::shared_ptr<const SharedHandle> Open(const char* path,
                                                  sys::System& system = sys::System::Default());
  // Takes over `handle`, which `system` opened (closed with the object);
  // null for kNoHandle.
  static std::shared_ptr<const SharedHandle> Adopt(sys::Handle handle, sys::System& system);

  SharedHandle(sys::Handle adopted, sys::System& calls) : handle(adopted), system(calls) {}
  ~SharedHandle() override;

  // Reads up to `size` bytes at `offset`, retrying short reads; the bytes read
  // (fewer only at the end of the file or on a read error).
  std::size_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const override;
  // The handle it reads.
  std::intptr_t FileHandle() const override { return handle; }

 private:
  sys::Handle handle;
  sys::System& system;
};

}  // namespace RXM

#endif  // RXMFILES_BACKENDS_SHAREDHANDLE_H
