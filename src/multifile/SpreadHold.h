// Holds on one shared object, counted apart on each processor.
#ifndef RXMFILES_MULTIFILE_SPREADHOLD_H
#define RXMFILES_MULTIFILE_SPREADHOLD_H

#include <cstddef>
#include <memory>

#include "backends/System.h"

namespace RXM {

// A std::shared_ptr counts every copy of itself in one place, written with
// an atomic instruction. When threads on several processors take and drop
// holds on one object many times a second (every entry stream holds its
// archive's reader), that one cache line goes back and forth between the
// processors at each copy and each release: with two threads opening 4 KiB
// entries, a stream's release alone took a tenth of the time.
//
// A SpreadHold keeps one lane per processor, each a std::shared_ptr to the
// same object whose count lives in a block of its own (a cache line apart
// from any other), which in turn holds the object. A thread takes the lane
// of the processor it runs on, so threads on different processors count in
// different places. The object lives while any lane's hold lives; a thread
// that moves to another processor while it holds one is still correct, and
// only shares a count for as long as that hold lasts.
//
// A SpreadHold never changes once made; any number of threads may call Get.
template <class T>
class SpreadHold {
 public:
  // No object: Get gives null.
  SpreadHold() = default;

  // Lanes on `held` (null: none), LaneCount() of them. Throws std::bad_alloc
  // when there is no memory for them.
  explicit SpreadHold(const std::shared_ptr<const T>& held) {
    if (!held) {
      return;
    }
    lanes.reset(new std::shared_ptr<const T>[LaneCount()]);
    for (unsigned i = 0; i < LaneCount(); ++i) {
      // The lane shares the block's count and points at the object itself.
      lanes[i] = std::shared_ptr<const T>(std::make_shared<const Block>(Block{held}), held.get());
    }
  }

  // A hold on the object counted on the calling processor's lane; copy it to
  // keep the object. Null when there is none.
  const std::shared_ptr<const T>& Get() const {
    static const std::shared_ptr<const T> none;
    return lanes ? lanes[LaneOfThisProcessor()] : none;
  }

  // Lane `lane` (below LaneCount()), or null when there is no object.
  const std::shared_ptr<const T>& Lane(unsigned lane) const {
    static const std::shared_ptr<const T> none;
    return lanes ? lanes[lane] : none;
  }

  // How many lanes every SpreadHold has: sys::ProcessorLanes().
  static unsigned LaneCount() { return sys::ProcessorLanes(); }

  // The lane of the processor the calling thread runs on now.
  static unsigned LaneOfThisProcessor() { return sys::ProcessorLane(); }

 private:
  // Over-aligned, so that std::make_shared puts the count (before it in the
  // same allocation) alone on its cache line.
  struct alignas(64) Block {
    std::shared_ptr<const T> held;
  };

  std::unique_ptr<std::shared_ptr<const T>[]> lanes;  // LaneCount() of them, or none
};

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_SPREADHOLD_H
