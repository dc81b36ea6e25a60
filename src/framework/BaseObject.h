#ifndef RXMFILES_FRAMEWORK_BASEOBJECT_H
#define RXMFILES_FRAMEWORK_BASEOBJECT_H

#include <atomic>
#include <cstdint>

#include "framework/Export.h"
#include "framework/RTTI.h"

/// The reference-counted root of every heap object of the framework. Classes
/// derive from it virtually, so an object has exactly one count however many
/// interfaces it implements.
///
/// The count belongs to the object, not to its value: a copy starts at 0 and
/// assignment leaves the target's count as it was. The count is atomic, so
/// objects that threads share (the installed debugger, an archive's
/// elements) may be taken and let go from any number of threads at once; the
/// object itself is still used as its class says. The atomic count has the
/// size and place of a plain 32-bit one.
class RXMFILES_API BaseObject : public RTTI {
 public:
  BaseObject() = default;
  /// A copy whose reference count starts at 0.
  BaseObject(const BaseObject& other);
  /// Leaves this object's reference count as it was; returns this object.
  BaseObject& operator=(const BaseObject& other);
  ~BaseObject() override;

  const RTTIClass* GetClass() const override;
  /// Answers "BaseObject" and "RTTI".
  void* FindInterface(const char* name) const override;

  /// Takes one reference.
  void AddReference();
  /// Gives up one reference; the object deletes itself (through its virtual
  /// destructor) when the count reaches 0. The object must not be used by the
  /// caller afterwards.
  void Release();

  /// The number of references taken and not given up (0 for an object no
  /// Pointer holds).
  int GetReferenceCount() const;

 private:
  std::atomic<std::int32_t> referenceCount{0};
};

#endif  // RXMFILES_FRAMEWORK_BASEOBJECT_H
