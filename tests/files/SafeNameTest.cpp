#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "files/SafeName.h"

namespace {

using RXM::NameFault;

struct NameCase {
  std::string name;
  NameFault fault;
};

// The name, escaped; without it GoogleTest would print the case's bytes,
// padding included.
void PrintTo(const NameCase& c, std::ostream* out) {
  *out << testing::PrintToString(c.name);
}

class SafeNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(SafeNameTest, GivesTheFirstFaultOfTheName) {
  const NameCase& c = GetParam();
  EXPECT_EQ(RXM::CheckSafeName(c.name.data(), c.name.size()), c.fault) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, SafeNameTest,
    testing::Values(
        NameCase{"a.txt", NameFault::kNone}, NameCase{"dir/sub/a", NameFault::kNone},
        NameCase{"..a/b..", NameFault::kNone}, NameCase{"1:b", NameFault::kNone},
        NameCase{"a:b", NameFault::kDriveLetter}, NameCase{"\xc3\xa9t\xc3\xa9", NameFault::kNone},
        NameCase{"", NameFault::kEmpty}, NameCase{"/abs", NameFault::kAbsolute},
        NameCase{"C:x", NameFault::kDriveLetter}, NameCase{"c:/x", NameFault::kDriveLetter},
        NameCase{"a\\b", NameFault::kBackslash}, NameCase{"..", NameFault::kParentComponent},
        NameCase{"../evil", NameFault::kParentComponent},
        NameCase{"a/../../x", NameFault::kParentComponent},
        NameCase{"a/..", NameFault::kParentComponent}, NameCase{".", NameFault::kDotComponent},
        NameCase{"a/./b", NameFault::kDotComponent}, NameCase{"a//b", NameFault::kDotComponent},
        NameCase{"a/", NameFault::kDotComponent},
        NameCase{std::string("a\0b", 3), NameFault::kControlCharacter},
        NameCase{"a\nb", NameFault::kControlCharacter},
        NameCase{"\x1b[31m", NameFault::kControlCharacter},
        NameCase{"del\x7f", NameFault::kControlCharacter}));

}  // namespace
