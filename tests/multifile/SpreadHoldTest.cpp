#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "multifile/SpreadHold.h"

namespace {

using RXM::SpreadHold;

// The lanes keep the object between them: it outlives the SpreadHold while a
// hold taken from it lives, and goes with the last hold.
TEST(SpreadHoldTest, TheObjectLivesUntilTheLastHoldOnAnyLaneGoes) {
  auto object = std::make_shared<const std::string>("archive");
  const std::weak_ptr<const std::string> watch = object;
  std::shared_ptr<const std::string> kept;
  {
    const SpreadHold<std::string> spread(object);
    object.reset();
    ASSERT_FALSE(watch.expired());  // held by the lanes alone
    kept = spread.Get();
    ASSERT_EQ(*kept, "archive");
  }
  EXPECT_FALSE(watch.expired());
  kept.reset();
  EXPECT_TRUE(watch.expired());
}

// Every lane reaches the one object, and a hold taken on one lane is counted
// there only: that is what keeps threads on different processors apart.
TEST(SpreadHoldTest, EveryLaneReachesTheObjectAndCountsItsOwnHolds) {
  const auto object = std::make_shared<const std::string>("archive");
  const SpreadHold<std::string> spread(object);
  const unsigned lanes = SpreadHold<std::string>::LaneCount();
  ASSERT_GE(lanes, 1u);
  for (unsigned lane = 0; lane < lanes; ++lane) {
    EXPECT_EQ(spread.Lane(lane).get(), object.get());
  }
  EXPECT_LT(SpreadHold<std::string>::LaneOfThisProcessor(), lanes);
  if (lanes < 2) {
    return;  // one processor: one lane, nothing to keep apart
  }
  const long before = spread.Lane(1).use_count();
  const std::shared_ptr<const std::string> held = spread.Lane(0);
  EXPECT_EQ(spread.Lane(0).use_count(), 2);
  EXPECT_EQ(spread.Lane(1).use_count(), before);
}

TEST(SpreadHoldTest, NoObjectGivesNullOnEveryLane) {
  const SpreadHold<std::string> none(nullptr);
  EXPECT_EQ(none.Get(), nullptr);
  EXPECT_EQ(none.Lane(0), nullptr);
  EXPECT_EQ(SpreadHold<std::string>().Get(), nullptr);
}

}  // namespace
