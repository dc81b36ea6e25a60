// The two fronts over an archive's entries: the element stream (MultiFile's
// own KYFile over its open entry) and the streams of OpenEntry, which must
// find, refuse and read alike.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "files/EntryStream.h"
#include "files/StreamModel.h"
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
    {"ten", "0123456789"},    {"Readme.TXT", "first"}, {"empty", ""},
    {"readme.txt", "second"}, {"caf\xC3\xA9", "e"},    {"big", Pattern(5000, 'b')},
    {"odd", Pattern(97, 'o')}};

// The archive opened from disk, or (true) through a caller's file that is not
// a DiskFile (the stream then reads the entry into memory of its own).
class EntryStreamTest : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    WriteAll(path, Archive(kEntries));
    ASSERT_TRUE(archive->OpenMultiFile(GetParam() ? new MemoryFile(Archive(kEntries)) : nullptr,
                                       path.c_str()));
  }
  TempDir dir;
  const std::string path = dir.Path("a.kymf");
  DebuggerCapture debugger;
  Pointer<MultiFile> archive = new MultiFile();
};

// Every entry through both fronts over the archive's bytes: the element stream
// keeps the archive's file in step with its moves, the stream of OpenEntry
// reads its own window; both must deliver the entry's bytes, found by name.
TEST_P(EntryStreamTest, BothFrontsReadEachEntryAsAModelOfItsBytesSays) {
  for (const Entry& entry : kEntries) {
    SCOPED_TRACE(entry.name);
    ASSERT_TRUE(archive->OpenFile(entry.name.c_str(), "rb"));
    Pointer<KYFile> stream = archive->OpenEntry(entry.name.c_str());
    ASSERT_FALSE(stream.IsNull());
    const std::string data = entry.name == "Readme.TXT" ? "second" : entry.data;
    CheckAgainstModel(*stream, data, 400, 7);
    CheckAgainstModel(*archive, data, 400, 7);
  }
}

TEST_P(EntryStreamTest, NamesFoldOnlyAsciiLettersAndTheLastEqualNameWins) {
  const std::vector<std::pair<std::string, const char*>> names = {
      {"README.txt", "second"},       {"TEN", "0123456789"}, {"CAF\xC3\xA9", "e"},
      {"CAF\xC3\x89", nullptr},       {"ten ", nullptr},     {"te", nullptr},
      {"readme_txt", nullptr},        {"", nullptr},         {"./ten", nullptr},
      {std::string(70, 'n'), nullptr}};
  for (const auto& [name, data] : names) {
    const Pointer<KYFile> stream = archive->OpenEntry(name.c_str());
    ASSERT_EQ(archive->OpenFile(name.c_str(), "rb"), data != nullptr) << name;
    ASSERT_EQ(stream.IsNull(), data == nullptr) << name;
    if (data != nullptr) {
      EXPECT_EQ(ReadRest(*archive), data) << name;
      EXPECT_EQ(ReadRest(*stream), data) << name;
    }
  }
}

TEST_P(EntryStreamTest, WritingIsRefusedExactlyAndMovesNothing) {
  const auto refusal = [&](const std::string& what) {
    return "ERROR:\n\n" + what +
           " This is not allowed by the RXM framework.\n\nMulti-File filename: " + path;
  };
  const std::string opened = refusal("A file element from a multi-file was opened for writing!");
  const std::string written = refusal("Attempted to write into a file element from a multi-file!");
  Pointer<KYFile> stream = archive->OpenEntry("ten");
  for (KYFile* file : {static_cast<KYFile*>(archive.Get()), stream.Get()}) {
    for (const char* mode : {"w", "a", "at", "ab", "wt", "r+t", "wb", "r+b"}) {
      ASSERT_TRUE(file->OpenFile("ten", "rb"));
      EXPECT_EQ(Thrown([&] { file->OpenFile("ten", mode); }), opened) << mode;
      EXPECT_FALSE(file->IsFileOpened()) << mode;
    }
    for (const char* mode : {"rb", "r", "WB", "wb+", "w+", "", "r+", "rt"}) {
      EXPECT_TRUE(file->OpenFile("ten", mode)) << mode;
    }
    char data[2];
    ASSERT_EQ(file->ReadData(data, 1, 2), 2u);
    EXPECT_EQ(Thrown([&] { file->WriteData("x", 0, 0); }), written);
    EXPECT_EQ(file->ReadData(data, 1, 2), 2u);
    EXPECT_EQ(std::string(data, 2), "23");
  }
  MultiFile closed;
  EXPECT_FALSE(closed.OpenFile("ten", "wb"));
}

// A stream reopens only its own entry, from the start; a failed open closes
// the entry, and closing keeps the last position.
TEST_P(EntryStreamTest, AFailedOpenLeavesNothingOpen) {
  Pointer<KYFile> stream = archive->OpenEntry("ten");
  ASSERT_TRUE(stream->Seek(4, 0));
  ASSERT_TRUE(stream->OpenFile("TEN", "rb"));
  EXPECT_EQ(stream->GetPosition(), 0);
  ASSERT_TRUE(archive->OpenFile("ten", "rb"));
  ASSERT_TRUE(archive->Seek(-4, 2));
  EXPECT_EQ(ReadRest(*archive), "6789");
  EXPECT_TRUE(archive->CloseFile());
  EXPECT_EQ(archive->GetPosition(), 10);
  ASSERT_TRUE(archive->OpenFile("ten", "rb"));
  EXPECT_FALSE(archive->OpenFile("nothing", "rb"));
  EXPECT_FALSE(stream->OpenFile("odd", "rb"));
  for (KYFile* file : {static_cast<KYFile*>(archive.Get()), stream.Get()}) {
    char data[1];
    EXPECT_FALSE(file->IsFileOpened());
    EXPECT_EQ(file->ReadData(data, 1, 1), 0u);
    EXPECT_EQ(file->WriteData(data, 1, 1), 0u);
    EXPECT_EQ(file->GetFileSize(), 0u);
    EXPECT_TRUE(file->EndOfFile());
    EXPECT_FALSE(file->Seek(0, 0));
    EXPECT_FALSE(file->CloseFile());
  }
}

// The positional read that kymf mount serves many threads with: the bytes at
// any offset, cut at the entry's end, the stream's own position untouched;
// and no answer from a file that is not an entry stream (the element
// stream), which its reader must then read by seeking.
TEST_P(EntryStreamTest, APositionalReadGivesTheBytesAtItsOffsetAndMovesNothing) {
  const std::string data = Pattern(5000, 'b');
  Pointer<KYFile> stream = archive->OpenEntry("big");
  ASSERT_FALSE(stream.IsNull());
  ASSERT_TRUE(stream->Seek(10, 0));
  for (const std::uint32_t offset : {0u, 1u, 4095u, 4999u, 5000u, 70000u}) {
    SCOPED_TRACE(offset);
    std::string buffer(300, '\0');
    std::uint32_t got = 12345;
    ASSERT_TRUE(RXM::ReadEntryAt(*stream, &buffer[0], 300, offset, &got));
    const std::string expected = offset < data.size() ? data.substr(offset, 300) : std::string();
    EXPECT_EQ(buffer.substr(0, got), expected);
  }
  EXPECT_EQ(stream->GetPosition(), 10);
  ASSERT_TRUE(archive->OpenFile("big", "rb"));
  std::uint32_t got = 12345;
  char byte = 0;
  EXPECT_FALSE(RXM::ReadEntryAt(*archive, &byte, 1, 0, &got));
  EXPECT_EQ(got, 12345u);
}

INSTANTIATE_TEST_SUITE_P(Archives, EntryStreamTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& param) {
                           return param.param ? "ThroughCallersFile" : "FromDisk";
                         });

}  // namespace
