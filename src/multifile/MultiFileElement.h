#ifndef RXMFILES_MULTIFILE_MULTIFILEELEMENT_H
#define RXMFILES_MULTIFILE_MULTIFILEELEMENT_H

#include <cstddef>
#include <new>

#include "framework/BaseObject.h"
#include "framework/Export.h"
#include "multifile/DirectoryRecord.h"

/// One entry of an archive's directory: exactly its 80-byte record (`name`,
/// `dataStart`, `dataEnd`, see DirectoryRecord and docs/format.md), held on the heap and shared
/// through Pointer<MultiFileElement>.
class RXMFILES_API MultiFileElement : public virtual BaseObject, public DirectoryRecord {
 public:
  /// The record's bytes are unset until a record is read or assigned into it.
  MultiFileElement();
  /// A copy of `other`'s record; the reference count starts at 0.
  MultiFileElement(const MultiFileElement& other);
  ~MultiFileElement() override;

  /// Copies the record (unless `other` is this object) and returns a copy of
  /// this element.
  const MultiFileElement operator=(const MultiFileElement& other);  // NOLINT

  /// An element made with new is allocated and freed by the library itself,
  /// so a program may delete what the library made and the other way round.
  /// new throws std::bad_alloc when there is no memory, the nothrow form
  /// gives null. (A loaded directory's elements live many to one block.)
  static void* operator new(std::size_t size);
  /// The same, null when there is no memory.
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  /// Frees an element that either operator new gave.
  static void operator delete(void* element) noexcept;
  /// The same, for the nothrow form.
  static void operator delete(void* element, const std::nothrow_t&) noexcept;
};

#endif  // RXMFILES_MULTIFILE_MULTIFILEELEMENT_H
