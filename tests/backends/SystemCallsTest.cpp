// The real system calls behind the seam, on the platform at hand (on Windows:
// _fsopen, _commit and MoveFileExA).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "TestSupport.h"
#include "backends/SystemCalls.h"

namespace {

using namespace testing_support;

TEST(SystemCallsTest, AFileWrittenFlushedAndSyncedHoldsItsBytes) {
  TempDir dir;
  const RXM::sys::SystemCalls& calls = RXM::sys::RealCalls();
  std::FILE* stream = calls.open(dir.Path("f").c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(calls.write("bytes\n", 1, 6, stream), 6u);
  EXPECT_EQ(calls.flush(stream), 0);
  EXPECT_EQ(calls.sync(stream), 0);
  EXPECT_EQ(calls.close(stream), 0);
  EXPECT_EQ(ReadAll(dir.Path("f")), BytesOf("bytes\n"));  // binary: no CR added
  EXPECT_EQ(calls.open(dir.Path("missing").c_str(), "rb"), nullptr);
}

TEST(SystemCallsTest, ReplaceTakesTheTargetsPlaceInOneStep) {
  TempDir dir;
  const RXM::sys::SystemCalls& calls = RXM::sys::RealCalls();
  const std::string from = dir.Path("new.tmp"), to = dir.Path("target");
  WriteAll(to, std::string("old"));
  WriteAll(from, std::string("new"));
  ASSERT_EQ(calls.replace(from.c_str(), to.c_str()), 0);
  EXPECT_EQ(ReadAll(to), BytesOf("new"));
  EXPECT_FALSE(Exists(from));
  EXPECT_EQ(calls.syncDirectoryOf(to.c_str()), 0);

  // A missing source fails and leaves the target alone; a missing target is
  // simply created.
  EXPECT_NE(calls.replace(from.c_str(), to.c_str()), 0);
  EXPECT_EQ(ReadAll(to), BytesOf("new"));
  WriteAll(from, std::string("fresh"));
  ASSERT_EQ(calls.replace(from.c_str(), dir.Path("created").c_str()), 0);
  EXPECT_EQ(ReadAll(dir.Path("created")), BytesOf("fresh"));
  EXPECT_EQ(calls.remove(dir.Path("created").c_str()), 0);
  EXPECT_FALSE(Exists(dir.Path("created")));
}

}  // namespace
