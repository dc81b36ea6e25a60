#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "RXMFiles.h"
#include "TestSupport.h"

namespace {

using testing_support::Bytes;
using testing_support::SystemCallsOverride;
using testing_support::TempDir;

class DiskFileTest : public testing::Test {
 protected:
  // A 10-byte file "0123456789", opened for reading.
  Pointer<DiskFile> OpenTenBytes() {
    testing_support::WriteAll(dir.Path("ten"), "0123456789");
    Pointer<DiskFile> file(new DiskFile());
    EXPECT_TRUE(file->OpenFile(dir.Path("ten").c_str(), "rb"));
    return file;
  }
  TempDir dir;
};

// Counts the streams that the library opens and closes.
std::map<std::FILE*, int> gOpenStreams;
int gCloses = 0;
std::FILE* CountingOpen(const char* path, const char* mode) {
  std::FILE* stream = RXM::sys::RealCalls().open(path, mode);
  if (stream != nullptr) {
    ++gOpenStreams[stream];
  }
  return stream;
}
int CountingClose(std::FILE* stream) {
  ++gCloses;
  EXPECT_EQ(gOpenStreams.erase(stream), 1u) << "closed a stream that was not open";
  return RXM::sys::RealCalls().close(stream);
}

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

TEST_F(DiskFileTest, SizeLeavesThePositionWhereItWas) {
  DiskFile file;
  ASSERT_TRUE(file.OpenFile(dir.Path("w").c_str(), "wb"));
  EXPECT_EQ(file.WriteData("0123456789", 1, 10), 10u);
  EXPECT_EQ(file.GetFileSize(), 10u);
  EXPECT_EQ(file.GetPosition(), 10);
  ASSERT_TRUE(file.Seek(3, 0));
  EXPECT_EQ(file.GetFileSize(), 10u);
  EXPECT_EQ(file.GetPosition(), 3);
  EXPECT_TRUE(file.CloseFile());
  EXPECT_EQ(testing_support::ReadAll(dir.Path("w")), testing_support::BytesOf("0123456789"));
}

TEST_F(DiskFileTest, ReadOfPartialItemConsumesTheRest) {
  Pointer<DiskFile> file = OpenTenBytes();
  char buffer[12] = {};
  EXPECT_EQ(file->ReadData(buffer, 4, 3), 2u);
  EXPECT_EQ(file->GetPosition(), 10);
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
  EXPECT_EQ(file->ReadData(buffer, 0, 3), 0u);
}

TEST_F(DiskFileTest, EndOfFileIsSetOnlyByAReadThatRanIntoTheEnd) {
  testing_support::WriteAll(dir.Path("empty"), Bytes{});
  DiskFile empty;
  ASSERT_TRUE(empty.OpenFile(dir.Path("empty").c_str(), "rb"));
  EXPECT_FALSE(empty.EndOfFile());

  Pointer<DiskFile> file = OpenTenBytes();
  char buffer[10];
  EXPECT_EQ(file->ReadData(buffer, 1, 10), 10u);
  EXPECT_FALSE(file->EndOfFile());
  EXPECT_EQ(file->ReadData(buffer, 1, 1), 0u);
  EXPECT_TRUE(file->EndOfFile());
  file->GetFileSize();
  EXPECT_FALSE(file->EndOfFile());
  file->ReadData(buffer, 1, 1);
  ASSERT_TRUE(file->EndOfFile());
  EXPECT_TRUE(file->Seek(0, 1));
  EXPECT_FALSE(file->EndOfFile());
}

TEST_F(DiskFileTest, SeekFollowsTheCRuntime) {
  Pointer<DiskFile> file = OpenTenBytes();
  EXPECT_TRUE(file->Seek(100, 0));
  EXPECT_EQ(file->GetPosition(), 100);
  EXPECT_FALSE(file->Seek(-1, 0));
  EXPECT_EQ(file->GetPosition(), 100);
  EXPECT_TRUE(file->Seek(-3, 2));
  EXPECT_EQ(file->GetPosition(), 7);
  EXPECT_TRUE(file->Seek(-2, 1));
  EXPECT_EQ(file->GetPosition(), 5);
  EXPECT_FALSE(file->Seek(0, 3));
}

TEST_F(DiskFileTest, CopiesShareOneStreamAndCloseItExactlyOnce) {
  SystemCallsOverride calls;
  calls->open = CountingOpen;
  calls->close = CountingClose;
  gCloses = 0;
  {
    Pointer<DiskFile> file = OpenTenBytes();
    Pointer<DiskFile> copy(new DiskFile(*file));
    EXPECT_EQ(copy->GetReferenceCount(), 1);
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
  EXPECT_EQ(gCloses, 1);
  EXPECT_TRUE(gOpenStreams.empty());
}

TEST_F(DiskFileTest, OpeningAgainOrAssigningOverLetsGoOfTheEarlierStream) {
  SystemCallsOverride calls;
  calls->open = CountingOpen;
  calls->close = CountingClose;
  testing_support::WriteAll(dir.Path("a"), "a");
  {
    DiskFile file;
    ASSERT_TRUE(file.OpenFile(dir.Path("a").c_str(), "rb"));
    ASSERT_TRUE(file.OpenFile(dir.Path("a").c_str(), "rb"));
    EXPECT_EQ(gOpenStreams.size(), 1u);  // the first stream was closed

    DiskFile shared(file);
    ASSERT_TRUE(file.OpenFile(dir.Path("a").c_str(), "rb"));
    EXPECT_EQ(gOpenStreams.size(), 2u);  // the copy still reads the first one
    EXPECT_TRUE(shared.IsFileOpened());

    DiskFile other;
    ASSERT_TRUE(other.OpenFile(dir.Path("a").c_str(), "rb"));
    other = file;
    EXPECT_EQ(gOpenStreams.size(), 2u);
    file.OpenFile(dir.Path("missing").c_str(), "rb");  // a failed open lets go as well
    EXPECT_FALSE(file.IsFileOpened());
    EXPECT_TRUE(other.IsFileOpened());
  }
  EXPECT_TRUE(gOpenStreams.empty());
}

TEST_F(DiskFileTest, FailedCloseKeepsTheFileReportedOpenButNeverTouchesTheStreamAgain) {
  Pointer<DiskFile> file = OpenTenBytes();
  SystemCallsOverride calls;
  calls->close = testing_support::FailingClose;
  EXPECT_FALSE(file->CloseFile());
  EXPECT_TRUE(file->IsFileOpened());
  char buffer[1];
  EXPECT_EQ(file->ReadData(buffer, 1, 1), 0u);
  EXPECT_FALSE(file->Seek(0, 0));
  EXPECT_EQ(file->GetFilePointer(), nullptr);
  EXPECT_TRUE(file->CloseFile());
  EXPECT_FALSE(file->IsFileOpened());
}

// Windows opens with shared access (_SH_DENYNO): while one DiskFile holds a
// file, another DiskFile and plain fopen can still open it to read and write.
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

  std::FILE* plain = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(plain, nullptr);
  char read[3] = {};
  EXPECT_EQ(std::fread(read, 1, 3, plain), 3u);
  EXPECT_EQ(std::string(read, 3), "xyz");
  std::fseek(plain, 0, SEEK_SET);
  std::fputc('X', plain);
  std::fclose(plain);

  // The holder sees what the others wrote once it moves its position.
  EXPECT_TRUE(holder.Seek(0, SEEK_SET));
  EXPECT_EQ(holder.ReadData(read, 1, 3), 3u);
  EXPECT_EQ(std::string(read, 3), "Xyz");
}

}  // namespace
