// A caller's KYFile as the bytes of a stream.
#ifndef RXMFILES_FILES_KYFILESOURCE_H
#define RXMFILES_FILES_KYFILESOURCE_H

#include <cstdint>

#include "files/ByteSource.h"
#include "files/KYFile.h"

namespace RXM {

// Reads through a KYFile that has one position of its own, which the stream
// keeps where its next read begins: it is placed there when the stream
// opens, each Follow makes exactly one Seek of the file (an absolute one,
// origin 0, for a place asked for from the window's start or end; a relative
// one, origin 1, for a step or a clamp), and each read is exactly one
// ReadData of the file, straight into the caller's buffer, which moves the
// file on by the bytes read. So reads never seek, and the offset a read is
// given is where the file stands already.
//
// The source does not hold the file: whoever made it keeps the file alive
// while a stream is open over it (MultiFile does, with its archive's file).
// A file that its other holders have closed is neither read (0) nor moved
// (false). Like the file, one thread at a time.
class KYFileSource final : public ByteSource {
 public:
  explicit KYFileSource(KYFile& file);

  // ReadData(buffer, 1, size) from where the file stands.
  std::size_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const override;
  // ReadData(buffer, size, count) from where the file stands, also for a
  // count of 0.
  std::uint32_t ReadItems(void* buffer, std::uint32_t size, std::uint32_t count,
                          std::uint64_t offset) const override;
  bool Follow(std::int64_t from, std::int64_t to, bool absolute) const override;

 private:
  KYFile& file;
};

}  // namespace RXM

#endif  // RXMFILES_FILES_KYFILESOURCE_H
