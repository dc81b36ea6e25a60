#ifndef RXMFILES_MULTIFILE_POINTERARRAY_H
#define RXMFILES_MULTIFILE_POINTERARRAY_H

#include <cstdint>
#include <new>

#include "multifile/PointerCollection.h"

/// An array of counted-pointer slots, kept in order; a null slot is free.
/// Slots own their references: storing adds one, overwriting, removing or
/// destroying a slot releases one.
///
/// There is no spare capacity: every change of the count reallocates exactly
/// the slots needed, so a caller that knows the final size sets it once with
/// SetSize and fills the free slots with Add. Add finds the first free slot
/// from a remembered lower bound (no free slot lies below `firstFree`), so
/// filling N slots in order costs O(N), not O(N^2).
///
/// A negative size, or a slot array that cannot be allocated, leaves the array
/// as it was: callers check GetCount to see whether a resize took place.
template <class T>
class PointerArray : public PointerCollection<T> {
 public:
  PointerArray() = default;
  /// A new array whose slots refer to the same objects.
  PointerArray(const PointerArray& other) : BaseObject(), PointerCollection<T>() {
    CopyFrom(other);
  }
  /// Releases this array's slots and refers to the other's objects; the
  /// array's own reference count is not part of the value.
  PointerArray& operator=(const PointerArray& other) {
    if (this != &other) {
      Clear();
      CopyFrom(other);
    }
    return *this;
  }
  ~PointerArray() override { Clear(); }

  /// The first free slot from slot 0 takes the item; with none free, the array
  /// grows by one slot at the end.
  int Add(const Pointer<T>& item) override { return Place(Pointer<T>(item)); }
  /// As Add, the slot taking over the caller's reference rather than adding
  /// one (a million records loaded are a million counts not changed twice).
  int Add(Pointer<T>&& item) { return Place(static_cast<Pointer<T>&&>(item)); }

  Pointer<T> Pop() override {
    if (count == 0) {
      return Pointer<T>();
    }
    Pointer<T> last = items[count - 1];
    SetSize(count - 1);
    return last;
  }

  Pointer<T> Top() override { return count == 0 ? Pointer<T>() : items[count - 1]; }

  /// The number of slots.
  int GetCount() override { return count; }
  /// The number of slots.
  int GetCount() const { return count; }

  bool Contains(const Pointer<T>& item) override {
    for (std::int32_t i = 0; i < count; ++i) {
      if (items[i].Get() == item.Get()) {
        return true;
      }
    }
    return false;
  }

  /// Resizes to `n` slots: the first min(n, count) keep their objects in
  /// order, new slots are free, the others are released.
  void SetSize(int n) {
    if (n < 0 || n == count) {
      return;
    }
    Pointer<T>* resized = nullptr;
    if (n > 0) {
      resized = new (std::nothrow) Pointer<T>[static_cast<std::size_t>(n)];
      if (resized == nullptr) {
        return;
      }
    }
    const std::int32_t kept = n < count ? n : count;
    for (std::int32_t i = 0; i < kept; ++i) {
      resized[i] = static_cast<Pointer<T>&&>(items[i]);
    }
    delete[] items;
    items = resized;
    if (firstFree > kept) {
      firstFree = kept;
    }
    count = n;
  }

  /// Stores `item` at `index`, growing the array to index + 1 slots when
  /// needed. False for a negative index (or when the array cannot grow).
  bool SetAt(int index, Pointer<T> item) {
    if (index < 0) {
      return false;
    }
    if (index >= count) {
      SetSize(index + 1);
      if (index >= count) {
        return false;
      }
    }
    if (item.IsNull() && index < firstFree) {
      firstFree = index;
    }
    items[index] = static_cast<Pointer<T>&&>(item);
    return true;
  }

  /// Removes every slot that refers to `item` (a null item: every free slot),
  /// keeping the others in order. Returns the number removed.
  int Remove(Pointer<T> item) {
    std::int32_t kept = 0;
    for (std::int32_t i = 0; i < count; ++i) {
      if (items[i].Get() != item.Get()) {
        if (kept != i) {
          items[kept] = static_cast<Pointer<T>&&>(items[i]);
        }
        ++kept;
      }
    }
    const std::int32_t removed = count - kept;
    if (removed > 0) {
      for (std::int32_t i = kept; i < count; ++i) {
        items[i] = Pointer<T>();
      }
      firstFree = 0;
      SetSize(kept);
    }
    return removed;
  }

  /// What slot `index` holds; null for a free slot or an index out of range.
  Pointer<T> GetAt(int index) const {
    return (index < 0 || index >= count) ? Pointer<T>() : items[index];
  }

  /// The object in slot `index` without taking a reference; the index must be
  /// in range. For hot loops that only look.
  T* Peek(int index) const { return items[index].Get(); }

 private:
  void Clear() {
    delete[] items;
    items = nullptr;
    count = 0;
    firstFree = 0;
  }

  void CopyFrom(const PointerArray& other) {
    SetSize(other.count);
    for (std::int32_t i = 0; i < count; ++i) {
      items[i] = other.items[i];
    }
    firstFree = other.firstFree < count ? other.firstFree : count;
  }

  // Add's one body: `item`'s reference moves into the slot.
  int Place(Pointer<T>&& item) {
    for (std::int32_t i = firstFree; i < count; ++i) {
      if (items[i].IsNull()) {
        firstFree = item.IsNull() ? i : i + 1;
        items[i] = static_cast<Pointer<T>&&>(item);
        return i;
      }
    }
    firstFree = count;
    if (!SetAt(count, static_cast<Pointer<T>&&>(item))) {
      return -1;
    }
    return count - 1;
  }

  std::int32_t count = 0;
  Pointer<T>* items = nullptr;
  std::int32_t firstFree = 0;
};

#endif  // RXMFILES_MULTIFILE_POINTERARRAY_H
