#include "framework/RTTI.h"

#include <cstring>

RTTI::~RTTI() = default;

const RTTIClass* RTTI::GetClass() const {
  return nullptr;
}

void* RTTI::FindInterface(const char* name) const {
  if (name != nullptr && std::strcmp(name, "RTTI") == 0) {
    return const_cast<RTTI*>(this);
  }
  return nullptr;
}
