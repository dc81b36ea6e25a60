// Where a Seek of an entry moves the archive's file.
#ifndef RXMFILES_MULTIFILE_ELEMENTSEEK_H
#define RXMFILES_MULTIFILE_ELEMENTSEEK_H

#include <cstdint>

namespace RXM {
namespace kymf {

// The one move of the archive's file that a Seek of an entry makes, and the
// entry's position after it.
struct SeekMove {
  bool valid;   // false for an unknown origin: nothing moves
  long offset;  // the archive file's Seek(offset, origin)
  int origin;
  std::int32_t position;
};

// A target outside the entry (of `size` bytes, first byte at `dataStart`,
// now at `position`) is clamped to its start or end. Clamping moves are
// relative to where the file stands (origin 1), moves to a target inside the
// entry from its start or end are absolute (origin 0), and moves from the
// current position stay relative. Bounds are computed in 64 bits, so no
// offset can overflow them.
SeekMove PlanSeek(long offset, int origin, std::int64_t size, std::int64_t position,
                  std::int64_t dataStart);

}  // namespace kymf
}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ELEMENTSEEK_H
