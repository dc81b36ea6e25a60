// rxm::Archive::check_sums: reads hold each entry to the sums file beside
// the archive, and a damaged entry throws kDamaged instead of its bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <rxm/rxm.hpp>

#include "TestSupport.h"

namespace {

using testing_support::TempDir;

TEST(RxmSumsTest, ADamagedEntryThrowsOnceSumsAreChecked) {
  TempDir dir;
  const std::string path = dir.Path("s.kymf");
  MultiFileWriter writer(path.c_str());
  writer.SetWriteSums(true);
  writer.AddBytes("a.txt", "alpha", 5);
  writer.AddBytes("b.txt", "bravo", 5);
  ASSERT_TRUE(writer.Commit());
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(8 + 2 * 80 + 5);  // the first byte of b.txt, changed in place
    file.put('B');
  }
  rxm::Archive archive = rxm::Archive::open(path);
  EXPECT_EQ(archive.read_text("b.txt"), "Bravo") << "no check unless asked";
  ASSERT_TRUE(archive.check_sums());
  EXPECT_EQ(archive.read_text("a.txt"), "alpha");
  try {
    archive.read("b.txt");
    FAIL() << "the damaged entry was read";
  } catch (const rxm::Error& error) {
    EXPECT_EQ(error.code(), RXM::ErrorCode::kDamaged);
    EXPECT_NE(std::string(error.what()).find("b.txt: damaged"), std::string::npos);
  }
  std::remove((path + ".sha256").c_str());
  rxm::Archive none = rxm::Archive::open(path);
  EXPECT_FALSE(none.check_sums());
}

}  // namespace
