#include "multifile/ElementSlab.h"

#include <cstdlib>
#include <new>

#include "multifile/MultiFileElement.h"

namespace RXM {
namespace {

// The word before each element, padded so that the element stays aligned.
constexpr std::size_t kPrefix = alignof(MultiFileElement) > sizeof(void*)
                                    ? alignof(MultiFileElement)
                                    : sizeof(void*);
constexpr std::size_t kPlace =
    (kPrefix + sizeof(MultiFileElement) + kPrefix - 1) / kPrefix * kPrefix;

}  // namespace

// The block's own header: how many holds it has (live elements, plus one for
// the slab while it exists). The places follow it.
struct ElementSlab::Block {
  std::size_t holds;
};

ElementSlab::ElementSlab(std::int32_t count) {
  if (count <= 0) {
    return;
  }
  const std::size_t header = (sizeof(Block) + kPrefix - 1) / kPrefix * kPrefix;
  void* memory = std::malloc(header + kPlace * static_cast<std::size_t>(count));
  if (memory == nullptr) {
    return;
  }
  block = static_cast<Block*>(memory);
  block->holds = 1;
  capacity = count;
}

ElementSlab::~ElementSlab() {
  if (block != nullptr && --block->holds == 0) {
    std::free(block);
  }
}

MultiFileElement* ElementSlab::Make() {
  if (block == nullptr || made == capacity) {
    return nullptr;
  }
  const std::size_t header = (sizeof(Block) + kPrefix - 1) / kPrefix * kPrefix;
  auto* place =
      reinterpret_cast<unsigned char*>(block) + header + kPlace * static_cast<std::size_t>(made);
  *reinterpret_cast<Block**>(place) = block;
  ++made;
  ++block->holds;
  return ::new (place + kPrefix) MultiFileElement();
}

void* ElementSlab::AllocateOne(std::size_t size) {
  void* memory = std::malloc(kPrefix + size);
  if (memory == nullptr) {
    return nullptr;
  }
  *static_cast<Block**>(memory) = nullptr;
  return static_cast<unsigned char*>(memory) + kPrefix;
}

void ElementSlab::Release(void* element) {
  if (element == nullptr) {
    return;
  }
  unsigned char* place = static_cast<unsigned char*>(element) - kPrefix;
  Block* owner = *reinterpret_cast<Block**>(place);
  if (owner == nullptr) {
    std::free(place);
  } else if (--owner->holds == 0) {
    std::free(owner);
  }
}

}  // namespace RXM
