// MultiFileWriter: a new archive from every kind of source, and changes to a
// kept archive that are made all or nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "backends/FaultySystem.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;
using RXM::ErrorCode;

// The bytes that inserting the entries one by one gives (see InsertFileTest).
TEST(MultiFileWriterTest, WritesEveryKindOfSourceInChunks) {
  TempDir dir;
  const std::vector<Entry> entries = {
      {"a.txt", "abc"}, {"dir/b", "12345"}, {"big", std::string(100000, 'x') + "end"}, {"Z", "z"}};
  const std::string path = dir.Path("w.kymf");
  MultiFileWriter writer(path.c_str(), false, /*chunkSize=*/7);  // many chunks per entry
  writer.AddFile("a.txt", Written(dir, "a", BytesOf("abc")).c_str());
  writer.AddBytes("dir/b", "12345", 5);
  Pointer<MemoryFile> source(new MemoryFile(BytesOf(entries[2].data)));
  writer.AddFile("big", source, "memory");
  writer.AddFile("Z", Written(dir, "z", BytesOf("z")).c_str());
  ASSERT_TRUE(writer.Commit()) << writer.GetError();
  EXPECT_STREQ(writer.GetError(), "");
  EXPECT_EQ(ReadAll(path), Archive(entries));
  EXPECT_TRUE(Leftovers(dir).empty());
  EXPECT_FALSE(source->open);
}

// Each of the five writes of a commit fails in turn (header, records, the
// added data), and then the copy of the kept data; with all delivered the
// commit gives the new archive.
TEST(MultiFileWriterTest, AFailedWriteLeavesTheArchiveAsItWas) {
  TempDir dir;
  const Bytes before = Archive({{"a", "abc"}});
  const std::string path = Written(dir, "f.kymf", before);
  for (int failAt = 0; failAt <= 6; ++failAt) {
    FaultySystem system;
    system.writesBeforeFailing = failAt == 6 ? 5 : failAt;
    system.shortCopyRange = failAt == 5;
    MultiFileWriter writer(system, path.c_str(), true);
    writer.AddBytes("b", "b", 1);
    EXPECT_EQ(writer.Commit(), failAt == 6) << "write " << failAt << ": " << writer.GetError();
    EXPECT_EQ(ReadAll(path), failAt == 6 ? Archive({{"a", "abc"}, {"b", "b"}}) : before);
    EXPECT_TRUE(Leftovers(dir).empty()) << "write " << failAt;
  }
}

// The bytes of an open stream, from its start.
Bytes StreamBytes(std::FILE* stream) {
  std::rewind(stream);
  Bytes bytes;
  for (int c; (c = std::fgetc(stream)) != EOF;) {
    bytes.push_back(static_cast<std::uint8_t>(c));
  }
  return bytes;
}

// To an open stream (a pipe, standard output) the writer gives the bytes
// Commit gives the file, kept entries included, and changes no file.
TEST(MultiFileWriterTest, CommitToAStreamWritesWhatCommitWouldWrite) {
  TempDir dir;
  const Bytes before = Archive({{"a", "abc"}});
  const std::string path = Written(dir, "f.kymf", before);
  const std::string input = Written(dir, "c", BytesOf("cc"));
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  MultiFileWriter writer(path.c_str(), true);
  writer.AddBytes("b", "b", 1);
  writer.AddFile("dir/c", input.c_str());
  ASSERT_TRUE(writer.CommitTo(out)) << writer.GetError();
  EXPECT_EQ(StreamBytes(out), Archive({{"a", "abc"}, {"b", "b"}, {"dir/c", "cc"}}));
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_TRUE(Leftovers(dir).empty());
  std::fclose(out);
}

// Every write to the stream is checked: the header's, a record's, the
// data's; the commit then fails with the system's reason.
TEST(MultiFileWriterTest, AFailedWriteToTheStreamFailsTheCommit) {
  TempDir dir;
  for (int failAt = 0; failAt < 4; ++failAt) {
    FaultySystem system;
    system.writesBeforeFailing = failAt;
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    MultiFileWriter writer(system, dir.Path("x.kymf").c_str());
    writer.AddBytes("b", "b", 1);
    EXPECT_FALSE(writer.CommitTo(out)) << "write " << failAt;
    EXPECT_EQ(writer.GetStatus().GetCode(), ErrorCode::kWriteFailed) << "write " << failAt;
    std::fclose(out);
  }
  EXPECT_TRUE(Leftovers(dir).empty());
}

TEST(MultiFileWriterTest, RefusesChangesWithoutAnArchiveToKeep) {
  TempDir dir;
  DebuggerCapture debugger;
  MultiFileWriter notKept(dir.Path("new.kymf").c_str());
  EXPECT_FALSE(notKept.RemoveExisting("a"));
  EXPECT_EQ(notKept.GetStatus().GetCode(), ErrorCode::kNotOpen);
  EXPECT_FALSE(notKept.RenameExisting("a", "b"));
  MultiFileWriter missing(dir.Path("missing.kymf").c_str(), true);
  EXPECT_FALSE(missing.Commit());
  EXPECT_NE(std::string(missing.GetError()).find("cannot be read as an archive"),
            std::string::npos);
}

// Changes to a kept archive of a, b, c (not back to back) give the archive
// named, or fail with their code and reason leaving it byte-identical.
using W = MultiFileWriter;

struct ChangeCase {
  const char* label;
  bool (*change)(W&);  // false when an operation itself must fail
  ErrorCode code;
  const char* reason;  // a part of the error; "" on success
  std::vector<Entry> after;
};

// The label: GoogleTest would otherwise print the struct's bytes, padding
// included, which valgrind reports as uninitialised.
void PrintTo(const ChangeCase& c, std::ostream* out) {
  *out << c.label;
}

ChangeCase Changes(const char* label, std::vector<Entry> after, bool (*change)(W&)) {
  return {label, change, ErrorCode::kOk, "", std::move(after)};
}

ChangeCase Refuses(const char* label, ErrorCode code, const char* reason, bool (*change)(W&)) {
  return {label, change, code, reason, {}};
}

const ChangeCase kChangeCases[] = {
    Changes("remove", {{"a", "1"}, {"c", "333"}}, [](W& w) { return w.RemoveExisting("B"); }),
    Refuses("remove a missing entry", ErrorCode::kNoSuchEntry, "no entry z",
            [](W& w) { return !w.RemoveExisting("z"); }),
    Changes("rename", {{"docs/A.txt", "1"}, {"b", "22"}, {"c", "333"}},
            [](W& w) { return w.RenameExisting("a", "docs/A.txt"); }),
    Refuses("rename onto another", ErrorCode::kAlreadyExists, "already taken",
            [](W& w) { return !w.RenameExisting("a", "C"); }),
    Refuses("rename to an unsafe name", ErrorCode::kNameRefused, "\"../x\"",
            [](W& w) { return !w.RenameExisting("a", "../x"); }),
    Changes("replace", {{"a", "1"}, {"c", "333"}, {"B", "new"}},
            [](W& w) {
              w.SetReplaceExisting(true);
              return w.AddBytes("B", "new", 3), true;
            }),
    Refuses("add an existing name", ErrorCode::kAlreadyExists, "already taken",
            [](W& w) { return w.AddBytes("B", "new", 3), true; }),
    Refuses("add a name twice", ErrorCode::kAlreadyExists, "already taken",
            [](W& w) {
              w.AddBytes("x", "x", 1);
              return w.AddBytes("X", "y", 1), true;
            }),
    Refuses("the first name taken, in the order added", ErrorCode::kAlreadyExists,
            "\"X\" is already taken",
            [](W& w) {
              w.AddBytes("y", "1", 1);
              w.AddBytes("x", "2", 1);
              w.AddBytes("X", "3", 1);
              return w.AddBytes("Y", "4", 1), true;
            }),
    Refuses("replace with one name given twice", ErrorCode::kAlreadyExists,
            "\"b\" is already taken",
            [](W& w) {
              w.SetReplaceExisting(true);
              w.AddBytes("B", "new", 3);
              return w.AddBytes("b", "new", 3), true;
            }),
    Refuses("an unsafe name added before a taken one", ErrorCode::kNameRefused, "\"../x\"",
            [](W& w) {
              w.AddBytes("../x", "1", 1);
              return w.AddBytes("C", "2", 1), true;
            }),
    Refuses("a taken name added before an unsafe one", ErrorCode::kAlreadyExists,
            "\"C\" is already taken",
            [](W& w) {
              w.AddBytes("C", "1", 1);
              return w.AddBytes("../x", "2", 1), true;
            }),
    Refuses("add the new name of a renamed entry", ErrorCode::kAlreadyExists,
            "\"D\" is already taken",
            [](W& w) {
              w.AddBytes("D", "1", 1);
              return w.RenameExisting("a", "d");
            }),
    Changes("replace two of three, keeping the order of the rest",
            {{"b", "22"}, {"C", "new"}, {"A", "4"}},
            [](W& w) {
              w.SetReplaceExisting(true);
              w.AddBytes("C", "new", 3);
              return w.AddBytes("A", "4", 1), true;
            }),
    Changes("add an empty entry before another",
            {{"a", "1"}, {"b", "22"}, {"c", "333"}, {"e", ""}, {"f", "4"}},
            [](W& w) {
              w.SetAllowEmpty(true);
              w.AddBytes("e", "", 0);
              return w.AddBytes("f", "4", 1), true;
            }),
    Refuses("add an empty entry", ErrorCode::kEmptyInput, "would be empty",
            [](W& w) { return w.AddBytes("e", "", 0), true; }),
    Refuses("add an unsafe name", ErrorCode::kNameRefused, "/etc/passwd",
            [](W& w) { return w.AddBytes("/etc/passwd", "x", 1), true; }),
    Refuses("add an empty name", ErrorCode::kNameRefused, "empty",
            [](W& w) { return w.AddBytes("", "x", 1), true; }),
    Refuses("add a name too long", ErrorCode::kNameTooLong, "longer than 69",
            [](W& w) { return w.AddBytes(std::string(70, 'n').c_str(), "x", 1), true; }),
    Refuses("add a missing file", ErrorCode::kReadFailed, "cannot open /no/such/file",
            [](W& w) { return w.AddFile("m", "/no/such/file"), true; }),
    Changes("remove, rename and add in one pass", {{"b", "22"}, {"a", "333"}, {"d", "4444"}},
            [](W& w) {
              w.AddBytes("d", "4444", 4);
              return w.RemoveExisting("a") && w.RenameExisting("c", "a");
            }),
};

class WriterChangeTest : public testing::TestWithParam<ChangeCase> {};

TEST_P(WriterChangeTest, ChangesAllOrNothing) {
  const ChangeCase& c = GetParam();
  TempDir dir;
  const Bytes before = Raw({{"a", 251, 251}, {"b", 252, 253}, {"c", 248, 250}}, "333122");
  const std::string path = Written(dir, "kept.kymf", before);
  MultiFileWriter writer(path.c_str(), /*keepExisting=*/true);
  ASSERT_TRUE(c.change(writer));
  if (c.code == ErrorCode::kOk) {
    EXPECT_TRUE(writer.Commit()) << writer.GetError();
    EXPECT_TRUE(writer.GetStatus().IsOk());
    EXPECT_EQ(ReadAll(path), Archive(c.after));
  } else {
    if (writer.GetStatus().IsOk()) {
      EXPECT_FALSE(writer.Commit());
    }
    EXPECT_EQ(writer.GetStatus().GetCode(), c.code) << writer.GetError();
    EXPECT_NE(std::string(writer.GetError()).find(c.reason), std::string::npos)
        << writer.GetError();
    EXPECT_EQ(ReadAll(path), before);
  }
  EXPECT_TRUE(Leftovers(dir).empty());
}

INSTANTIATE_TEST_SUITE_P(Changes, WriterChangeTest, testing::ValuesIn(kChangeCases),
                         CaseName<ChangeCase>);

}  // namespace
