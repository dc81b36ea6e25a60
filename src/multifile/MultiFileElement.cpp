#include "multifile/MultiFileElement.h"

MultiFileElement::MultiFileElement() : DirectoryRecord() {}

MultiFileElement::MultiFileElement(const MultiFileElement& other)
    : BaseObject(other), DirectoryRecord(other) {}

MultiFileElement::~MultiFileElement() = default;

const MultiFileElement MultiFileElement::operator=(const MultiFileElement& other) {
  if (this != &other) {
    DirectoryRecord::operator=(other);
  }
  return *this;
}
