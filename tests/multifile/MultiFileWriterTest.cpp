#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

class MultiFileWriterTest : public testing::Test {
 protected:
  std::string Input(const std::string& name, const std::string& data) {
    WriteAll(dir.Path(name), data);
    return dir.Path(name);
  }
  // What inserting the entries one by one into an empty archive gives.
  Bytes InsertedOneByOne(const std::vector<Entry>& entries) {
    const std::string path = dir.Path("reference.kymf");
    MultiFile::CreateEmptyMultiFile(path.c_str());
    MultiFile archive(path.c_str());
    for (const Entry& entry : entries) {
      EXPECT_TRUE(archive.InsertFile(Pointer<KYFile>(), Input("in", entry.data).c_str(),
                                     entry.name.c_str()));
    }
    return ReadAll(path);
  }
  TempDir dir;
};

TEST_F(MultiFileWriterTest, WritesTheBytesThatInsertingOneByOneGives) {
  const std::vector<Entry> entries = {
      {"a.txt", "abc"}, {"dir/b", "12345"}, {"big", std::string(100000, 'x') + "end"}, {"Z", "z"}};
  const std::string path = dir.Path("w.kymf");
  MultiFileWriter writer(path.c_str(), false, /*chunkSize=*/7);  // many chunks per entry
  writer.AddFile("a.txt", Input("a", "abc").c_str());
  writer.AddBytes("dir/b", "12345", 5);
  Pointer<MemoryFile> source(new MemoryFile(BytesOf(entries[2].data)));
  writer.AddFile("big", source, "memory");
  writer.AddFile("Z", Input("z", "z").c_str());
  ASSERT_TRUE(writer.Commit()) << writer.GetError();
  EXPECT_STREQ(writer.GetError(), "");
  EXPECT_EQ(ReadAll(path), InsertedOneByOne(entries));
  EXPECT_FALSE(Exists(path + ".tmp"));
  EXPECT_FALSE(source->open);
}

TEST_F(MultiFileWriterTest, KeepsTheExistingEntriesFirst) {
  const std::string path = dir.Path("k.kymf");
  WriteAll(path, Archive({{"old", "0123"}, {"older", "45"}}));
  MultiFileWriter writer(path.c_str(), /*keepExisting=*/true, 3);
  writer.AddBytes("new", "6789", 4);
  ASSERT_TRUE(writer.Commit()) << writer.GetError();
  EXPECT_EQ(ReadAll(path), Archive({{"old", "0123"}, {"older", "45"}, {"new", "6789"}}));

  // An archive that was not written back to back still gets offsets that
  // match its data, as InsertFile gives it.
  Bytes foreign = Header(2);
  Append(foreign, Record("b", 8 + 160 + 2, 8 + 160 + 3));
  Append(foreign, Record("a", 8 + 160, 8 + 160 + 1));
  Append(foreign, BytesOf("aabb"));
  WriteAll(path, foreign);
  MultiFileWriter again(path.c_str(), true);
  again.AddBytes("c", "c", 1);
  ASSERT_TRUE(again.Commit()) << again.GetError();
  EXPECT_EQ(ReadAll(path), Archive({{"b", "bb"}, {"a", "aa"}, {"c", "c"}}));
}

TEST_F(MultiFileWriterTest, RefusesBeforeWritingAnything) {
  const std::string path = dir.Path("r.kymf");
  const Bytes before = Archive({{"Taken", "x"}});
  struct Case {
    const char* label;
    void (*add)(MultiFileWriter&);
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"name too long",
       [](MultiFileWriter& w) { w.AddBytes(std::string(70, 'n').c_str(), "x", 1); },
       "longer than 69"},
      {"empty name", [](MultiFileWriter& w) { w.AddBytes("", "x", 1); }, "empty"},
      {"equal names",
       [](MultiFileWriter& w) {
         w.AddBytes("a", "x", 1);
         w.AddBytes("A", "y", 1);
       },
       "already taken"},
      {"empty entry", [](MultiFileWriter& w) { w.AddBytes("e", "", 0); }, "would be empty"},
      {"missing input", [](MultiFileWriter& w) { w.AddFile("m", "/no/such/file"); }, "cannot open"},
  };
  for (const Case& c : cases) {
    WriteAll(path, before);
    MultiFileWriter writer(path.c_str(), true);
    writer.AddBytes("fine", "f", 1);
    c.add(writer);
    EXPECT_FALSE(writer.Commit()) << c.label;
    EXPECT_NE(std::string(writer.GetError()).find(c.reason), std::string::npos)
        << c.label << ": " << writer.GetError();
    EXPECT_EQ(ReadAll(path), before) << c.label;
    EXPECT_FALSE(Exists(path + ".tmp")) << c.label;
  }
  DebuggerCapture debugger;
  MultiFileWriter notAnArchive(dir.Path("missing.kymf").c_str(), true);
  EXPECT_FALSE(notAnArchive.Commit());
  EXPECT_NE(std::string(notAnArchive.GetError()).find("cannot be read as an archive"),
            std::string::npos);
}

// Each of the six writes of a commit fails in turn (header, records, the kept
// and the added data); with all six delivered the commit gives the new archive.
TEST_F(MultiFileWriterTest, AFailedWriteLeavesTheArchiveAsItWas) {
  const std::string path = dir.Path("f.kymf");
  const Bytes before = Archive({{"a", "abc"}});
  WriteAll(path, before);
  for (int failAt = 0; failAt <= 6; ++failAt) {
    SystemCallsOverride calls;
    calls->write = FailingWrite;
    gWritesBeforeFailing = failAt;
    MultiFileWriter writer(path.c_str(), true);
    writer.AddBytes("b", "b", 1);
    EXPECT_EQ(writer.Commit(), failAt == 6) << "write " << failAt << ": " << writer.GetError();
    EXPECT_EQ(ReadAll(path), failAt == 6 ? Archive({{"a", "abc"}, {"b", "b"}}) : before);
    EXPECT_FALSE(Exists(path + ".tmp")) << "write " << failAt;
  }
}

}  // namespace

namespace {

using namespace testing_support;

// The writer's changes to a kept archive: each case does its operations on
// an archive of a, b, c and commits; it gives the archive it names, or fails
// with its code leaving the archive byte-identical and no temporary file.
struct ChangeCase {
  const char* label;
  bool (*change)(MultiFileWriter&);  // false when an operation itself must fail
  RXM::ErrorCode code;
  std::vector<Entry> after;
};

// The label; without it GoogleTest would print the case's bytes, padding
// included.
void PrintTo(const ChangeCase& c, std::ostream* out) {
  *out << c.label;
}

ChangeCase Change(const char* label, bool (*change)(MultiFileWriter&), RXM::ErrorCode code,
                  std::vector<Entry> after = {}) {
  return {label, change, code, std::move(after)};
}

const RXM::ErrorCode kOk = RXM::ErrorCode::kOk;

const ChangeCase kChangeCases[] = {
    Change("remove", [](MultiFileWriter& w) { return w.RemoveExisting("B"); }, kOk,
           {{"a", "1"}, {"c", "333"}}),
    Change(
        "remove a missing entry", [](MultiFileWriter& w) { return !w.RemoveExisting("z"); },
        RXM::ErrorCode::kNoSuchEntry),
    Change("rename", [](MultiFileWriter& w) { return w.RenameExisting("a", "docs/A.txt"); }, kOk,
           {{"docs/A.txt", "1"}, {"b", "22"}, {"c", "333"}}),
    Change(
        "rename onto another", [](MultiFileWriter& w) { return !w.RenameExisting("a", "C"); },
        RXM::ErrorCode::kAlreadyExists),
    Change(
        "rename to an unsafe name",
        [](MultiFileWriter& w) { return !w.RenameExisting("a", "../x"); },
        RXM::ErrorCode::kNameRefused),
    Change("replace",
           [](MultiFileWriter& w) {
             w.SetReplaceExisting(true);
             return w.AddBytes("B", "new", 3), true;
           },
           kOk, {{"a", "1"}, {"c", "333"}, {"B", "new"}}),
    Change(
        "add an existing name", [](MultiFileWriter& w) { return w.AddBytes("B", "new", 3), true; },
        RXM::ErrorCode::kAlreadyExists),
    Change("add an empty entry",
           [](MultiFileWriter& w) {
             w.SetAllowEmpty(true);
             return w.AddBytes("e", "", 0), true;
           },
           kOk, {{"a", "1"}, {"b", "22"}, {"c", "333"}, {"e", ""}}),
    Change(
        "add an unsafe name",
        [](MultiFileWriter& w) { return w.AddBytes("/etc/passwd", "x", 1), true; },
        RXM::ErrorCode::kNameRefused),
    Change("remove, rename and add in one pass",
           [](MultiFileWriter& w) {
             w.AddBytes("d", "4444", 4);
             return w.RemoveExisting("a") && w.RenameExisting("c", "a");
           },
           kOk, {{"b", "22"}, {"a", "333"}, {"d", "4444"}}),
};

class WriterChangeTest : public testing::TestWithParam<ChangeCase> {};

TEST_P(WriterChangeTest, ChangesAllOrNothing) {
  const ChangeCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.Path("kept.kymf");
  const Bytes before = Archive({{"a", "1"}, {"b", "22"}, {"c", "333"}});
  WriteAll(path, before);
  MultiFileWriter writer(path.c_str(), /*keepExisting=*/true);
  const bool changed = c.change(writer);
  ASSERT_TRUE(changed);
  const bool committed = c.code == RXM::ErrorCode::kOk ? writer.Commit() : false;
  EXPECT_EQ(committed, c.code == RXM::ErrorCode::kOk) << writer.GetError();
  if (c.code == RXM::ErrorCode::kOk) {
    EXPECT_TRUE(writer.GetStatus().IsOk());
    EXPECT_EQ(ReadAll(path), Archive(c.after));
  } else {
    if (writer.GetStatus().IsOk()) {
      EXPECT_FALSE(writer.Commit());
    }
    EXPECT_EQ(writer.GetStatus().GetCode(), c.code) << writer.GetError();
    EXPECT_EQ(ReadAll(path), before);
  }
  EXPECT_FALSE(Exists(path + ".tmp"));
}

INSTANTIATE_TEST_SUITE_P(Changes, WriterChangeTest, testing::ValuesIn(kChangeCases),
                         CaseName<ChangeCase>);

TEST(WriterChangeTest, AnEmptyEntryReadsAsEmptyAndKeepsTheNextEntrysStart) {
  TempDir dir;
  const std::string path = dir.Path("empty.kymf");
  MultiFileWriter writer(path.c_str());
  writer.SetAllowEmpty(true);
  writer.AddBytes("e", "", 0);
  writer.AddBytes("f", "x", 1);
  ASSERT_TRUE(writer.Commit()) << writer.GetError();
  MultiFile archive(path.c_str());
  ASSERT_EQ(archive.GetDirectory().GetCount(), 2);
  EXPECT_EQ(archive.GetDirectory().GetAt(0)->dataEnd,
            archive.GetDirectory().GetAt(0)->dataStart - 1);
  EXPECT_EQ(archive.GetDirectory().GetAt(1)->dataStart, archive.GetDirectory().GetAt(0)->dataStart);
  ASSERT_TRUE(archive.OpenFile("e", "rb"));
  EXPECT_EQ(archive.GetFileSize(), 0u);
  EXPECT_TRUE(archive.CheckArchive().empty());
}

TEST(WriterChangeTest, ChangingAnArchiveThatIsNotKeptIsRefused) {
  TempDir dir;
  MultiFileWriter writer(dir.Path("new.kymf").c_str());
  EXPECT_FALSE(writer.RemoveExisting("a"));
  EXPECT_EQ(writer.GetStatus().GetCode(), RXM::ErrorCode::kNotOpen);
  EXPECT_FALSE(writer.RenameExisting("a", "b"));
}

}  // namespace
