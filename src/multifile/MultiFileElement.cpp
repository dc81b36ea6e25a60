#include "multifile/MultiFileElement.h"

#include "multifile/ElementSlab.h"

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

void* MultiFileElement::operator new(std::size_t size) {
  void* memory = RXM::ElementSlab::AllocateOne(size);
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  return memory;
}

void* MultiFileElement::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return RXM::ElementSlab::AllocateOne(size);
}

void MultiFileElement::operator delete(void* element) noexcept {
  RXM::ElementSlab::Release(element);
}

void MultiFileElement::operator delete(void* element, const std::nothrow_t&) noexcept {
  RXM::ElementSlab::Release(element);
}
