#include "backends/SharedHandle.h"

#include <cerrno>
#include <limits>

namespace RXM {
namespace {

constexpr sys::Handle kUntried = std::numeric_limits<sys::Handle>::min();

// The extra handles that may still be opened in the process.
std::atomic<int> extraHandlesLeft{SharedHandle::kMostExtraHandles};

bool TakeExtraHandle() {
  int left = extraHandlesLeft.load(std::memory_order_relaxed);
  while (left > 0 && !extraHandlesLeft.compare_exchange_weak(left, left - 1)) {
  }
  return left > 0;
}

void GiveBackExtraHandle() {
  extraHandlesLeft.fetch_add(1);
}

}  // namespace

std::shared_ptr<const SharedHandle> SharedHandle::Open(const char* path, sys::System& system) {
  return Adopt(system.openForReading(path), system);
}

std::shared_ptr<const SharedHandle> SharedHandle::Adopt(sys::Handle handle, sys::System& system,
                                                        Readers readers) {
  if (handle == sys::kNoHandle) {
    return nullptr;
  }
  return std::make_shared<const SharedHandle>(handle, system, readers);
}

SharedHandle::SharedHandle(sys::Handle adopted, sys::System& calls, Readers readers)
    : handle(adopted), system(calls) {
  if (readers == Readers::kMany && sys::ProcessorLanes() > 1) {
    lanes.reset(new std::atomic<sys::Handle>[sys::ProcessorLanes()]);
    for (unsigned i = 0; i < sys::ProcessorLanes(); ++i) {
      lanes[i].store(kUntried, std::memory_order_relaxed);
    }
  }
}

SharedHandle::~SharedHandle() {
  for (unsigned i = 0; lanes && i < sys::ProcessorLanes(); ++i) {
    const sys::Handle own = lanes[i].load();
    if (own != kUntried && own != handle) {
      system.closeHandle(own);
      GiveBackExtraHandle();
    }
  }
  system.closeHandle(handle);
}

// Two threads may reach an untried lane at once: one handle is kept, the
// other (if another was opened) closed. A refused open is not a failure of
// the read, and leaves errno as the read found it.
sys::Handle SharedHandle::ReadingHandle(unsigned lane) const {
  if (!lanes) {
    return handle;
  }
  std::atomic<sys::Handle>& slot = lanes[lane];
  sys::Handle chosen = slot.load(std::memory_order_acquire);
  if (chosen != kUntried) {
    return chosen;
  }
  chosen = handle;
  if (adoptedTaken.exchange(true) && TakeExtraHandle()) {
    const int saved = errno;
    const sys::Handle own = system.reopenForReading(handle);
    errno = saved;
    if (own == sys::kNoHandle) {
      GiveBackExtraHandle();
    } else {
      chosen = own;
    }
  }
  sys::Handle expected = kUntried;
  if (slot.compare_exchange_strong(expected, chosen)) {
    return chosen;
  }
  if (chosen != handle) {
    system.closeHandle(chosen);
    GiveBackExtraHandle();
  }
  return expected;
}

std::size_t SharedHandle::ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const {
  const sys::Handle reading = lanes ? ReadingHandle(sys::ProcessorLane()) : handle;
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const std::int64_t got = system.readAt(reading, bytes + done, size - done, offset + done);
    if (got <= 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

}  // namespace RXM
