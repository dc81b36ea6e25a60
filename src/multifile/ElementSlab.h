// Many directory elements in one block of memory.
#ifndef RXMFILES_MULTIFILE_ELEMENTSLAB_H
#define RXMFILES_MULTIFILE_ELEMENTSLAB_H

#include <cstddef>
#include <cstdint>

#include "backends/System.h"

class MultiFileElement;

namespace RXM {

// Loading a directory of a million entries with one allocation per element
// costs a million calls of the allocator, and a header word or more beside
// each element; a slab holds them all in one block instead, packed as tightly
// as their alignment allows. Each element still keeps its own reference count
// and lifetime: it is deleted by its last reference as any other, and the
// block is freed when the last of its elements and the slab itself are gone.
//
// The block is cut into pages of kPageSize bytes, each beginning with a word
// that names the block; an element made here is of a class of its own whose
// delete finds that word from its own address. Elements allocated alone are
// untouched by all this.
//
// A directory of a few elements is not worth a block: a page and the room to
// align it (8 KiB) for what fits in a few hundred bytes, zeroed or faulted in
// at every open of a small archive. Below kSlabFrom elements, each is
// allocated alone.
//
// Counts of holds are plain, as the elements' own reference counts are: the
// elements of one slab are released from one thread at a time.
class ElementSlab {
 public:
  static constexpr std::size_t kPageSize = 4096;
  // The fewest elements that share a block: half a page of them.
  static const std::int32_t kSlabFrom;

  // Room for `count` elements, taken through `system`'s allocate (from
  // kSlabFrom elements; fewer are allocated one by one by Make); IsValid
  // says whether it could be had.
  explicit ElementSlab(std::int32_t count, sys::System& system = sys::System::Default());
  // Gives up the slab's own hold on the block.
  ~ElementSlab();
  ElementSlab(const ElementSlab&) = delete;
  ElementSlab& operator=(const ElementSlab&) = delete;

  bool IsValid() const { return capacity > 0; }

  // A new element (its record zero), constructed in the next free place (or
  // alone, below kSlabFrom); null when all `count` have been made (or the
  // slab is not valid). Throws std::bad_alloc when an element alone cannot
  // be had.
  MultiFileElement* Make();

  // The block's header; its elements find it when they are deleted.
  struct Block;

 private:
  Block* block = nullptr;
  unsigned char* next = nullptr;  // the next free place
  std::size_t leftInPage = 0;     // places left after `next` in its page
  std::int32_t made = 0;
  std::int32_t capacity = 0;
};

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ELEMENTSLAB_H
