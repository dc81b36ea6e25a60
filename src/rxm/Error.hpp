// The one exception of the modern face.
#ifndef RXM_ERROR_HPP
#define RXM_ERROR_HPP

#include <stdexcept>
#include <string>

#include "files/Status.h"
#include "framework/Export.h"

namespace rxm {

/// Every failure of an rxm operation, thrown by value: the library's reason
/// (the same RXM::Status that its classes keep) as an exception.
///
/// `what()` is the status text, which names the file first and then the
/// entry or name concerned, e.g. "/path/game.kymf: nope.txt: no such entry".
/// Programs branch on code(), never on the text.
class RXMFILES_API Error : public std::runtime_error {
 public:
  /// The failure `status` says (a status that is Ok is taken as kOk; the
  /// library never throws one).
  explicit Error(const RXM::Status& status);
  /// A failure with `code` and the text `reason`.
  Error(RXM::ErrorCode code, const std::string& reason);

  /// Why the operation failed.
  RXM::ErrorCode code() const noexcept { return failure; }
  /// The errno value of the system call that failed; 0 when none did (a
  /// damaged archive, a refused name, ...).
  int system_error() const noexcept { return systemError; }

 private:
  RXM::ErrorCode failure;
  int systemError;
};

}  // namespace rxm

#endif  // RXM_ERROR_HPP
