#include <gtest/gtest.h>

#include <string>

#include "RXMFiles.h"
#include "TestSupport.h"

namespace {

using testing_support::Bytes;
using testing_support::MemoryFile;
using testing_support::TempDir;

Bytes Written(const std::vector<std::string>& texts) {
  TempDir dir;
  Pointer<KYFile> file(new DiskFile());
  EXPECT_TRUE(file->OpenFile(dir.Path("s").c_str(), "wb"));
  for (const std::string& text : texts) {
    WriteString(file, text.c_str());
  }
  file->CloseFile();
  return testing_support::ReadAll(dir.Path("s"));
}

std::vector<std::string> ReadBack(const Bytes& bytes, int records) {
  Pointer<MemoryFile> file(new MemoryFile(bytes));
  file->OpenFile("m", "rb");
  std::vector<std::string> texts;
  for (int i = 0; i < records; ++i) {
    String text("stale");
    ReadString(file, text);
    texts.emplace_back(text.GetText());
  }
  return texts;
}

TEST(StringSerializationTest, RecordsAreALittleEndianLengthThenTheCharactersAndOddOnesReadDefined) {
  EXPECT_EQ(Written({""}), (Bytes{0, 0}));
  EXPECT_EQ(Written({"abc"}), (Bytes{3, 0, 'a', 'b', 'c'}));
  EXPECT_EQ(Written({"ab", "", "c"}), (Bytes{2, 0, 'a', 'b', 0, 0, 1, 0, 'c'}));
  EXPECT_EQ(ReadBack({2, 0, 'a', 'b', 0, 0, 1, 0, 'c'}, 3),
            (std::vector<std::string>{"ab", "", "c"}));
  // A NUL ends the text, but the whole record is consumed.
  EXPECT_EQ(ReadBack({3, 0, 'a', 0, 'b', 1, 0, 'z'}, 2), (std::vector<std::string>{"a", "z"}));
  // A negative length consumes only the length.
  EXPECT_EQ(ReadBack({0xFF, 0xFF, 1, 0, 'q'}, 2), (std::vector<std::string>{"", "q"}));
  // A file that ends inside the characters gives what it delivered.
  EXPECT_EQ(ReadBack({5, 0, 'a', 'b'}, 1)[0], "ab");
  // One that ends inside the length gives the empty text.
  EXPECT_EQ(ReadBack({7}, 1)[0], "");
  EXPECT_EQ(ReadBack({}, 1)[0], "");
}

TEST(StringSerializationTest, LongestRecordRoundTripsAndLongerTextsAreCutToIt) {
  const std::string longest(32767, 'x');
  Bytes bytes = Written({longest});
  ASSERT_EQ(bytes.size(), 32769u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0x7F);
  EXPECT_EQ(ReadBack(bytes, 1)[0], longest);

  // 32768 characters do not fit the length field: the record keeps 32767 and
  // stays readable, followed by the next record.
  bytes = Written({std::string(32768, 'y'), "next"});
  ASSERT_EQ(bytes.size(), 32769u + 6u);
  EXPECT_EQ(ReadBack(bytes, 2), (std::vector<std::string>{std::string(32767, 'y'), "next"}));
}

TEST(StringSerializationTest, TheFileIsReleasedWhenTheCallReturns) {
  TempDir dir;
  DiskFile* raw = new DiskFile();
  ASSERT_TRUE(raw->OpenFile(dir.Path("s").c_str(), "wb"));
  WriteString(raw, "only");  // the argument is the only reference: closed and deleted
  EXPECT_EQ(testing_support::ReadAll(dir.Path("s")), (Bytes{4, 0, 'o', 'n', 'l', 'y'}));
}

}  // namespace
