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
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

using Code = RXM::ErrorCode;

// Per entry: 'x' not found by its name (its file refuses the seek, and
// OpenEntry refuses it as truncated), 't' found but not extracted, and
// refused by OpenEntry (its bytes run past the file's end), 'r' found but not
// extracted (it cannot be read whole), 'e' found and extracted. An insertion
// copies every entry whole, so it succeeds exactly when all are 'e'.
struct Hostile {
  std::string label;
  Bytes bytes;
  Code open;
  std::vector<std::string> reads;  // what each entry gives read whole
  std::string entries;
};

void PrintTo(const Hostile& hostile, std::ostream* out) {
  *out << hostile.label;
}

const Bytes kGood = Archive({{"a", "abc"}, {"b", "12345"}});  // data at 168..175
constexpr std::int32_t kData = 8 + 80;  // data of a one-record archive; of two, at 168

Hostile Refused(const std::string& label, const Bytes& bytes, Code code) {
  return {label, bytes, code, {}, ""};
}

Hostile Opened(const std::string& label, const Bytes& bytes, std::vector<std::string> reads,
               const std::string& entries) {
  return {label, bytes, Code::kOk, std::move(reads), entries};
}

const Hostile kCorpus[] = {
    Refused("empty file", {}, Code::kNotAnArchive),
    Refused("one byte", {'K'}, Code::kNotAnArchive),
    Refused("magic alone", BytesOf("KYMF"), Code::kNotAnArchive),
    Refused("magic and half a count", {'K', 'Y', 'M', 'F', 1, 0}, Code::kNotAnArchive),
    Refused("wrong magic", With(kGood, 0, BytesOf("KYMG")), Code::kNotAnArchive),
    Refused("magic in other case", With(kGood, 0, BytesOf("kymf")), Code::kNotAnArchive),
    Refused("magic backwards", With(kGood, 0, BytesOf("FMYK")), Code::kNotAnArchive),
    Refused("count -1", With(kGood, 4, Int32(-1)), Code::kCountBeyondFile),
    Refused("count INT32_MIN", With(kGood, 4, Int32(INT32_MIN)), Code::kCountBeyondFile),
    Refused("count INT32_MAX", With(kGood, 4, Int32(INT32_MAX)), Code::kCountBeyondFile),
    Refused("count 2^24 in a small file", With(kGood, 4, Int32(1 << 24)), Code::kCountBeyondFile),
    Refused("count one past the records", With(kGood, 4, Int32(3)), Code::kCountBeyondFile),
    Refused("directory cut inside a record", Bytes(kGood.begin(), kGood.begin() + 8 + 80 + 79),
            Code::kCountBeyondFile),
    Refused("directory cut at a record's start", Bytes(kGood.begin(), kGood.begin() + 8 + 80),
            Code::kCountBeyondFile),
    Refused("first name without a NUL", With(kGood, 8, Bytes(70, 'x')), Code::kUnterminatedName),
    Refused("second name without a NUL", With(kGood, 88, Bytes(70, 0xFF)), Code::kUnterminatedName),
    Opened("no entries, trailing bytes", With(Header(0), 8, BytesOf("garbage")), {}, ""),
    Opened("well formed with trailing bytes", With(kGood, kGood.size(), BytesOf("tail")),
           {"abc", "12345"}, "ee"),
    Opened("offsets past the end", Raw({{"p", 1000, 1009}}, "xyz"), {""}, "t"),
    Opened("end past the end", Raw({{"p", kData, kData + 100}}, "xyz"), {"xyz"}, "t"),
    Opened("start before the file", Raw({{"n", -10, 5}}, "xyz"), {""}, "x"),
    Opened("start INT32_MIN", Raw({{"n", INT32_MIN, INT32_MIN + 3}}, "xyz"), {""}, "x"),
    Opened("negative size", Raw({{"n", kData + 2, kData}}, "xyz"), {""}, "r"),
    Opened("hugely negative size", Raw({{"n", INT32_MAX, INT32_MIN}}, "xyz"), {""}, "t"),
    Opened("size near 2 GB", Raw({{"h", kData, INT32_MAX}}, "xyz"), {"xyz"}, "t"),
    Opened("empty entry", Raw({{"e", kData, kData - 1}}, "xyz"), {""}, "r"),
    Opened("data inside the header", Raw({{"h", 0, 3}}, ""), {"KYMF"}, "e"),
    Opened("data inside the directory", Raw({{"d", 8, 12}}, ""), {std::string("d\0\0\0\0", 5)},
           "e"),
    Opened("overlapping entries", Raw({{"x", 168, 171}, {"y", 169, 172}}, "01234"),
           {"0123", "1234"}, "ee"),
    Opened("equal names, later wins", Raw({{"same", 168, 168}, {"SAME", 169, 169}}, "12"),
           {"2", "2"}, "ee"),
    Opened("entries out of order", Raw({{"b", 170, 171}, {"a", 168, 169}}, "aabb"), {"bb", "aa"},
           "ee"),
    Opened("name of 69 characters", Raw({{std::string(69, 'n'), kData, kData}}, "z"), {"z"}, "e"),
    Opened("empty name", Raw({{"", kData, kData}}, "z"), {"z"}, "e"),
    Opened("name with bytes above 127", Raw({{"\xC3\xA9\xFF", kData, kData}}, "z"), {"z"}, "e"),
};

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
    if (outcome == 'x' || outcome == 't') {
      EXPECT_TRUE(stream.IsNull());
      EXPECT_EQ(why.GetCode(), Code::kTruncated);
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
    if (outcome == 'r' || outcome == 't') {
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
