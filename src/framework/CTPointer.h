#ifndef RXMFILES_FRAMEWORK_CTPOINTER_H
#define RXMFILES_FRAMEWORK_CTPOINTER_H

#include "framework/Pointer.h"

/// The counted pointer that framework services hand out (the debugger, for
/// one). It counts exactly as Pointer does and converts to and from it.
template <class T>
class CTPointer : public Pointer<T> {
 public:
  using Pointer<T>::Pointer;
  using Pointer<T>::operator=;
  CTPointer(const CTPointer& other) = default;
  CTPointer& operator=(const CTPointer& other) = default;
  ~CTPointer() = default;
};

#endif  // RXMFILES_FRAMEWORK_CTPOINTER_H
