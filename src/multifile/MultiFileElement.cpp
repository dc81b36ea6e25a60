#include "multifile/MultiFileElement.h"

#include <cstdlib>

// The record is value-initialised (all zero) until a record is read into it.
// cppcheck-suppress uninitDerivedMemberVar
MultiFileElement::MultiFileElement() : DirectoryRecord() {}

// cppcheck-suppress uninitDerivedMemberVar
MultiFileElement::MultiFileElement(const MultiFileElement& other)
    : BaseObject(other), DirectoryRecord(other) {}

MultiFileElement::~MultiFileElement() = default;

const MultiFileElement MultiFileElement::operator=(const MultiFileElement& other) {
  if (this != &other) {
    DirectoryRecord::operator=(other);
  }
  return *this;
}

// Alone, an element is one block of the C heap, taken and given back inside
// the library whoever calls new and delete. An element in a slab is of a
// class of its own with its own delete (see ElementSlab).
void* MultiFileElement::operator new(std::size_t size) {
  void* memory = std::malloc(size);
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  return memory;
}

void* MultiFileElement::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size);
}

void MultiFileElement::operator delete(void* element) noexcept {
  std::free(element);
}

void MultiFileElement::operator delete(void* element, const std::nothrow_t&) noexcept {
  std::free(element);
}
