#include "multifile/MultiFileElement.h"

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
