#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "backends/FaultySystem.h"

namespace {

using testing_support::FaultySystem;
using testing_support::TempDir;

class DiskFileTest : public testing::Test {
 protected:
  Pointer<DiskFile> OpenTenBytes(RXM::sys::System& system = RXM::sys::System::Default()) {
    testing_support::WriteAll(dir.Path("ten"), "0123456789");
    Pointer<DiskFile> file(new DiskFile(system));
    EXPECT_TRUE(file->OpenFile(dir.Path("ten").c_str(), "rb"));
    return file;
  }
  TempDir dir;
};

TEST_F(DiskFileTest, ClosedFileFailsEveryOperationHarmlessly) {
  DiskFile file;
  char buffer[4];
  EXPECT_FALSE(file.IsFileOpened());
  EXPECT_EQ(file.GetFilePointer(), nullptr);
  EXPECT_FALSE(file.CloseFile());
  EXPECT_EQ(file.ReadData(buffer, 1, 4), 0u);
  EXPECT_EQ(file.WriteData(buffer, 1, 4), 0u);
  EXPECT_EQ(file.GetFileSize(), 0u);
  EXPECT_FALSE(file.EndOfFile());
  EXPECT_FALSE(file.Seek(0, 0));
  EXPECT_EQ(file.GetPosition(), -1);
  EXPECT_FALSE(file.OpenFile(dir.Path("missing").c_str(), "rb"));
  EXPECT_FALSE(file.IsFileOpened());
}

TEST_F(DiskFileTest, ReadsSeeksAndSizesFollowTheCRuntime) {
  Pointer<DiskFile> file = OpenTenBytes();
  char buffer[12] = {};
  EXPECT_EQ(file->ReadData(buffer, 1, 10), 10u);
  EXPECT_FALSE(file->EndOfFile());  // set only by a read that ran into the end
  EXPECT_EQ(file->ReadData(buffer, 1, 1), 0u);
  EXPECT_TRUE(file->EndOfFile());
  EXPECT_TRUE(file->Seek(0, 0));  // which a seek clears
  EXPECT_FALSE(file->EndOfFile());
  EXPECT_EQ(file->ReadData(buffer, 4, 3), 2u);  // the partial last item is consumed
  EXPECT_EQ(file->GetPosition(), 10);
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
  EXPECT_TRUE(file->EndOfFile());
  EXPECT_EQ(file->GetFileSize(), 10u);  // it seeks, so it clears the end too
  EXPECT_FALSE(file->EndOfFile());
  EXPECT_EQ(file->ReadData(buffer, 0, 3), 0u);

  EXPECT_TRUE(file->Seek(100, 0));
  EXPECT_EQ(file->GetPosition(), 100);
  EXPECT_FALSE(file->Seek(-1, 0));
  EXPECT_EQ(file->GetPosition(), 100);
  EXPECT_TRUE(file->Seek(-3, 2));
  EXPECT_EQ(file->GetPosition(), 7);
  EXPECT_TRUE(file->Seek(-4, 1));
  EXPECT_EQ(file->GetPosition(), 3);
  EXPECT_FALSE(file->Seek(0, 3));
  EXPECT_EQ(file->GetFileSize(), 10u);
  EXPECT_EQ(file->GetPosition(), 3);  // the size leaves the position where it was
}

// Copies share one stream, closed once by whichever closes it; opening again,
// assigning over or a failed open lets go of the earlier stream.
TEST_F(DiskFileTest, EveryStreamIsClosedExactlyOnce) {
  FaultySystem system;  // counts the streams opened and closed
  const std::string ten = dir.Path("ten");
  {
    Pointer<DiskFile> file = OpenTenBytes(system);
    Pointer<DiskFile> copy(new DiskFile(*file));
    EXPECT_EQ(copy->GetFilePointer(), file->GetFilePointer());
    char buffer[4];
    ASSERT_EQ(file->ReadData(buffer, 1, 4), 4u);
    EXPECT_EQ(copy->GetPosition(), 4);

    DiskFile assigned;
    assigned = *copy;
    EXPECT_TRUE(assigned.CloseFile());
    EXPECT_FALSE(file->IsFileOpened());
    EXPECT_FALSE(copy->IsFileOpened());
    EXPECT_EQ(copy->ReadData(buffer, 1, 1), 0u);
    EXPECT_FALSE(copy->CloseFile());
  }
  EXPECT_TRUE(system.openStreams.empty());
  EXPECT_EQ(system.strayCloses, 0);  // closed once: a second close would not find it
  {
    DiskFile file(system);
    ASSERT_TRUE(file.OpenFile(ten.c_str(), "rb"));
    ASSERT_TRUE(file.OpenFile(ten.c_str(), "rb"));
    EXPECT_EQ(system.openStreams.size(), 1u);  // the first stream was closed

    DiskFile shared(file);
    ASSERT_TRUE(file.OpenFile(ten.c_str(), "rb"));
    EXPECT_EQ(system.openStreams.size(), 2u);  // the copy still reads the first one
    EXPECT_TRUE(shared.IsFileOpened());

    DiskFile other(system);
    ASSERT_TRUE(other.OpenFile(ten.c_str(), "rb"));
    other = file;
    EXPECT_EQ(system.openStreams.size(), 2u);
    file.OpenFile(dir.Path("missing").c_str(), "rb");  // a failed open lets go as well
    EXPECT_FALSE(file.IsFileOpened());
    EXPECT_TRUE(other.IsFileOpened());
  }
  EXPECT_TRUE(system.openStreams.empty());
  EXPECT_EQ(system.strayCloses, 0);
}

TEST_F(DiskFileTest, FailedCloseKeepsTheFileReportedOpenButNeverTouchesTheStreamAgain) {
  FaultySystem system;
  Pointer<DiskFile> file = OpenTenBytes(system);
  system.failClose = true;
  EXPECT_FALSE(file->CloseFile());
  EXPECT_TRUE(file->IsFileOpened());
  char buffer[1];
  EXPECT_EQ(file->ReadData(buffer, 1, 1), 0u);
  EXPECT_FALSE(file->Seek(0, 0));
  EXPECT_EQ(file->GetFilePointer(), nullptr);
  EXPECT_TRUE(file->CloseFile());
  EXPECT_FALSE(file->IsFileOpened());
}

// Seek and tell go through the file's System: when it fails them, Seek says
// so and leaves the position, GetPosition gives -1, and the size is measured
// again once the system recovers.
TEST_F(DiskFileTest, AFailedSeekOrTellOfTheSystemIsReportedAndMovesNothing) {
  FaultySystem system;
  Pointer<DiskFile> file = OpenTenBytes(system);
  ASSERT_TRUE(file->Seek(3, 0));
  system.FailCall(1);
  EXPECT_FALSE(file->Seek(7, 0));
  EXPECT_STREQ(system.failedCall(), "seek");
  system.FailCall(1);
  EXPECT_EQ(file->GetPosition(), -1);
  EXPECT_STREQ(system.failedCall(), "tell");
  system.Heal();
  EXPECT_EQ(file->GetPosition(), 3);
  EXPECT_EQ(file->GetFileSize(), 10u);
  EXPECT_EQ(file->GetPosition(), 3);
}

// Windows opens with shared access (_SH_DENYNO): while one DiskFile holds a
// file, others can still open it to read and to write.
TEST_F(DiskFileTest, AFileHeldOpenCanBeOpenedAgainElsewhere) {
  const std::string path = dir.Path("shared");
  DiskFile holder;
  ASSERT_TRUE(holder.OpenFile(path.c_str(), "w+b"));
  holder.WriteData("xy", 1, 2);
  std::fflush(holder.GetFilePointer());

  DiskFile reader;
  ASSERT_TRUE(reader.OpenFile(path.c_str(), "rb"));
  EXPECT_EQ(reader.GetFileSize(), 2u);
  DiskFile updater;
  ASSERT_TRUE(updater.OpenFile(path.c_str(), "r+b"));
  updater.Seek(0, SEEK_END);
  EXPECT_EQ(updater.WriteData("z", 1, 1), 1u);
  EXPECT_TRUE(updater.CloseFile());

  // The holder sees what the other wrote once it moves its position.
  char read[3] = {};
  EXPECT_TRUE(holder.Seek(0, SEEK_SET));
  EXPECT_EQ(holder.ReadData(read, 1, 3), 3u);
  EXPECT_EQ(std::string(read, 3), "xyz");
}

}  // namespace
