#include <gtest/gtest.h>

#include "RXMFiles.h"

namespace {

// Counts its destructions, so tests see when the last reference goes.
class Tracked : public virtual BaseObject {
 public:
  explicit Tracked(int* counter) : destroyed(counter) {}
  Tracked(const Tracked& other) = default;
  Tracked& operator=(const Tracked& other) = default;
  ~Tracked() override { ++*destroyed; }
  int* destroyed;
};

class TrackedChild : public Tracked {
 public:
  using Tracked::Tracked;
};

TEST(BaseObjectTest, CopyStartsAtZeroAndAssignmentKeepsTheTargetsCount) {
  int destroyed = 0;
  Pointer<Tracked> original(new Tracked(&destroyed));
  Pointer<Tracked> second(original);
  ASSERT_EQ(original->GetReferenceCount(), 2);

  Tracked copy(*original);
  EXPECT_EQ(copy.GetReferenceCount(), 0);

  Pointer<Tracked> target(new Tracked(&destroyed));
  *target = *original;
  EXPECT_EQ(target->GetReferenceCount(), 1);
  EXPECT_EQ(original->GetReferenceCount(), 2);
}

TEST(BaseObjectTest, AssignmentTakesTheNewReferenceBeforeReleasingTheOld) {
  int destroyed = 0;
  Pointer<Tracked> only(new Tracked(&destroyed));
  Pointer<Tracked>& alias = only;
  only = alias;  // the object must survive being assigned to itself
  Tracked* raw = only.Get();
  only = raw;
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(only->GetReferenceCount(), 1);

  Pointer<Tracked> other(new Tracked(&destroyed));
  only = other;
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(other->GetReferenceCount(), 2);
}

TEST(BaseObjectTest, PointersToBasesShareAnObjectOfItsOwnInterfacesAndTheLastOneDeletesIt) {
  int destroyed = 0;
  {
    Pointer<TrackedChild> child(new TrackedChild(&destroyed));
    Pointer<Tracked> base = child;
    CTPointer<BaseObject> root(base);
    EXPECT_TRUE(root == child);
    EXPECT_EQ(child->GetReferenceCount(), 3);
    EXPECT_EQ(&*base, base.Get());
    EXPECT_EQ(base->FindInterface("BaseObject"), static_cast<BaseObject*>(base.Get()));
    EXPECT_EQ(base->FindInterface("RTTI"), static_cast<RTTI*>(base.Get()));
    EXPECT_EQ(base->FindInterface("KYFile"), nullptr);
    EXPECT_EQ(base->GetClass(), nullptr);
    child = nullptr;
    base = nullptr;
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_EQ(destroyed, 1);  // through a BaseObject, so by the virtual destructor
  EXPECT_TRUE(Pointer<Tracked>().IsNull());
}

}  // namespace
