#include "files/Text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

// The ends of the range need every byte of the number's room.
TEST(DecimalTest, WritesEveryNumberAsToStringDoes) {
  for (const std::int64_t value :
       {std::int64_t{0}, std::int64_t{-1}, std::int64_t{7}, std::int64_t{2147483647},
        std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()}) {
    EXPECT_EQ(std::string(std::string_view(RXM::Decimal(value))), std::to_string(value));
  }
}

TEST(ConcatTest, JoinsThePartsInOrderWithEmptyOnesAndNumbersAmongThem) {
  EXPECT_EQ(RXM::Concat({}), "");
  EXPECT_EQ(RXM::Concat({"a", "", "bc"}), "abc");
  const std::string long_part(300, 'x');
  EXPECT_EQ(RXM::Concat({"data end at byte ", RXM::Decimal(-12), " (", long_part, ")"}),
            "data end at byte -12 (" + long_part + ")");
}

}  // namespace
