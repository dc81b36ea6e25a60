// Many directory elements in one block of memory.
#ifndef RXMFILES_MULTIFILE_ELEMENTSLAB_H
#define RXMFILES_MULTIFILE_ELEMENTSLAB_H

#include <cstddef>
#include <cstdint>

class MultiFileElement;

namespace RXM {

// Loading a directory of a million entries with one allocation per element
// costs a million calls of the allocator and their bookkeeping; a slab holds
// them all in one block instead. Each element still keeps its own reference
// count and lifetime: it is deleted by its last reference as any other, and
// the block is freed when the last of its elements and the slab itself are
// gone.
//
// Every element's memory (in a slab or not) is preceded by one word that
// names its slab, or is null for an element allocated alone; this is how
// MultiFileElement's operator delete knows what to give back.
class ElementSlab {
 public:
  // Room for `count` elements; IsValid says whether it could be had.
  explicit ElementSlab(std::int32_t count);
  // Gives up the slab's own hold on the block.
  ~ElementSlab();
  ElementSlab(const ElementSlab&) = delete;
  ElementSlab& operator=(const ElementSlab&) = delete;

  bool IsValid() const { return block != nullptr; }

  // A new element, constructed in the next free place; null when all
  // `count` have been made (or the slab is not valid).
  MultiFileElement* Make();

  // What MultiFileElement's operator new and delete call: memory of `size`
  // bytes for one element alone (null when there is none), and the release
  // of an element's memory, alone or in a slab.
  static void* AllocateOne(std::size_t size);
  static void Release(void* element);

 private:
  struct Block;
  Block* block = nullptr;
  std::int32_t made = 0;
  std::int32_t capacity = 0;
};

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ELEMENTSLAB_H
