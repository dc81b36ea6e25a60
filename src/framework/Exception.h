#ifndef RXMFILES_FRAMEWORK_EXCEPTION_H
#define RXMFILES_FRAMEWORK_EXCEPTION_H

#include "framework/Export.h"
#include "framework/RTTI.h"
#include "framework/String.h"

/// A failure thrown by the framework and its libraries. It is thrown as a
/// pointer to a new object: `throw new Exception("...%s", name)`; the catcher
/// (of `Exception*`, `RTTI*` or `void*`) deletes it.
class RXMFILES_API Exception : public RTTI {
 public:
  /// The message is formatted at once, as printf would format it.
  explicit Exception(const char* format, ...) RXMFILES_PRINTF(2, 3);
  ~Exception() override;

  /// The formatted message.
  const char* GetText() const;

 private:
  String text;
};

#endif  // RXMFILES_FRAMEWORK_EXCEPTION_H
