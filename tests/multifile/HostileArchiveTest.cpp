// Hostile archives made byte by byte, each with its one outcome for open,
// lookup, read (element stream and OpenEntry), extract and insert. Every
// entry is also read and sought every way, never outside the file (ASan).
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "files/EntryStream.h"
#include "files/SafeName.h"
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
    RXM::Status why;
    const Pointer<KYFile> stream = archive.OpenEntry(name, why);
    if (RefusalOf(outcome) != Code::kOk) {
      EXPECT_TRUE(stream.IsNull());
      EXPECT_EQ(why.GetCode(), RefusalOf(outcome)) << why.GetText();
    } else {
      ASSERT_FALSE(stream.IsNull());
      EXPECT_EQ(ReadInChunks(*stream), whole);
      EXPECT_EQ(stream->GetPosition(), static_cast<long>(whole.size()));
    }
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
    if (outcome != 'e') {
      readErrors.emplace_back("Error while reading data from multifile.\n");
      EXPECT_EQ(archive.GetStatus().GetCode(),
                outcome == 'r' ? Code::kReadFailed : RefusalOf(outcome));
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
  ASSERT_EQ(inserted, hostile.entries.find_first_not_of("eh") == std::string::npos);
  if (!inserted) {
    EXPECT_EQ(ReadAll(path), hostile.bytes);
  } else {
    EXPECT_EQ(archive.GetDirectory().GetCount(), static_cast<int>(hostile.reads.size()) + 1);
    ASSERT_TRUE(archive.OpenFile("inserted", "rb"));
    EXPECT_EQ(archive.ReadData(buffer, 3, 1), 1u);
  }
}

// Every reader that asks the one rule gives each entry the same answer:
// the archive's own check, its streams, the search path over it (as its
// only source, and in front of a sound archive whose copy it hides) and a
// writer that keeps the archive's entries.
TEST_P(HostileArchiveTest, EveryReaderAsksTheSameRule) {
  const Hostile& hostile = GetParam();
  if (hostile.open != Code::kOk) {
    return;
  }
  TempDir dir;
  DebuggerCapture debugger;
  const std::string path = Written(dir, "hostile.kymf", hostile.bytes);
  {  // closed before the writer replaces the archive, which Windows needs
    MultiFile archive(path.c_str());
    SearchPath searchPath;
    ASSERT_TRUE(searchPath.Mount(Written(dir, "base.kymf", kGood).c_str(), "", true));
    ASSERT_TRUE(searchPath.Mount(path.c_str(), "", false));
    for (int i = 0; i < archive.GetDirectory().GetCount(); ++i) {
      const String name(archive.GetDirectory().GetAt(i)->name);
      const Code expected = RefusalOf(hostile.entries[static_cast<std::size_t>(i)]);
      SCOPED_TRACE(std::string("entry ") + std::to_string(i));
      const RXM::Status checked = archive.CheckEntry(name);
      EXPECT_EQ(checked.GetCode(), expected) << checked.GetText();
      RXM::Status why;
      EXPECT_EQ(archive.OpenEntry(name, why).IsNull(), expected != Code::kOk);
      EXPECT_EQ(why.GetCode(), expected);
      if (RXM::CheckSafeName(name.GetText()) == RXM::NameFault::kNone) {
        EXPECT_EQ(searchPath.Open(name, why).IsNull(), expected != Code::kOk);
        EXPECT_EQ(why.GetCode(), expected);
        EXPECT_EQ(std::string(why.GetText()), checked.GetText());
        EXPECT_EQ(searchPath.Exists(name), expected == Code::kOk);
      }
    }
  }
  const auto refused = hostile.entries.find_first_not_of("er");
  MultiFileWriter writer(String(path.c_str()), true);
  writer.SetAllowEmpty(true);
  writer.AddBytes("added", "new", 3);
  EXPECT_EQ(writer.Commit(), refused == std::string::npos) << writer.GetStatus().GetText();
  if (refused != std::string::npos) {
    EXPECT_EQ(writer.GetStatus().GetCode(), RefusalOf(hostile.entries[refused]));
    EXPECT_EQ(ReadAll(path), hostile.bytes);
  }
}

// The common loop, as each stream's header says it must be written: the
// element stream's also stops at a read of nothing. Bounded, so that a
// stream that never ends fails instead of hanging.
bool LoopEnds(KYFile& file, bool stopOnNothing) {
  char buffer[64];
  for (int turn = 0; turn < 100000; ++turn) {
    if (file.EndOfFile()) {
      return true;
    }
    if (file.ReadData(buffer, 1, sizeof buffer) == 0 && stopOnNothing) {
      return true;
    }
  }
  return false;
}

// Every entry through every kind of stream: the element stream, OpenEntry
// and SearchPath::Open over the mounted archive.
TEST_P(HostileArchiveTest, EveryReadLoopEnds) {
  const Hostile& hostile = GetParam();
  if (hostile.open != Code::kOk) {
    return;
  }
  TempDir dir;
  DebuggerCapture debugger;
  const std::string path = Written(dir, "hostile.kymf", hostile.bytes);
  MultiFile archive;
  ASSERT_TRUE(archive.OpenMultiFile(Pointer<KYFile>(), path.c_str()));
  SearchPath searchPath;
  ASSERT_TRUE(searchPath.Mount(path.c_str(), "", true));
  for (int i = 0; i < archive.GetDirectory().GetCount(); ++i) {
    const String name(archive.GetDirectory().GetAt(i)->name);
    SCOPED_TRACE(name.GetText());
    if (archive.OpenFile(name, "rb")) {
      EXPECT_TRUE(LoopEnds(archive, true));
    }
    for (const Pointer<KYFile>& stream : {archive.OpenEntry(name), searchPath.Open(name)}) {
      if (!stream.IsNull()) {
        EXPECT_TRUE(LoopEnds(*stream, false));
      }
    }
  }
}

// A file that shrinks under a stream that is reading it: the stream ends
// there and says why, whether the file is an archive or a mounted folder's.
TEST(ShrinkingFileTest, AStreamEndsAtAShortReadWithAReason) {
  TempDir dir;
  const std::string data(1000, 'd');
  const std::string archivePath = Written(dir, "a.kymf", Archive({{"big", data}}));
  WriteAll(dir.Path("big"), data);
  MultiFile archive;
  ASSERT_TRUE(archive.OpenMultiFile(Pointer<KYFile>(), archivePath.c_str()));
  SearchPath folder;
  ASSERT_TRUE(folder.Mount(dir.Path("").c_str(), "", true));
  const Pointer<KYFile> streams[] = {archive.OpenEntry("big"), folder.Open("big")};
  std::filesystem::resize_file(archivePath, 88 + 500);
  std::filesystem::resize_file(dir.Path("big"), 500);
  for (const Pointer<KYFile>& stream : streams) {
    ASSERT_FALSE(stream.IsNull());
    EXPECT_TRUE(LoopEnds(*stream, false));
    EXPECT_EQ(stream->GetPosition(), 500);
    EXPECT_EQ(stream->GetFileSize(), 1000u);
    auto* entry = dynamic_cast<RXM::EntryStream*>(stream.Get());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->GetStatus().GetCode(), Code::kTruncated);
    EXPECT_NE(std::string(entry->GetStatus().GetText()).find("big: ends at byte 500 of 1000"),
              std::string::npos)
        << entry->GetStatus().GetText();
  }
  RXM::Status why;
  EXPECT_TRUE(MultiFile(archivePath.c_str()).OpenEntry("big", why).IsNull());
  EXPECT_EQ(why.GetCode(), Code::kTruncated);
}

// The first source that has a name but cannot give it whole answers for it:
// a damaged patch archive does not let an older copy show through.
TEST(ShrinkingFileTest, ATruncatedEntryIsRefusedAndHidesTheSourcesAfterIt) {
  TempDir dir;
  const std::string patch = Written(dir, "patch.kymf", Raw({{"a", kData, kData + 100}}, "xyz"));
  const std::string base = Written(dir, "base.kymf", Archive({{"a", "old"}}));
  SearchPath searchPath;
  ASSERT_TRUE(searchPath.Mount(base.c_str(), "", true));
  ASSERT_TRUE(searchPath.Mount(patch.c_str(), "", false));
  RXM::Status why;
  EXPECT_TRUE(searchPath.Open("a", why).IsNull());
  EXPECT_EQ(why.GetCode(), Code::kTruncated);
  EXPECT_EQ(std::string(why.GetText()), patch + ": a: truncated at byte 91");
  EXPECT_FALSE(searchPath.Exists("a"));
  EXPECT_TRUE(searchPath.Open("b", why).IsNull());
  EXPECT_EQ(why.GetCode(), Code::kNoSuchEntry);
  EXPECT_FALSE(searchPath.Open("A", why).IsNull() && why.IsOk());
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileArchiveTest, testing::ValuesIn(kCorpus), CaseName<Hostile>);

}  // namespace
