// What an rxm operation throws, for the tests of the modern face.
#ifndef RXMFILES_TESTS_RXM_RXMFAILURE_H
#define RXMFILES_TESTS_RXM_RXMFAILURE_H

#include <string>
#include <utility>

#include "rxm/rxm.hpp"

namespace testing_support {

// The code and text of the rxm::Error that `action` throws; kOk and "" when
// it throws nothing.
template <class Action>
std::pair<RXM::ErrorCode, std::string> Failure(Action action) {
  try {
    action();
  } catch (const rxm::Error& error) {
    return {error.code(), error.what()};
  }
  return {RXM::ErrorCode::kOk, ""};
}

}  // namespace testing_support

#endif  // RXMFILES_TESTS_RXM_RXMFAILURE_H
