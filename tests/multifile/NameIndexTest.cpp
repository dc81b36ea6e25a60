#include <gtest/gtest.h>

#include <random>
#include <string>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

// The reference answer: a scan from the last record to the first.
int BackwardScan(const PointerArray<MultiFileElement>& directory, const std::string& name) {
  for (int i = directory.GetCount() - 1; i >= 0; --i) {
    if (RXM::kymf::NameMatches(name.c_str(), *directory.GetAt(i))) {
      return i;
    }
  }
  return -1;
}

// Random directories full of duplicates and case variants: every lookup
// opens the entry that a backward scan finds.
TEST(NameIndexTest, LookupsAgreeWithABackwardScan) {
  std::mt19937 random(2024);
  const std::string alphabet = "aAbB.\xC3\xA9_Zz";
  auto randomName = [&]() {
    std::string name(1 + random() % 3, ' ');
    for (char& c : name)
      c = alphabet[random() % alphabet.size()];
    return name;
  };
  for (int round = 0; round < 40; ++round) {
    std::vector<Entry> entries;
    const int count = static_cast<int>(random() % 60);
    for (int i = 0; i < count; ++i) {
      entries.push_back({randomName(), std::to_string(i)});
    }
    MemoryFile* file = new MemoryFile(Archive(entries));
    MultiFile archive;
    ASSERT_TRUE(archive.OpenMultiFile(file, "random"));
    for (int probe = 0; probe < 100; ++probe) {
      const std::string name = randomName();
      const int expected = BackwardScan(archive.GetDirectory(), name);
      ASSERT_EQ(archive.OpenFile(name.c_str(), "rb"), expected >= 0) << name;
      if (expected >= 0) {
        ASSERT_EQ(ReadRest(archive), std::to_string(expected)) << name;
      }
    }
  }
}

}  // namespace
