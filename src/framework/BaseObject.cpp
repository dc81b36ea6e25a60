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

static_assert(sizeof(std::atomic<std::int32_t>) == sizeof(std::int32_t) &&
                  alignof(std::atomic<std::int32_t>) == alignof(std::int32_t),
              "the count keeps the layout of a plain 32-bit count");

// A new reference is made from one already held, so it needs no ordering;
// the last release orders every earlier use of the object before deleting.
void BaseObject::AddReference() {
  referenceCount.fetch_add(1, std::memory_order_relaxed);
}

void BaseObject::Release() {
  if (referenceCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete this;
  }
}

int BaseObject::GetReferenceCount() const {
  return referenceCount.load(std::memory_order_relaxed);
}
