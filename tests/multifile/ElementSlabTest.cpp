#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "multifile/ArchiveBytes.h"

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

}  // namespace
