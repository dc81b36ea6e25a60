#ifndef RXMFILES_FRAMEWORK_POINTER_H
#define RXMFILES_FRAMEWORK_POINTER_H

#include <type_traits>

/// A counted reference to a heap object whose class derives from BaseObject.
///
/// Each non-null Pointer holds one reference; the object is deleted when the
/// last one is dropped. Assignment takes the new reference before it drops the
/// old one, so assigning a pointer to itself (or to another pointer to the same
/// object) is safe.
template <class T>
class Pointer {
 public:
  /// Refers to `pointee` (null: to nothing), taking one reference to it.
  Pointer(T* pointee = nullptr) : object(pointee) {  // NOLINT(google-explicit-constructor)
    if (object != nullptr) {
      object->AddReference();
    }
  }
  /// Refers to `other`'s object, taking one more reference to it.
  Pointer(const Pointer& other) : Pointer(other.object) {}
  /// Moving hands the reference over; `other` is left null.
  Pointer(Pointer&& other) noexcept : object(other.object) { other.object = nullptr; }
  /// Refers to `other`'s object (of a class derived from T), taking one
  /// more reference to it.
  template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  Pointer(const Pointer<U>& other) : Pointer(other.Get()) {}  // NOLINT(google-explicit-constructor)
  ~Pointer() {
    if (object != nullptr) {
      object->Release();
    }
  }

  /// Refers to `other`'s object: takes its reference, then gives up the one
  /// to the old object. Returns this pointer.
  Pointer& operator=(const Pointer& other) {
    if (this != &other) {
      T* old = object;
      object = other.object;
      if (object != nullptr) {
        object->AddReference();
      }
      if (old != nullptr) {
        old->Release();
      }
    }
    return *this;
  }
  /// Takes over `other`'s reference (`other` is left null) and gives up the
  /// one to the old object. Returns this pointer.
  Pointer& operator=(Pointer&& other) noexcept {
    if (this != &other) {
      T* old = object;
      object = other.object;
      other.object = nullptr;
      if (old != nullptr) {
        old->Release();
      }
    }
    return *this;
  }
  /// Refers to `other`'s object (of a class derived from T), as the
  /// assignment from a Pointer<T> does. Returns this pointer.
  template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  Pointer& operator=(const Pointer<U>& other) {
    return Assign(other.Get());
  }
  /// Refers to `other` (null: to nothing), taking a reference to it, then
  /// gives up the one to the old object. Returns this pointer.
  Pointer& operator=(T* other) { return Assign(other); }

  /// The object's members; the pointer must not be null.
  T* operator->() const { return object; }
  /// The object; the pointer must not be null.
  T& operator*() const { return *object; }
  /// The object, or null.
  T* Get() const { return object; }
  /// Whether the pointer refers to nothing.
  bool IsNull() const { return object == nullptr; }

 private:
  Pointer& Assign(T* other) {
    T* old = object;
    object = other;
    if (other != nullptr) {
      other->AddReference();
    }
    if (old != nullptr) {
      old->Release();
    }
    return *this;
  }

  T* object;
};

template <class T, class U>
bool operator==(const Pointer<T>& a, const Pointer<U>& b) {
  return a.Get() == b.Get();
}
template <class T, class U>
bool operator!=(const Pointer<T>& a, const Pointer<U>& b) {
  return a.Get() != b.Get();
}

#endif  // RXMFILES_FRAMEWORK_POINTER_H
