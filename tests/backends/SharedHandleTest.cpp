// Reads through a handle per processor: each lane's handle is the very file
// that was adopted, a refused handle costs nothing but speed, and the
// process never holds more extra handles than its budget.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "backends/FaultySystem.h"
#include "backends/SharedHandle.h"
#include "backends/System.h"

namespace {

using namespace testing_support;
using RXM::SharedHandle;

std::string ReadThrough(const SharedHandle& file, std::size_t size) {
  std::string bytes(size, '\0');
  bytes.resize(file.ReadAt(&bytes[0], size, 0));
  return bytes;
}

std::string ReadHandle(RXM::sys::System& system, RXM::sys::Handle handle, std::size_t size) {
  std::string bytes(size, '\0');
  const std::int64_t got = system.readAt(handle, &bytes[0], size, 0);
  bytes.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  return bytes;
}

class SharedHandleTest : public testing::Test {
 protected:
  void SetUp() override {
    if (RXM::sys::ProcessorLanes() < 2) {
      GTEST_SKIP() << "one processor: every read goes through the adopted handle";
    }
    WriteAll(dir.Path("a"), "the archive as opened");
  }

  std::shared_ptr<const SharedHandle> Adopt(RXM::sys::System& system) {
    return SharedHandle::Adopt(system.openForReading(dir.Path("a").c_str()), system,
                               SharedHandle::Readers::kMany);
  }

  TempDir dir;
};

// The second lane's handle reads the file that was opened, even after
// another file has taken its name (where an open file can be replaced).
TEST_F(SharedHandleTest, EachLaneAfterTheFirstReadsTheAdoptedFileThroughItsOwnHandle) {
  RXM::sys::System& system = RXM::sys::System::Default();
  const auto file = Adopt(system);
  ASSERT_NE(file, nullptr);
  const RXM::sys::Handle adopted = file->FileHandle();
  EXPECT_EQ(file->ReadingHandle(0), adopted);
  const RXM::sys::Handle own = file->ReadingHandle(1);
  ASSERT_NE(own, adopted);
  ASSERT_NE(own, RXM::sys::kNoHandle);
  EXPECT_EQ(file->ReadingHandle(1), own);  // opened once
#if !defined(_WIN32)                       // an open file cannot be replaced on Windows
  WriteAll(dir.Path("b"), "another file under the name");
  std::filesystem::rename(dir.Path("b"), dir.Path("a"));
#endif
  EXPECT_EQ(ReadHandle(system, own, 64), "the archive as opened");
  EXPECT_EQ(ReadThrough(*file, 64), "the archive as opened");
}

TEST_F(SharedHandleTest, ARefusedHandleLeavesTheLaneReadingTheAdoptedOne) {
  FaultySystem system;
  system.failReopen = true;
  const auto file = Adopt(system);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->ReadingHandle(0), file->FileHandle());
  EXPECT_EQ(file->ReadingHandle(1), file->FileHandle());
  EXPECT_EQ(ReadThrough(*file, 64), "the archive as opened");
}

TEST_F(SharedHandleTest, ExtraHandlesStopAtTheBudgetAndComeBackWhenClosed) {
  RXM::sys::System& system = RXM::sys::System::Default();
  std::vector<std::shared_ptr<const SharedHandle>> files;
  int extra = 0;
  for (int i = 0; i < SharedHandle::kMostExtraHandles + 6; ++i) {
    files.push_back(Adopt(system));
    ASSERT_NE(files.back(), nullptr);
    files.back()->ReadingHandle(0);
    if (files.back()->ReadingHandle(1) != files.back()->FileHandle()) {
      ++extra;
    }
    EXPECT_EQ(ReadThrough(*files.back(), 64), "the archive as opened");
  }
  EXPECT_EQ(extra, SharedHandle::kMostExtraHandles);
  files.erase(files.begin());  // it had an extra handle
  const auto later = Adopt(system);
  later->ReadingHandle(0);
  EXPECT_NE(later->ReadingHandle(1), later->FileHandle());
}

// A file read by one thread at a time needs no more than its own handle.
TEST_F(SharedHandleTest, OneReaderAtATimeKeepsToTheAdoptedHandle) {
  RXM::sys::System& system = RXM::sys::System::Default();
  const auto file = SharedHandle::Adopt(system.openForReading(dir.Path("a").c_str()), system);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->ReadingHandle(1), file->FileHandle());
}

}  // namespace
