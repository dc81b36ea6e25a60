#ifndef RXMFILES_FRAMEWORK_DEBUGGER_H
#define RXMFILES_FRAMEWORK_DEBUGGER_H

#include "framework/BaseObject.h"
#include "framework/CTPointer.h"
#include "framework/Export.h"

/// Where the framework's debug output goes. The default one writes to standard
/// error (and, on Windows, to the debugger through OutputDebugStringA). A
/// program installs its own with RXM::SetDebugger.
class RXMFILES_API Debugger : public virtual BaseObject {
 public:
  Debugger() = default;
  /// A debugger like `other`; the reference count starts at 0.
  Debugger(const Debugger& other) = default;
  /// Leaves the reference count as it was; returns this object.
  Debugger& operator=(const Debugger& other) = default;
  ~Debugger() override;

  /// An informational message, printf-style.
  virtual void Print(const char* format, ...) RXMFILES_PRINTF(2, 3);
  /// An error message, printf-style.
  virtual void PrintError(const char* format, ...) RXMFILES_PRINTF(2, 3);
};

/// A debugger that prints nothing: for programs (fuzzers, quiet tools) that
/// want the library's debug output gone.
class RXMFILES_API NullDebugger : public Debugger {
 public:
  ~NullDebugger() override;
  /// Prints nothing.
  void Print(const char* format, ...) override;
  /// Prints nothing.
  void PrintError(const char* format, ...) override;
};

namespace RXM {

/// The debugger in use; never null.
RXMFILES_API CTPointer<Debugger> GetDebugger();

/// Makes `debugger` the one that GetDebugger returns from now on; a null
/// pointer restores the default debugger.
RXMFILES_API void SetDebugger(CTPointer<Debugger> debugger);

}  // namespace RXM

#endif  // RXMFILES_FRAMEWORK_DEBUGGER_H
