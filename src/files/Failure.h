// Failures worded one way, "<subject>: <reason>", by every layer that reads
// or writes files: archives, the network, the search path.
#ifndef RXMFILES_FILES_FAILURE_H
#define RXMFILES_FILES_FAILURE_H

#include <string>

#include "files/Status.h"
#include "files/Text.h"

namespace RXM {

// A failure about `subject` (a file, or "<archive>: <entry>"), with `detail`
// as its reason, or the code's own description when `detail` is empty.
inline Status Failure(ErrorCode code, const std::string& subject,
                      const std::string& detail = std::string()) {
  return Status(
      code, Concat({subject, ": ", detail.empty() ? std::string_view(Describe(code)) : detail}));
}

// A failure about `subject` that the system reported with the errno value
// `error`: "<subject>: <detail>: <the system's reason>" ("<subject>:
// <detail>" for 0), the Status carrying `error`.
inline Status SystemFailure(ErrorCode code, const std::string& subject, const std::string& detail,
                            int error) {
  const std::string reason = error == 0 ? std::string() : SystemReason(error);
  return Status(code, Concat({subject, ": ", detail, error == 0 ? "" : ": ", reason}), error);
}

}  // namespace RXM

#endif  // RXMFILES_FILES_FAILURE_H
