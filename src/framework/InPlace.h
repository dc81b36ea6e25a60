// Room inside a public class for one object of a type that only the library
// defines, so that the class keeps the object's size and alignment while its
// header names the type alone. Every member that touches the object is a
// template member, instantiated only where the type is complete: in the
// library's own sources, whose out-of-line constructors, copies and
// destructors of the holding class use it.
#ifndef RXMFILES_FRAMEWORK_INPLACE_H
#define RXMFILES_FRAMEWORK_INPLACE_H

#include <cstddef>
#include <new>

namespace RXM {

/// Room for one T of exactly `Size` bytes aligned to `Align`, inside a
/// public class whose header names T alone (see StreamRoom).
template <class T, std::size_t Size, std::size_t Align>
class InPlace {
 public:
  /// Makes the object from `args` (T's constructor).
  template <class... Args>
  explicit InPlace(const Args&... args) {
    Check();
    new (bytes) T(args...);
  }
  /// A copy of `other`'s object.
  InPlace(const InPlace& other) {
    Check();
    new (bytes) T(*other);
  }
  /// Assigns `other`'s object to this one.
  InPlace& operator=(const InPlace& other) {
    if (this != &other) {
      **this = *other;
    }
    return *this;
  }
  /// Destroys the object.
  ~InPlace() { Get()->~T(); }

  /// The object.
  T& operator*() { return *Get(); }
  /// The object.
  const T& operator*() const { return *Get(); }
  /// The object's members.
  T* operator->() { return Get(); }
  /// The object's members.
  const T* operator->() const { return Get(); }

 private:
  // The room is exactly the object's, so that a class holding it has the
  // layout it would have with the object itself.
  static constexpr void Check() {
    static_assert(sizeof(T) == Size, "the room is exactly the object's size");
    static_assert(alignof(T) == Align, "the room has exactly the object's alignment");
  }
  T* Get() { return std::launder(reinterpret_cast<T*>(bytes)); }
  const T* Get() const { return std::launder(reinterpret_cast<const T*>(bytes)); }

  alignas(Align) unsigned char bytes[Size];
};

}  // namespace RXM

#endif  // RXMFILES_FRAMEWORK_INPLACE_H
