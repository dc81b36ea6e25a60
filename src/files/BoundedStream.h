// The one read-only stream over a window of bytes: size, position, whole
// items, clamped seeks, end. MultiFile's open entry, EntryStream,
// ResourceFile (and any later stream kind) are fronts of it that answer the
// KYFile calls; where they differ, they differ by their StreamPolicy.
#ifndef RXMFILES_FILES_BOUNDEDSTREAM_H
#define RXMFILES_FILES_BOUNDEDSTREAM_H

#include <cstdint>

#include "files/ByteSource.h"

namespace RXM {

// Reading items of size 0.
enum class ZeroSizeItems {
  kNoneRead,  // 0 items, the source untouched (an archive's entries)
  kAllFit,    // every item fits: `count` (a module's resource)
};

// Seeking with an origin other than 0, 1 and 2.
enum class UnknownOrigin {
  kRefused,  // false
  kIgnored,  // true, nothing moves
};

// What a closed stream answers.
enum class WhenClosed {
  kEmptyAndAtEnd,     // size 0, at its end
  kLastSizeNotAtEnd,  // the last window's size, not at its end
};

// A read that gets fewer bytes than the window holds there (the file shrank
// or failed under the stream).
enum class ShortRead {
  kCounted,  // the items delivered are counted; nothing else changes
  kEnds,     // the items delivered are counted, and the stream ends there:
             // AtEnd is true until it is opened again
};

struct StreamPolicy {
  ZeroSizeItems zeroSizeItems;
  UnknownOrigin unknownOrigin;
  WhenClosed whenClosed;
  ShortRead shortRead;
};

// A window of `size` bytes at `start` in a ByteSource, and a position in it
// from 0 to `size`. Reads deliver whole items only: an item that only partly
// remains is not read, and the position stays before it. A seek to a place
// outside the window is clamped to its nearer end and succeeds. The source
// is told every move (Follow) and asked only for bytes inside the window.
//
// The stream does not hold its source: the front that opens it keeps the
// source alive while the stream is open (EntryStream and ResourceFile hold
// theirs by std::shared_ptr, MultiFile its archive's). So opening costs no
// count of its own, which matters to a lookup that opens an entry by name.
// Copies read the same source and move independently. One thread at a time.
class BoundedStream {
 public:
  // Closed, size 0, position 0.
  explicit BoundedStream(const StreamPolicy& policy);

  // Open at position 0 over the window; `start` may be negative or past the
  // source's end (a damaged record): such bytes are not there to be read.
  void Open(const ByteSource* source, std::int64_t start, std::uint32_t size);
  // Closed; size and position keep their values. True when it was open.
  bool Close();
  bool IsOpen() const { return source != nullptr; }

  // Up to `count` whole items of `size` bytes, in one read of the source
  // (made even when no item fits, for a source that reads by items); the
  // number read, and the position moves past them. 0 when closed.
  std::uint32_t Read(void* buffer, std::uint32_t size, std::uint32_t count);
  // Moves to `offset` from the start (origin 0), the position (1) or the end
  // (2), clamped into the window; true once the source followed. False when
  // closed, when the source cannot follow (nothing moves), or (kRefused) for
  // another origin.
  bool Seek(long offset, int origin);

  // The window's size (see WhenClosed).
  std::uint32_t Size() const;
  // Whether the position has reached the size, or a short read ended the
  // stream (kEnds) (see WhenClosed).
  bool AtEnd() const;
  // The position, also after closing.
  std::int32_t Position() const { return position; }
  // Whether a short read ended the stream (kEnds) since it was opened.
  bool Ended() const { return ended; }

 private:
  StreamPolicy policy;
  const ByteSource* source = nullptr;
  std::int64_t start = 0;
  std::uint32_t size = 0;
  std::int32_t position = 0;
  bool ended = false;
};

}  // namespace RXM

#endif  // RXMFILES_FILES_BOUNDEDSTREAM_H
