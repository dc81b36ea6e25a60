#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backends/FaultySystem.h"
#include "multifile/ArchiveBytes.h"
#include "multifile/ElementSlab.h"

namespace {

using namespace testing_support;

// A directory spans many of the slab's pages. Elements kept after the archive
// is closed stay whole, and each is freed by its last reference in whatever
// order those go (the sanitizers and valgrind watch the block).
TEST(ElementSlabTest, ElementsOutliveTheirArchiveAndGoInAnyOrder) {
  std::vector<Entry> entries;
  for (int i = 0; i < 300; ++i) {
    entries.push_back({"entry" + std::to_string(i), "x"});
  }
  std::vector<Pointer<MultiFileElement>> kept;
  {
    MultiFile archive;
    ASSERT_TRUE(archive.OpenMultiFile(new MemoryFile(Archive(entries)), "many"));
    for (int i = 299; i >= 0; i -= 7) {
      kept.push_back(archive.GetDirectory().GetAt(i));
    }
    kept.push_back(archive.GetDirectory().GetAt(0));
  }
  for (std::size_t k = 0; k < kept.size(); k += 2) {
    kept[k] = nullptr;
  }
  for (std::size_t k = 1; k < kept.size(); k += 2) {
    EXPECT_STREQ(kept[k]->name,
                 k + 1 == kept.size() ? "entry0" : ("entry" + std::to_string(299 - 7 * k)).c_str());
  }
}

// A directory of fewer than kSlabFrom entries takes no block from the system:
// it opens where no block could be had, and one entry more needs the block.
TEST(ElementSlabTest, OnlyADirectoryOfManyEntriesTakesABlock) {
  const int few = RXM::ElementSlab::kSlabFrom - 1;
  ASSERT_GE(few, 4);
  for (const int count : {1, few, few + 1}) {
    std::vector<Entry> entries;
    for (int i = 0; i < count; ++i) {
      entries.push_back({"entry" + std::to_string(i), std::to_string(i)});
    }
    FaultySystem system;
    system.failAllocate = true;
    MultiFile archive(system);
    const bool opened = archive.OpenMultiFile(new MemoryFile(Archive(entries)), "few");
    EXPECT_EQ(opened, count <= few) << count << " entries";
    if (opened) {
      EXPECT_EQ(archive.GetDirectory().GetCount(), count);
      EXPECT_STREQ(archive.GetDirectory().Peek(count - 1)->name,
                   ("entry" + std::to_string(count - 1)).c_str());
    } else {
      EXPECT_EQ(archive.GetStatus().GetCode(), RXM::ErrorCode::kNoMemory);
    }
  }
}

}  // namespace
