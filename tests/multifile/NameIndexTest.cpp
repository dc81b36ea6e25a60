#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "multifile/ArchiveBytes.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/EntryLookup.h"
#include "multifile/NameIndex.h"

namespace {

using namespace testing_support;
using RXM::NameIndex;

// The test's own key for names that must compare equal: each of the 26
// upper-case ASCII letters spelt out and replaced by its lower-case one.
std::string Key(const std::string& name) {
  static const std::string upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  static const std::string lower = "abcdefghijklmnopqrstuvwxyz";
  std::string key = name;
  for (char& c : key) {
    const std::size_t letter = upper.find(c);
    if (letter != std::string::npos) {
      c = lower[letter];
    }
  }
  return key;
}

// Random directories of duplicates and case variants, names over several
// eight-byte words made of the letters' edges (and bytes from 0x80 whose low
// seven bits are letters), counts around powers of two: the first lookup
// scans, the others ask the index, and all agree with a map of the test's
// own keys filled in directory order, so that the last equal name wins.
TEST(NameIndexTest, LookupsAgreeWithAMapWhereTheLastEqualNameWins) {
  std::mt19937 random(2024);
  const std::string alphabet = "aAzZ@[`{\xC1\xE1\xDA\xFA.";
  const std::vector<std::string> stems = {"", "folder/", "a/longer/folder/name/"};
  auto randomName = [&]() {
    std::string name = stems[random() % stems.size()];
    for (std::size_t i = 1 + random() % 3; i > 0; --i) {
      name += alphabet[random() % alphabet.size()];
    }
    return name;
  };
  for (int count : {0, 1, 2, 3, 15, 16, 17, 63, 64, 65, 127, 128, 129}) {
    std::vector<Entry> entries;
    for (int i = 0; i < count; ++i) {
      entries.push_back({randomName(), std::to_string(i)});
    }
    std::map<std::string, int> last;
    for (int i = 0; i < count; ++i) {
      last[Key(entries[static_cast<std::size_t>(i)].name)] = i;
    }
    MultiFile archive;
    ASSERT_TRUE(archive.OpenMultiFile(new MemoryFile(Archive(entries)), "random"));
    const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
    for (int probe = 0; probe < 200; ++probe) {
      const std::string name = randomName();
      const auto found = last.find(Key(name));
      const int expected = found == last.end() ? -1 : found->second;
      ASSERT_EQ(RXM::EntryLookup::Scan(name.c_str(), directory), expected) << count << " " << name;
      ASSERT_EQ(archive.OpenFile(name.c_str(), "rb"), expected >= 0) << count << " " << name;
      if (expected >= 0) {
        ASSERT_EQ(ReadRest(archive), std::to_string(expected)) << count << " " << name;
      }
    }
  }
}

// The hash is a key of the fold and nothing coarser: two names of one byte
// hash alike exactly when the fold makes them equal, at every place in a word.
TEST(NameIndexTest, HashesAlikeExactlyTheNamesTheFoldMakesEqual) {
  for (std::size_t place = 0; place < 9; ++place) {
    for (int first = 1; first < 256; ++first) {
      std::string one(place, 'x');
      one += static_cast<char>(first);
      for (int second = first; second < 256; ++second) {
        std::string other(place, 'X');
        other += static_cast<char>(second);
        const bool equal =
            RXM::multifile::FoldName(one.c_str()) == RXM::multifile::FoldName(other.c_str());
        ASSERT_EQ(NameIndex::Hash(one.c_str()) == NameIndex::Hash(other.c_str()), equal)
            << place << " " << first << " " << second;
      }
    }
  }
}

// A record read from a file may hold anything after its name's NUL and in
// its padding: none of it reaches the hash, at any length of name.
TEST(NameIndexTest, BytesAfterTheNameDoNotChangeItsHash) {
  for (std::size_t length = 0; length <= RXM::multifile::kLongestName; ++length) {
    const std::string name(length, 'n');
    DirectoryRecord record = RXM::multifile::NewRecord(name.c_str());
    std::memset(record.name + length + 1, 'N', RXM::multifile::kNameSize - length - 1);
    std::memset(record.padding, 0xFF, sizeof record.padding);
    ASSERT_EQ(NameIndex::Hash(record), NameIndex::Hash(name.c_str())) << length;
    if (length > 0) {
      record.name[length - 1] = 'm';
      ASSERT_NE(NameIndex::Hash(record), NameIndex::Hash(name.c_str())) << length;
    }
  }
}

}  // namespace
