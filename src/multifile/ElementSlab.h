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
// Counts of holds are plain, as the elements' own reference counts are: the
// elements of one slab are released from one thread at a time.
class ElementSlab {
 public:
  static constexpr std::size_t kPageSize = 4096;

  // Room for `count` elements, taken through `system`'s allocate; IsValid
  // says whether it could be had.
  explicit ElementSlab(std::int32_t count, sys::System& system = sys::System::Default());
  // Gives up the slab's own hold on the block.
  ~ElementSlab();
  ElementSlab(const ElementSlab&) = delete;
  ElementSlab& operator=(const ElementSlab&) = delete;

  bool IsValid() const { return block != nullptr; }

  // A new element (its record zero), constructed in the next free place;
  // null when all `count` have been made (or the slab is not valid).
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
