#include "backends/SharedHandle.h"

namespace RXM {

std::shared_ptr<const SharedHandle> SharedHandle::Open(const char* path, sys::System& system) {
  return Adopt(system.openForReading(path), system);
}

std::shared_ptr<const SharedHandle> SharedHandle::Adopt(sys::Handle handle, sys::System& system) {
  if (handle == sys::kNoHandle) {
    return nullptr;
  }
  return std::make_shared<const SharedHandle>(handle, system);
}

SharedHandle::~SharedHandle() {
  system.closeHandle(handle);
}

std::size_t SharedHandle::ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const std::int64_t got = system.readAt(handle, bytes + done, size - done, offset + done);
    if (got <= 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

}  // namespace RXM
