#include "rxm/Error.hpp"

namespace rxm {

Error::Error(const RXM::Status& status)
    : std::runtime_error(status.GetText()),
      failure(status.GetCode()),
      systemError(status.GetSystemError()) {}

Error::Error(RXM::ErrorCode code, const std::string& reason)
    : std::runtime_error(reason), failure(code), systemError(0) {}

}  // namespace rxm
