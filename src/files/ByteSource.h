// Where a bounded stream's bytes come from.
#ifndef RXMFILES_FILES_BYTESOURCE_H
#define RXMFILES_FILES_BYTESOURCE_H

#include <cstddef>
#include <cstdint>

namespace RXM {

// Bytes read at an offset, with no position of the source's own that a
// reader could disturb: a file opened for positional reads (SharedHandle),
// memory (MemorySource), a caller's KYFile kept in step by its stream
// (KYFileSource), and later a remote file read by ranges.
//
// A BoundedStream asks its source only for bytes inside the window it was
// opened over, so a source need not check bounds against the window; it
// checks them against what it really holds. A source that is shared by
// streams on several threads (held by std::shared_ptr<const ByteSource>)
// must answer ReadAt from any number of threads at once; one read by one
// stream only (KYFileSource) says so.
class ByteSource {
 public:
  ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;
  virtual ~ByteSource();

  // Copies up to `size` bytes at `offset` into `buffer`. The number copied:
  // `size`, or fewer only where the source ends early (a file that shrank,
  // a read error). Never more, never outside `buffer`.
  virtual std::size_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const = 0;

  // Up to `count` whole items of `size` bytes (size > 0, size * count within
  // the stream's window) at `offset`: the number of whole items copied. One
  // ReadAt of size * count bytes unless the source reads by items itself.
  virtual std::uint32_t ReadItems(void* buffer, std::uint32_t size, std::uint32_t count,
                                  std::uint64_t offset) const;

  // The stream's position moves from the absolute offset `from` to `to`;
  // `absolute` says whether the move was asked for as a place in the window
  // (from its start or end) rather than as a step or a clamp. A source that
  // reads from a position of its own follows it; false when it cannot (the
  // stream then stays where it was). Positional sources need not care: true.
  virtual bool Follow(std::int64_t from, std::int64_t to, bool absolute) const;

  // Says that the `size` bytes at `offset` are about to be read in pieces, so
  // that a source for which each fetch costs a round trip (a remote object)
  // fetches them together. Only a hint: reads answer the same without it.
  virtual void Prefetch(std::uint64_t offset, std::uint64_t size) const;
  // The system handle (a descriptor on POSIX) of the one file whose offsets
  // ReadAt reads, for a reader that hands bytes on without copying them (a
  // splice); -1 when the bytes are not read from a file by position (memory,
  // a caller's KYFile, a remote object). Valid while the source lives.
  virtual std::intptr_t FileHandle() const;
};

}  // namespace RXM

#endif  // RXMFILES_FILES_BYTESOURCE_H
