#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "RXMFiles.h"

namespace {

class Item : public virtual BaseObject {};

using Array = PointerArray<Item>;

// The remembered lowest free slot never changes an answer: random operations
// (negative indexes and sizes, copies, references added and taken over)
// answer as a plain vector scanned from slot 0 does, and each slot holds one
// reference.
TEST(PointerArrayTest, RandomOperationsMatchAPlainVector) {
  std::mt19937 random(7);
  const std::vector<Pointer<Item>> pool = {new Item(), new Item(), new Item(), nullptr};
  for (int round = 0; round < 50; ++round) {
    Array array;
    std::vector<Item*> model;
    for (int step = 0; step < 200; ++step) {
      const Pointer<Item>& item = pool[random() % pool.size()];
      const int index = static_cast<int>(random() % 14) - 2;
      switch (random() % 6) {
        case 0: {
          const auto free = std::find(model.begin(), model.end(), nullptr);
          const int expected = static_cast<int>(free - model.begin());
          if (free == model.end()) {
            model.push_back(item.Get());
          } else {
            *free = item.Get();
          }
          // Half the time a reference the array takes over (Add of an rvalue).
          ASSERT_EQ(random() % 2 == 0 ? array.Add(item) : array.Add(Pointer<Item>(item)), expected);
          break;
        }
        case 1:
          if (index >= static_cast<int>(model.size())) {
            model.resize(static_cast<std::size_t>(index) + 1, nullptr);
          }
          if (index >= 0) {
            model[static_cast<std::size_t>(index)] = item.Get();
          }
          ASSERT_EQ(array.SetAt(index, item), index >= 0);
          break;
        case 2: {
          const auto kept = std::remove(model.begin(), model.end(), item.Get());
          const int removed = static_cast<int>(model.end() - kept);
          model.erase(kept, model.end());
          ASSERT_EQ(array.Remove(item), removed);
          break;
        }
        case 3:
          if (index >= 0) {
            model.resize(static_cast<std::size_t>(index), nullptr);
          }
          array.SetSize(index);
          break;
        case 4: {
          const Array copy(array);
          Array& alias = array;
          array = alias;
          array = copy;
          break;
        }
        default:
          ASSERT_EQ(array.Top().Get(), model.empty() ? nullptr : model.back());
          ASSERT_EQ(array.Pop().Get(), model.empty() ? nullptr : model.back());
          if (!model.empty()) {
            model.pop_back();
          }
      }
      ASSERT_EQ(array.GetCount(), static_cast<int>(model.size())) << "step " << step;
      for (int i = 0; i < array.GetCount(); ++i) {
        ASSERT_EQ(array.GetAt(i).Get(), model[static_cast<std::size_t>(i)]) << "step " << step;
      }
      ASSERT_TRUE(array.GetAt(-1).IsNull());
      ASSERT_TRUE(array.GetAt(array.GetCount()).IsNull());
      for (const Pointer<Item>& each : pool) {
        const auto held = std::count(model.begin(), model.end(), each.Get());
        ASSERT_EQ(array.Contains(each), held > 0);
        if (!each.IsNull()) {
          ASSERT_EQ(each->GetReferenceCount(), 1 + held);
        }
      }
    }
  }
}

// A copy's own reference count is not copied; Pop hands over the last
// reference, so the object outlives its slot.
TEST(PointerArrayTest, PopKeepsTheLastReferenceAlive) {
  Array array;
  Item* raw = new Item();
  array.Add(raw);
  EXPECT_EQ(Array(array).GetReferenceCount(), 0);
  const Pointer<Item> popped = array.Pop();
  EXPECT_EQ(popped.Get(), raw);
  EXPECT_EQ(popped->GetReferenceCount(), 1);
}

}  // namespace
