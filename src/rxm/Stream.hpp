// A read-only stream over one entry or file of the modern face.
#ifndef RXM_STREAM_HPP
#define RXM_STREAM_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/Export.h"

namespace rxm {

/// The bytes of one archive entry or search-path file, read piece by piece
/// with a position of its own (Archive::open_entry, SearchPath::open). It
/// keeps what it reads alive: the Archive or SearchPath that made it may be
/// closed, moved or destroyed meanwhile. One thread at a time uses a stream;
/// streams over one archive may be read on different threads at once.
///
/// Move-only. A moved-from stream is empty: size() 0, at its end, reads 0.
class RXMFILES_API Stream {
 public:
  /// Takes over `other`'s entry and position; `other` is left empty.
  Stream(Stream&& other) noexcept;
  /// Lets go of this stream's entry as the destructor does, then takes over
  /// `other`'s entry and position; `other` is left empty. Returns this
  /// stream.
  Stream& operator=(Stream&& other) noexcept;
  /// Lets go of the entry's bytes (the last stream over a closed archive
  /// closes its file).
  ~Stream();
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  /// Copies up to `size` bytes at the position into `buffer` and moves past
  /// them; the count copied, less than `size` only at the end (0 there).
  /// Throws rxm::Error when the file ends or fails before the entry does (an
  /// archive that shrank under it: kTruncated; over the network, the
  /// transfer's reason, e.g. kRemoteChanged): the bytes before that point
  /// were copied, and the stream is at its end.
  std::size_t read(void* buffer, std::size_t size);
  /// Everything from the position to the end; the stream is at its end
  /// after it. Throws as read() does (kNoMemory when no buffer can be had).
  std::vector<std::byte> read_all();

  /// Moves to `position`, a position past the end taken as the end. Nothing
  /// is read.
  void seek(std::uint32_t position);
  /// The position in bytes from the start.
  std::uint32_t position() const;
  /// The size in bytes.
  std::uint32_t size() const;
  /// Whether the position has reached the end (or a failed read ended it).
  bool at_end() const;

  struct Impl;  // the library's own: its file and how to explain a short read

 private:
  friend class Archive;
  friend class SearchPath;
  explicit Stream(std::unique_ptr<Impl> opened);

  std::unique_ptr<Impl> impl;
};

}  // namespace rxm

#endif  // RXM_STREAM_HPP
