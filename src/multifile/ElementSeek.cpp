#include "multifile/ElementSeek.h"

namespace RXM {
namespace kymf {
namespace {

SeekMove Absolute(std::int64_t target, std::int64_t dataStart) {
  return {true, static_cast<long>(dataStart + target), 0, static_cast<std::int32_t>(target)};
}

SeekMove Relative(std::int64_t target, std::int64_t position) {
  return {true, static_cast<long>(target - position), 1, static_cast<std::int32_t>(target)};
}

}  // namespace

SeekMove PlanSeek(long offset, int origin, std::int64_t size, std::int64_t position,
                  std::int64_t dataStart) {
  const auto off = static_cast<std::int64_t>(offset);
  switch (origin) {
    case 0:
      if (off < 0) {
        return Relative(0, position);
      }
      return off <= size ? Absolute(off, dataStart) : Relative(size, position);
    case 1:
      if (off < -position) {
        return Relative(0, position);
      }
      return off <= size - position ? Relative(position + off, position) : Relative(size, position);
    case 2:
      if (off > 0) {
        return Relative(size, position);
      }
      return off >= -size ? Absolute(size + off, dataStart) : Relative(0, position);
    default:
      return {false, 0, 0, static_cast<std::int32_t>(position)};
  }
}

}  // namespace kymf
}  // namespace RXM
