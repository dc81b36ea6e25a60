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
  /// Takes one more reference to `other`'s object, as Pointer does.
  CTPointer(const CTPointer& other) = default;
  /// Refers to `other`'s object, as Pointer's assignment does; returns this
  /// pointer.
  CTPointer& operator=(const CTPointer& other) = default;
  ~CTPointer() = default;
};

#endif  // RXMFILES_FRAMEWORK_CTPOINTER_H
