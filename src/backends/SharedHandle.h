// A file opened once for positional reads and shared by every stream that
// reads it: the ByteSource of files on disk (archives opened from disk, the
// files of a mounted folder).
#ifndef RXMFILES_BACKENDS_SHAREDHANDLE_H
#define RXMFILES_BACKENDS_SHAREDHANDLE_H

#include <atomic>
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
//
// A file that many threads read at once (an archive's entries) can be read
// through a handle per processor (Readers::kMany). Each read of a handle
// makes the kernel count a reference on its open file and note where the
// read ended, in memory that every thread reading that handle writes: the
// threads on different processors then pass it back and forth at each read.
// The first processor to read uses the adopted handle; each other one opens
// another on the very file (System::reopenForReading, never by name) at its
// first read. Extra handles are few in a process (kMostExtraHandles in all),
// so that a program with many archives open never runs short of handles for
// itself; past that, and where the system cannot give one, reads go through
// the adopted handle, as with Readers::kOne.
class SharedHandle final : public ByteSource {
 public:
  enum class Readers { kOne, kMany };
  // Extra handles open at once in the process, over every SharedHandle.
  static constexpr int kMostExtraHandles = 64;

  // The file `path` opened for reading through `system`, which then reads
  // and closes it; null when it cannot be.
  static std::shared_ptr<const SharedHandle> Open(const char* path,
                                                  sys::System& system = sys::System::Default());
  // Takes over `handle`, which `system` opened (closed with the object);
  // null for kNoHandle.
  static std::shared_ptr<const SharedHandle> Adopt(sys::Handle handle, sys::System& system,
                                                   Readers readers = Readers::kOne);

  SharedHandle(sys::Handle adopted, sys::System& calls, Readers readers = Readers::kOne);
  ~SharedHandle() override;
  SharedHandle(const SharedHandle&) = delete;
  SharedHandle& operator=(const SharedHandle&) = delete;

  // Reads up to `size` bytes at `offset`, retrying short reads; the bytes read
  // (fewer only at the end of the file or on a read error).
  std::size_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const override;
  // The adopted handle.
  std::intptr_t FileHandle() const override { return handle; }

  // The handle that reads on processor lane `lane` (below
  // sys::ProcessorLanes()) go through, opened now if it is the lane's first:
  // the adopted one for Readers::kOne, for the first lane to read and when
  // no other can be had.
  sys::Handle ReadingHandle(unsigned lane) const;

 private:
  sys::Handle handle;
  sys::System& system;
  // Readers::kMany: each lane's handle, kUntried until its first read.
  std::unique_ptr<std::atomic<sys::Handle>[]> lanes;
  mutable std::atomic<bool> adoptedTaken{false};
};

}  // namespace RXM

#endif  // RXMFILES_BACKENDS_SHAREDHANDLE_H
