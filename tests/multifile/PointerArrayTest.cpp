#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "RXMFiles.h"

namespace {

class Item : public virtual BaseObject {};

using Array = PointerArray<Item>;

std::vector<Item*> Slots(const Array& array) {
  std::vector<Item*> slots;
  for (int i = 0; i < array.GetCount(); ++i) {
    slots.push_back(array.GetAt(i).Get());
  }
  return slots;
}

class PointerArrayTest : public testing::Test {
 protected:
  Pointer<Item> a{new Item()}, b{new Item()}, c{new Item()};
};

TEST_F(PointerArrayTest, AddTakesTheFirstFreeSlotOrAppends) {
  Array array;
  array.SetAt(0, a);
  array.SetAt(2, c);
  EXPECT_EQ(array.Add(b), 1);
  EXPECT_EQ(array.GetCount(), 3);
  EXPECT_EQ(array.Add(a), 3);
  EXPECT_EQ(array.GetCount(), 4);
  EXPECT_EQ(Slots(array), (std::vector<Item*>{a.Get(), b.Get(), c.Get(), a.Get()}));
  EXPECT_EQ(a->GetReferenceCount(), 3);
}

TEST_F(PointerArrayTest, SetAtGrowsWithFreeSlotsAndRefusesNegativeIndexes) {
  Array array;
  array.SetAt(1, a);
  EXPECT_TRUE(array.SetAt(5, b));
  EXPECT_EQ(Slots(array),
            (std::vector<Item*>{nullptr, a.Get(), nullptr, nullptr, nullptr, b.Get()}));
  EXPECT_FALSE(array.SetAt(-1, c));
  EXPECT_EQ(array.GetCount(), 6);
  EXPECT_EQ(array.GetAt(6).Get(), nullptr);
  EXPECT_EQ(array.GetAt(-1).Get(), nullptr);
}

TEST_F(PointerArrayTest, RemoveKeepsTheOrderOfTheOthers) {
  Array array;
  array.SetAt(0, a);
  array.SetAt(2, b);
  array.SetAt(4, Pointer<Item>());
  EXPECT_EQ(array.Remove(Pointer<Item>()), 3);
  EXPECT_EQ(Slots(array), (std::vector<Item*>{a.Get(), b.Get()}));
  EXPECT_EQ(array.Remove(c), 0);
  EXPECT_EQ(Slots(array), (std::vector<Item*>{a.Get(), b.Get()}));
  array.Add(a);
  EXPECT_EQ(array.Remove(a), 2);
  EXPECT_EQ(Slots(array), (std::vector<Item*>{b.Get()}));
  EXPECT_EQ(a->GetReferenceCount(), 1);
}

TEST_F(PointerArrayTest, PopAndTopOfTheLastSlot) {
  Array array;
  EXPECT_TRUE(array.Pop().IsNull());
  EXPECT_TRUE(array.Top().IsNull());
  array.Add(a);
  array.Add(b);
  EXPECT_EQ(array.Top(), b);
  EXPECT_EQ(array.GetCount(), 2);
  Item* raw = b.Get();
  b = nullptr;  // only the array holds it now: Pop must keep it alive
  Pointer<Item> popped = array.Pop();
  EXPECT_EQ(popped.Get(), raw);
  EXPECT_EQ(popped->GetReferenceCount(), 1);
  EXPECT_EQ(Slots(array), (std::vector<Item*>{a.Get()}));
}

TEST_F(PointerArrayTest, SlotsOwnTheirReferences) {
  int before = a->GetReferenceCount();
  {
    Array array;
    array.SetSize(3);
    array.Add(a);
    Array copy(array);
    EXPECT_EQ(copy.GetReferenceCount(), 0);
    EXPECT_EQ(a->GetReferenceCount(), before + 2);
    Array assigned;
    assigned.Add(b);
    assigned = copy;
    Array& alias = assigned;
    assigned = alias;
    EXPECT_EQ(Slots(assigned), Slots(array));
    EXPECT_EQ(b->GetReferenceCount(), 1);
    array.SetSize(0);
    EXPECT_EQ(a->GetReferenceCount(), before + 2);
  }
  EXPECT_EQ(a->GetReferenceCount(), before);
}

TEST_F(PointerArrayTest, ContainsByIdentityOnly) {
  Array array;
  EXPECT_FALSE(array.Contains(a));
  array.Add(a);
  EXPECT_TRUE(array.Contains(a));
  EXPECT_FALSE(array.Contains(Pointer<Item>(new Item(*a))));
}

TEST_F(PointerArrayTest, NegativeSizeChangesNothing) {
  Array array;
  array.Add(a);
  array.SetSize(-4);
  EXPECT_EQ(Slots(array), (std::vector<Item*>{a.Get()}));
}

// The remembered lowest free slot must never change an answer: random
// operations give exactly what a plain array with a scan from slot 0 gives.
TEST_F(PointerArrayTest, RandomOperationsMatchAPlainArray) {
  std::mt19937 random(7);
  std::vector<Pointer<Item>> pool = {a, b, c, Pointer<Item>()};
  for (int round = 0; round < 50; ++round) {
    Array array;
    std::vector<Item*> model;
    for (int step = 0; step < 200; ++step) {
      const Pointer<Item>& item = pool[random() % pool.size()];
      const int index = static_cast<int>(random() % 12);
      switch (random() % 5) {
        case 0: {
          int expected = -1;
          for (std::size_t i = 0; i < model.size() && expected < 0; ++i) {
            if (model[i] == nullptr)
              expected = static_cast<int>(i);
          }
          if (expected < 0) {
            expected = static_cast<int>(model.size());
            model.push_back(nullptr);
          }
          model[static_cast<std::size_t>(expected)] = item.Get();
          ASSERT_EQ(array.Add(item), expected);
          break;
        }
        case 1:
          if (static_cast<std::size_t>(index) >= model.size())
            model.resize(index + 1, nullptr);
          model[static_cast<std::size_t>(index)] = item.Get();
          array.SetAt(index, item);
          break;
        case 2: {
          int removed = 0;
          std::vector<Item*> kept;
          for (Item* slot : model) {
            if (slot == item.Get())
              ++removed;
            else
              kept.push_back(slot);
          }
          model = kept;
          ASSERT_EQ(array.Remove(item), removed);
          break;
        }
        case 3:
          model.resize(static_cast<std::size_t>(index), nullptr);
          array.SetSize(index);
          break;
        default:
          ASSERT_EQ(array.Pop().Get(), model.empty() ? nullptr : model.back());
          if (!model.empty())
            model.pop_back();
      }
      ASSERT_EQ(Slots(array), model);
    }
  }
}

}  // namespace
