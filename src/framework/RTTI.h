#ifndef RXMFILES_FRAMEWORK_RTTI_H
#define RXMFILES_FRAMEWORK_RTTI_H

#include "framework/Export.h"

class RTTIClass;

/// Root of every class of the framework: run-time class and interface queries.
class RXMFILES_API RTTI {
 public:
  RTTI() = default;
  /// Nothing to copy: the class is the object's own.
  RTTI(const RTTI&) = default;
  /// Nothing to assign; returns this object.
  RTTI& operator=(const RTTI&) = default;
  virtual ~RTTI();

  /// The registry record of the object's class; null for a class that is not
  /// registered.
  virtual const RTTIClass* GetClass() const;

  /// The object seen as the interface named `name` (an exact, case-sensitive
  /// class name), or null when the object does not implement it.
  virtual void* FindInterface(const char* name) const;
};

#endif  // RXMFILES_FRAMEWORK_RTTI_H
