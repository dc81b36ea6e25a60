#include "files/KYFileSource.h"

namespace RXM {

KYFileSource::KYFileSource(KYFile& opened) : file(opened) {}

std::size_t KYFileSource::ReadAt(void* buffer, std::size_t size, std::uint64_t) const {
  if (!file.IsFileOpened()) {
    return 0;
  }
  return file.ReadData(buffer, 1, static_cast<unsigned int>(size));
}

std::uint32_t KYFileSource::ReadItems(void* buffer, std::uint32_t size, std::uint32_t count,
                                      std::uint64_t) const {
  if (!file.IsFileOpened()) {
    return 0;
  }
  return file.ReadData(buffer, size, count);
}

bool KYFileSource::Follow(std::int64_t from, std::int64_t to, bool absolute) const {
  if (!file.IsFileOpened()) {
    return false;
  }
  return absolute ? file.Seek(static_cast<long>(to), 0)
                  : file.Seek(static_cast<long>(to - from), 1);
}

}  // namespace RXM
