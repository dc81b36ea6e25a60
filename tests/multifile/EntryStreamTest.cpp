#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

std::string Pattern(std::size_t size, char seed) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    data[i] = static_cast<char>(seed + i * 7);
  }
  return data;
}

const std::vector<Entry> kEntries = {
    {"ten", "0123456789"},    {"Readme.TXT", "first"},     {"empty", ""},
    {"readme.txt", "second"}, {"big", Pattern(5000, 'b')}, {"odd", Pattern(97, 'o')}};

// The archive opened from disk, or through a caller's file that is not a
// DiskFile (the stream then reads the entry into memory of its own).
enum class Opened { kFromDisk, kThroughCallersFile };

class EntryStreamTest : public testing::TestWithParam<Opened> {
 protected:
  void SetUp() override {
    const Bytes bytes = Archive(kEntries);
    WriteAll(dir.Path("a.kymf"), bytes);
    archive = new MultiFile();
    Pointer<KYFile> file;
    if (GetParam() == Opened::kThroughCallersFile) {
      file = new MemoryFile(bytes);
    }
    ASSERT_TRUE(archive->OpenMultiFile(file, dir.Path("a.kymf").c_str()));
  }
  TempDir dir;
  DebuggerCapture debugger;
  Pointer<MultiFile> archive;
};

// Random reads and seeks, the same on both; every answer and every byte read
// must agree.
TEST_P(EntryStreamTest, AnswersAsTheElementStreamDoesForRandomReadsAndSeeks) {
  std::mt19937 random(7);
  for (const Entry& entry : kEntries) {
    Pointer<KYFile> stream = archive->OpenEntry(entry.name.c_str());
    ASSERT_FALSE(stream.IsNull()) << entry.name;
    ASSERT_TRUE(archive->OpenFile(entry.name.c_str(), "rb"));
    const long size = static_cast<long>(archive->GetFileSize());
    for (int step = 0; step < 400; ++step) {
      SCOPED_TRACE(entry.name + " step " + std::to_string(step));
      if (random() % 2 == 0) {
        const unsigned int itemSize = random() % 13;
        const unsigned int count = random() % 9;
        std::string a(itemSize * count, 'x');
        std::string b(itemSize * count, 'x');
        ASSERT_EQ(stream->ReadData(a.data(), itemSize, count),
                  archive->ReadData(b.data(), itemSize, count));
        ASSERT_EQ(a, b);
      } else {
        const long offset = static_cast<long>(random() % (2 * size + 11)) - size - 5;
        const int origin = static_cast<int>(random() % 4);
        ASSERT_EQ(stream->Seek(offset, origin), archive->Seek(offset, origin));
      }
      ASSERT_EQ(stream->GetPosition(), archive->GetPosition());
      ASSERT_EQ(stream->EndOfFile(), archive->EndOfFile());
      ASSERT_EQ(stream->GetFileSize(), archive->GetFileSize());
    }
  }
}

TEST_P(EntryStreamTest, FindsNamesAsOpenFileDoes) {
  EXPECT_EQ(ReadRest(*archive->OpenEntry("README.txt")), "second");
  EXPECT_EQ(ReadRest(*archive->OpenEntry("TEN")), "0123456789");
  EXPECT_TRUE(archive->OpenEntry("missing").IsNull());
  EXPECT_TRUE(archive->OpenEntry("").IsNull());
  EXPECT_TRUE(archive->OpenEntry(std::string(70, 'a').c_str()).IsNull());
}

TEST_P(EntryStreamTest, StreamsReadSideBySideWithoutDisturbingTheOpenEntry) {
  ASSERT_TRUE(archive->OpenFile("big", "rb"));
  char first[3];
  ASSERT_EQ(archive->ReadData(first, 1, 3), 3u);
  Pointer<KYFile> one = archive->OpenEntry("big");
  Pointer<KYFile> two = archive->OpenEntry("odd");
  std::string a, b;
  char byte;
  while (one->ReadData(&byte, 1, 1) == 1) {
    a += byte;
    if (two->ReadData(&byte, 1, 1) == 1) {
      b += byte;
    }
  }
  EXPECT_EQ(a, kEntries[4].data);
  EXPECT_EQ(b, kEntries[5].data);
  EXPECT_EQ(archive->GetPosition(), 3);
  EXPECT_EQ(ReadRest(*archive), kEntries[4].data.substr(3));
}

TEST_P(EntryStreamTest, AStreamOutlivesItsArchive) {
  Pointer<KYFile> stream = archive->OpenEntry("odd");
  ASSERT_TRUE(archive->CloseMultiFile());
  EXPECT_TRUE(archive->OpenEntry("odd").IsNull());
  archive = nullptr;
  EXPECT_EQ(ReadRest(*stream), kEntries[5].data);
}

TEST_P(EntryStreamTest, RefusesWritingAsTheElementStreamDoes) {
  Pointer<KYFile> stream = archive->OpenEntry("ten");
  ASSERT_TRUE(archive->OpenFile("ten", "rb"));
  char byte = 'x';
  EXPECT_EQ(Thrown([&] { stream->WriteData(&byte, 1, 0); }),
            Thrown([&] { archive->WriteData(&byte, 1, 0); }));
  EXPECT_EQ(Thrown([&] { stream->OpenFile("ten", "wb"); }),
            Thrown([&] { archive->OpenFile("ten", "wb"); }));
  EXPECT_FALSE(stream->IsFileOpened());
  EXPECT_EQ(stream->WriteData(&byte, 1, 1), 0u);
}

TEST_P(EntryStreamTest, OpenFileReopensOnlyItsOwnEntry) {
  Pointer<KYFile> stream = archive->OpenEntry("ten");
  ASSERT_TRUE(stream->Seek(4, 0));
  EXPECT_TRUE(stream->OpenFile("TEN", "rb"));
  EXPECT_EQ(stream->GetPosition(), 0);
  EXPECT_FALSE(stream->OpenFile("odd", "rb"));
  EXPECT_FALSE(stream->IsFileOpened());
  EXPECT_TRUE(stream->EndOfFile());
  EXPECT_EQ(stream->GetFileSize(), 0u);
  EXPECT_FALSE(stream->Seek(0, 0));
  EXPECT_FALSE(stream->CloseFile());
}

INSTANTIATE_TEST_SUITE_P(Archives, EntryStreamTest,
                         testing::Values(Opened::kFromDisk, Opened::kThroughCallersFile),
                         [](const testing::TestParamInfo<Opened>& param) {
                           return param.param == Opened::kFromDisk ? "FromDisk"
                                                                   : "ThroughCallersFile";
                         });

// An entry whose offsets the file does not back reads short, as the element
// stream does, and never past the file.
TEST(EntryStreamDamageTest, AnEntryPastTheFileEndReadsShort) {
  TempDir dir;
  Bytes bytes = Header(1);
  Append(bytes, Record("far", 88, 88 + 999));
  Append(bytes, BytesOf("abc"));
  WriteAll(dir.Path("d"), bytes);
  MultiFile archive(dir.Path("d").c_str());
  Pointer<KYFile> stream = archive.OpenEntry("far");
  ASSERT_FALSE(stream.IsNull());
  std::string data(1000, '\0');
  EXPECT_EQ(stream->ReadData(data.data(), 1, 1000), 3u);
  EXPECT_EQ(stream->GetPosition(), 3);
}

}  // namespace
