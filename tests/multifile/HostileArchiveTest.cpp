// Hostile archives made byte by byte, each with its one outcome for open,
// lookup, read (element stream and OpenEntry), extract and insert. Every
// entry is also read and sought every way, never outside the file (ASan).
#include <gtest/gtest.h>

#include <climits>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "multifile/HostileCorpus.h"

namespace {

using namespace testing_support;

// Reads in small pieces: an entry may claim nearly 2 GB.
std::string ReadInChunks(KYFile& file) {
  std::string read;
  char buffer[64];
  unsigned int got = 0;
  while ((got = file.ReadData(buffer, 1, sizeof buffer)) > 0) {
    read.append(buffer, got);
  }
  return read;
}

class HostileArchiveTest : public testing::TestWithParam<Hostile> {};

TEST_P(HostileArchiveTest, GivesItsOneOutcome) {
  const Hostile& hostile = GetParam();
  TempDir dir;
  DebuggerCapture debugger;
  const std::string path = Written(dir, "hostile.kymf", hostile.bytes);
  MultiFile archive;
  ASSERT_EQ(archive.OpenMultiFile(Pointer<KYFile>(), path.c_str()), hostile.open == Code::kOk);
  EXPECT_EQ(archive.GetStatus().GetCode(), hostile.open) << archive.GetStatus().GetText();
  if (hostile.open != Code::kOk) {
    EXPECT_EQ(std::string(archive.GetStatus().GetText()).rfind(path + ": ", 0), 0u);
    return;
  }
  const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
  ASSERT_EQ(directory.GetCount(), static_cast<int>(hostile.reads.size()));
  char buffer[64];
  std::vector<std::string> readErrors;
  for (int i = 0; i < directory.GetCount(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    const char outcome = hostile.entries[static_cast<std::size_t>(i)];
    const std::string& whole = hostile.reads[static_cast<std::size_t>(i)];
    const String name(directory.GetAt(i)->name);
    const Pointer<KYFile> stream = archive.OpenEntry(name);
    ASSERT_FALSE(stream.IsNull());
    EXPECT_EQ(ReadInChunks(*stream), whole);
    EXPECT_EQ(stream->GetPosition(), static_cast<long>(whole.size()));
    ASSERT_EQ(archive.OpenFile(name, "rb"), outcome != 'x');
    if (outcome == 'x') {
      continue;
    }
    EXPECT_EQ(ReadInChunks(archive), whole);
    for (long offset : {-1L, 3L, static_cast<long>(INT32_MAX), static_cast<long>(INT32_MIN)}) {
      for (int origin = 0; origin < 3; ++origin) {
        archive.Seek(offset, origin);
        EXPECT_LE(static_cast<unsigned long>(archive.GetPosition()), archive.GetFileSize());
        archive.ReadData(buffer, 7, 2);
      }
    }
    // An entry that cannot be read whole is reported and writes nothing.
    const std::string out = dir.Path("out" + std::to_string(i));
    EXPECT_EQ(archive.ExtractToFile(out.c_str()), outcome == 'e');
    EXPECT_EQ(Exists(out), outcome == 'e');
    if (outcome == 'r') {
      readErrors.emplace_back("Error while reading data from multifile.\n");
    }
  }
  EXPECT_EQ(debugger->errors, readErrors);
  const std::string input = Written(dir, "input", BytesOf("new"));
  bool inserted = false;
  try {
    inserted = archive.InsertFile(Pointer<KYFile>(), input.c_str(), "inserted");
  } catch (Exception* e) {
    delete e;
  }
  ASSERT_EQ(inserted, hostile.entries.find_first_not_of('e') == std::string::npos);
  if (!inserted) {
    EXPECT_EQ(ReadAll(path), hostile.bytes);
  } else {
    EXPECT_EQ(archive.GetDirectory().GetCount(), static_cast<int>(hostile.reads.size()) + 1);
    ASSERT_TRUE(archive.OpenFile("inserted", "rb"));
    EXPECT_EQ(archive.ReadData(buffer, 3, 1), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileArchiveTest, testing::ValuesIn(kCorpus), CaseName<Hostile>);

}  // namespace
