#ifndef RXMFILES_MULTIFILE_POINTERCOLLECTION_H
#define RXMFILES_MULTIFILE_POINTERCOLLECTION_H

#include "framework/BaseObject.h"
#include "framework/Pointer.h"

/// An ordered collection of counted pointers to objects of class T (which
/// derives from BaseObject). Objects are known by identity only.
template <class T>
class PointerCollection : public virtual BaseObject {
 public:
  ~PointerCollection() override = default;

  /// Stores `item` and returns the index of its slot.
  virtual int Add(const Pointer<T>& item) = 0;
  /// Removes the last slot and returns what it held; null when empty.
  virtual Pointer<T> Pop() = 0;
  /// What the last slot holds; null when empty.
  virtual Pointer<T> Top() = 0;
  /// The number of slots.
  virtual int GetCount() = 0;
  /// Whether a slot refers to this very object.
  virtual bool Contains(const Pointer<T>& item) = 0;
};

#endif  // RXMFILES_MULTIFILE_POINTERCOLLECTION_H
