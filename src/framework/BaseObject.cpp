#include "framework/BaseObject.h"

#include <cstring>

// The copy is a new object: it is held by nobody yet.
BaseObject::BaseObject(const BaseObject& other) : RTTI(other) {}

// Assignment copies a value; the holders of the target stay its holders, so
// the count is deliberately left alone.
// cppcheck-suppress operatorEqVarError
BaseObject& BaseObject::operator=(const BaseObject& other) {
  if (this == &other) {
    return *this;
  }
  RTTI::operator=(other);
  return *this;
}

BaseObject::~BaseObject() = default;

const RTTIClass* BaseObject::GetClass() const {
  return nullptr;
}

void* BaseObject::FindInterface(const char* name) const {
  if (name != nullptr && std::strcmp(name, "BaseObject") == 0) {
    return static_cast<BaseObject*>(const_cast<BaseObject*>(this));
  }
  return RTTI::FindInterface(name);
}

void BaseObject::AddReference() {
  ++referenceCount;
}

void BaseObject::Release() {
  if (--referenceCount == 0) {
    delete this;
  }
}

int BaseObject::GetReferenceCount() const {
  return referenceCount;
}
