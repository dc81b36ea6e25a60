#include "multifile/ElementSlab.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "backends/System.h"
#include "multifile/MultiFileElement.h"

namespace RXM {

// The block's own header, at the start of its memory: how many holds it has
// (live elements, plus one for the slab while it exists).
struct ElementSlab::Block {
  std::size_t holds;
};

namespace {

// An element that lives in a slab's page. It adds nothing to the element but
// the way back to its block, so `delete` through any Pointer gives the place
// back to the slab instead of to the heap.
class SlabElement final : public MultiFileElement {
 public:
  SlabElement() = default;

  static void operator delete(void* place) noexcept;
};

// The word at the start of each page.
struct PageHeader {
  ElementSlab::Block* block;
};

constexpr std::size_t kPageSize = ElementSlab::kPageSize;
constexpr std::size_t kPlace = sizeof(SlabElement);
// The page's first word names the block; the places follow, aligned.
constexpr std::size_t kPageHeader =
    (sizeof(PageHeader) + alignof(SlabElement) - 1) / alignof(SlabElement) * alignof(SlabElement);
constexpr std::size_t kPlacesPerPage = (kPageSize - kPageHeader) / kPlace;
static_assert(kPlacesPerPage >= 1, "an element fits in a page");
static_assert(kPageSize % alignof(SlabElement) == 0, "pages keep elements aligned");

unsigned char* PageOf(void* place) {
  const std::size_t intoPage = reinterpret_cast<std::uintptr_t>(place) % kPageSize;
  return static_cast<unsigned char*>(place) - intoPage;
}

std::size_t PagesFor(std::int32_t count) {
  return (static_cast<std::size_t>(count) + kPlacesPerPage - 1) / kPlacesPerPage;
}

// The bytes of a block for `count` elements: its header, room to move the
// first page up to a page boundary, and the pages.
std::size_t BlockSize(std::int32_t count) {
  return sizeof(ElementSlab::Block) + kPageSize - 1 + PagesFor(count) * kPageSize;
}

}  // namespace

const std::int32_t ElementSlab::kSlabFrom = static_cast<std::int32_t>(kPlacesPerPage / 2);

void SlabElement::operator delete(void* place) noexcept {
  PageHeader header{};
  std::memcpy(&header, PageOf(place), sizeof header);
  if (--header.block->holds == 0) {
    std::free(header.block);
  }
}

ElementSlab::ElementSlab(std::int32_t count, sys::System& system) {
  if (count > 0 && count < kSlabFrom) {
    capacity = count;  // each made alone; no block
    return;
  }
  if (count <= 0 || PagesFor(count) > (SIZE_MAX - 2 * kPageSize) / kPageSize) {
    return;
  }
  void* memory = system.allocate(BlockSize(count));
  if (memory == nullptr) {
    return;
  }
  sys::AdviseLargeBlock(memory, BlockSize(count));
  block = static_cast<Block*>(memory);
  block->holds = 1;
  next = PageOf(static_cast<unsigned char*>(memory) + sizeof(Block) + kPageSize - 1);
  capacity = count;
}

ElementSlab::~ElementSlab() {
  if (block != nullptr && --block->holds == 0) {
    std::free(block);
  }
}

MultiFileElement* ElementSlab::Make() {
  if (made == capacity) {
    return nullptr;
  }
  if (block == nullptr) {
    ++made;
    return new MultiFileElement();
  }
  if (leftInPage == 0) {
    // `next` is at the start of a fresh page: name the block there.
    const PageHeader header{block};
    std::memcpy(next, &header, sizeof header);
    next += kPageHeader;
    leftInPage = kPlacesPerPage;
  }
  unsigned char* place = next;
  --leftInPage;
  next = leftInPage == 0 ? PageOf(place) + kPageSize : place + kPlace;
  ++made;
  ++block->holds;
  return ::new (place) SlabElement();
}

}  // namespace RXM
