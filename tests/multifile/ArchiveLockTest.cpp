// One writer at a time: a writer that finds the archive's lock held waits
// or is refused, and InsertFile refuses an archive replaced since it opened.
#include <gtest/gtest.h>

#include <string>

#include "backends/FaultySystem.h"
#include "multifile/ArchiveBytes.h"
#include "multifile/ArchiveLock.h"

namespace {

using namespace testing_support;
using RXM::ErrorCode;

class ArchiveLockTest : public testing::Test {
 protected:
  TempDir dir;
  const Bytes before = Archive({{"a", "abc"}});
  const std::string path = Written(dir, "locked.kymf", before);
};

TEST_F(ArchiveLockTest, ASecondWriterIsRefusedAtOnceOrWaitsItsTurn) {
  RXM::ArchiveLock holder(RXM::sys::System::Default());
  ASSERT_TRUE(holder.Acquire(path, RXM::LockWait()).IsOk());
  ASSERT_TRUE(holder.IsHeld());

  MultiFileWriter refused(path.c_str(), true);
  refused.AddBytes("b", "b", 1);
  EXPECT_FALSE(refused.Commit());
  EXPECT_EQ(refused.GetStatus().GetCode(), ErrorCode::kBusy);
  EXPECT_EQ(std::string(refused.GetError()), path + ": locked by another writer");
  EXPECT_EQ(ReadAll(path), before);

  // The other writer is a lock of this process, which the third pause
  // releases.
  FaultySystem system;
  int pauses = 0;
  int waitingCalls = 0;
  system.pauseInstead = [&](std::uint32_t) {
    if (++pauses == 3) {
      holder.Release();
    }
  };
  MultiFileWriter waits(system, path.c_str(), true);
  waits.SetLockWait(
      1000, [](const char*, void* calls) { ++*static_cast<int*>(calls); }, &waitingCalls);
  waits.AddBytes("b", "b", 1);
  EXPECT_TRUE(waits.Commit()) << waits.GetError();
  EXPECT_EQ(pauses, 3);
  EXPECT_EQ(waitingCalls, 1);
  EXPECT_EQ(ReadAll(path), Archive({{"a", "abc"}, {"b", "b"}}));
}

// Two objects open on one archive: the second insertion would build on the
// directory the first one replaced, so it is refused, and the first one's
// entry stays (on Windows the second object's open file stops the first
// replacement instead). A held lock refuses an insertion at once.
TEST_F(ArchiveLockTest, InsertFileRefusesAnArchiveReplacedSinceItOpenedOrLocked) {
  const std::string input = Written(dir, "in", BytesOf("new"));
  MultiFile first(path.c_str());
#if !defined(_WIN32)
  MultiFile second(path.c_str());
  ASSERT_TRUE(first.InsertFile(Pointer<KYFile>(), input.c_str(), "b"));
  EXPECT_FALSE(second.InsertFile(Pointer<KYFile>(), input.c_str(), "c"));
  EXPECT_EQ(second.GetStatus().GetCode(), ErrorCode::kChanged);
  EXPECT_TRUE(second.IsMultiFileOpen());
  EXPECT_EQ(ReadAll(path), Archive({{"a", "abc"}, {"b", "new"}}));
#endif
  RXM::ArchiveLock holder(RXM::sys::System::Default());
  ASSERT_TRUE(holder.Acquire(path, RXM::LockWait()).IsOk());
  EXPECT_FALSE(first.InsertFile(Pointer<KYFile>(), input.c_str(), "c"));
  EXPECT_EQ(first.GetStatus().GetCode(), ErrorCode::kBusy);
  holder.Release();
  ASSERT_TRUE(first.InsertFile(Pointer<KYFile>(), input.c_str(), "c"));
  EXPECT_TRUE(Leftovers(dir).empty());
}

}  // namespace
