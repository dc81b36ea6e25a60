// The create and implements-interface functions that every registered file
// class gives the class registry; each class's static members forward here.
#ifndef RXMFILES_FILES_REGISTRATION_H
#define RXMFILES_FILES_REGISTRATION_H

#include <cstring>
#include <new>

#include "files/KYFile.h"

namespace RXM {

// The FindInterface answer of a file class C: the object as a KYFile for
// "KYFile", as C for the class's own name, null for every other name (and for
// a null one). Names are compared exactly, case-sensitively.
template <class C>
void* AnswerFileInterface(const C* self, const char* name, const char* className) {
  if (name == nullptr) {
    return nullptr;
  }
  C* object = const_cast<C*>(self);
  if (std::strcmp(name, "KYFile") == 0) {
    return static_cast<KYFile*>(object);
  }
  if (std::strcmp(name, className) == 0) {
    return object;
  }
  return nullptr;
}

// A new object of class C seen as the interface `interfaceName` (null: as C
// itself). When C lacks the interface the object is deleted and the result is
// null; so it is when the object cannot be allocated.
template <class C>
void* CreateRegistered(const char* interfaceName) {
  C* object = new (std::nothrow) C();
  if (object == nullptr || interfaceName == nullptr) {
    return object;
  }
  void* seen = object->FindInterface(interfaceName);
  if (seen == nullptr) {
    delete object;
  }
  return seen;
}

// Asks a throwaway object of class C; nothing is remembered between calls.
template <class C>
bool ImplementsRegistered(const char* interfaceName) {
  C* object = new (std::nothrow) C();
  if (object == nullptr) {
    return false;
  }
  const bool implements = object->FindInterface(interfaceName) != nullptr;
  delete object;
  return implements;
}

}  // namespace RXM

#endif  // RXMFILES_FILES_REGISTRATION_H
