#include "support/EntryNameRule.h"

#include <RXMFiles.h>

namespace kymf {

std::string RefuseEntryName(std::string_view name) {
  const RXM::NameFault fault = RXM::CheckSafeName(name.data(), name.size());
  if (fault != RXM::NameFault::kNone) {
    return std::string(RXM::Describe(RXM::ErrorCode::kNameRefused)) + ": " +
           RXM::DescribeNameFault(fault);
  }
  if (name.size() > RXM::kymf::kLongestName) {
    return RXM::Describe(RXM::ErrorCode::kNameTooLong);
  }
  return "";
}

}  // namespace kymf
