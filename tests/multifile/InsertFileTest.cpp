// InsertFile: the worked examples byte for byte, callers' files, and every
// refusal and failure leaving the old archive in place; ExtractToFile.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "backends/FaultySystem.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;
using RXM::ErrorCode;

class InsertFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MultiFile::CreateEmptyMultiFile(archivePath.c_str()));
    ASSERT_TRUE(archive->OpenMultiFile(Pointer<KYFile>(), archivePath.c_str()));
  }
  bool Insert(const std::string& name, const std::string& data) {
    return archive->InsertFile(Pointer<KYFile>(), Written(dir, name, BytesOf(data)).c_str(),
                               name.c_str());
  }
  void Reopen(const Bytes& bytes) {
    WriteAll(archivePath, bytes);
    ASSERT_TRUE(archive->OpenMultiFile(Pointer<KYFile>(), archivePath.c_str()));
  }

  TempDir dir;
  const std::string archivePath = dir.Path("data.arc");
  const std::string temporary = archivePath + ".tmp";
  FaultySystem system;  // every call of the archive goes through it
  Pointer<MultiFile> archive = new MultiFile(system);
  DebuggerCapture debugger;
};

TEST_F(InsertFileTest, WorkedExamplesComeOutByteForByte) {
  ASSERT_TRUE(Insert("a.txt", "abc"));
  ASSERT_EQ(ReadAll(archivePath), Raw({{"a.txt", 88, 90}}, "abc"));
  ASSERT_TRUE(Insert("b", "12345"));
  ASSERT_EQ(ReadAll(archivePath), Raw({{"a.txt", 168, 170}, {"b", 171, 175}}, "abc12345"));
  ASSERT_TRUE(Insert("c", "0123456789"));
  ASSERT_EQ(ReadAll(archivePath),
            Raw({{"a.txt", 248, 250}, {"b", 251, 255}, {"c", 256, 265}}, "abc123450123456789"));
  EXPECT_FALSE(archive->IsFileOpened());
  ASSERT_TRUE(archive->OpenFile("C", "rb"));
  EXPECT_EQ(archive->GetFileSize(), 10u);
}

// An empty entry name is the whole input name; 69 characters are allowed.
TEST_F(InsertFileTest, AnEmptyEntryNameIsTheInputNameAnd69CharactersFit) {
  const std::string input = Written(dir, "in.bin", BytesOf("xy"));
  ASSERT_TRUE(archive->InsertFile(Pointer<KYFile>(), input.c_str(), ""));
  EXPECT_EQ(std::string(archive->GetDirectory().GetAt(0)->name), input);
  ASSERT_TRUE(archive->InsertFile(Pointer<KYFile>(), input.c_str(), std::string(69, 'n').c_str()));
  EXPECT_TRUE(archive->GetStatus().IsOk());
}

// A caller's source is read and closed. An archive opened through a caller's
// file is reopened from disk, and the caller's file is let go.
TEST_F(InsertFileTest, ReadsAndClosesACallersSourceAndLetsGoOfACallersArchiveFile) {
  Pointer<MemoryFile> source(new MemoryFile(BytesOf("from memory")));
  ASSERT_TRUE(archive->InsertFile(source, "memory", "m"));
  EXPECT_EQ(source->calls.front(), "OpenFile(memory,rb)");
  EXPECT_FALSE(source->open);
  EXPECT_EQ(ReadAll(archivePath), Archive({{"m", "from memory"}}));

  Pointer<DiskFile> callers(new DiskFile());
  ASSERT_TRUE(archive->OpenMultiFile(callers, archivePath.c_str()));
  ASSERT_TRUE(Insert("b", "de"));
  EXPECT_EQ(ReadAll(archivePath), Archive({{"m", "from memory"}, {"b", "de"}}));
  EXPECT_FALSE(callers->IsFileOpened());
  EXPECT_EQ(callers->GetReferenceCount(), 1);
  ASSERT_TRUE(archive->OpenFile("m", "rb"));
}

// Another holder of the archive keeps reading the old one. On Windows its
// handle, which does not share deletion, stops the replacement cleanly.
TEST_F(InsertFileTest, WhileAnotherHandleHoldsTheArchive) {
  ASSERT_TRUE(Insert("a", "abc"));
  const Bytes before = ReadAll(archivePath);
  MultiFile other(archivePath.c_str());
  ASSERT_TRUE(other.OpenFile("a", "rb"));
#if defined(_WIN32)
  EXPECT_NE(Thrown([&] { Insert("b", "de"); }).find("Failed to replace the multi-file"),
            std::string::npos);
  EXPECT_EQ(ReadAll(archivePath), before);
  EXPECT_FALSE(Exists(temporary));
  EXPECT_TRUE(archive->OpenFile("a", "rb"));
#else
  ASSERT_TRUE(Insert("b", "de"));
  EXPECT_EQ(ReadAll(archivePath), Archive({{"a", "abc"}, {"b", "de"}}));
#endif
  EXPECT_EQ(ReadRest(other), "abc");
}

// Archives that the library does not write still get records whose offsets
// match their own data.
TEST_F(InsertFileTest, ForeignLayoutsGetEachRecordsOwnBytes) {
  // Data not in directory order, an equal name, and a gap before the last.
  Reopen(Raw({{"same", 252, 254}, {"SAME", 248, 251}, {"gap", 258, 259}}, "2222111...33"));
  ASSERT_TRUE(Insert("new", "4"));
  EXPECT_EQ(ReadAll(archivePath),
            Archive({{"same", "111"}, {"SAME", "2222"}, {"gap", "33"}, {"new", "4"}}));
}

using Fault = std::function<void(FaultySystem&)>;

class InsertFailureTest : public InsertFileTest {
 protected:
  // Inserts the input as "c" into an archive of `bytes` with `fault` on the
  // system's calls: it must throw `thrown` (or return false when that is
  // empty) and leave the archive byte-identical and open, with a temporary
  // file only when `temporaryLeft`.
  void ExpectFailure(const std::string& label, const Bytes& bytes, const Fault& fault,
                     const std::string& thrown, ErrorCode code, bool temporaryLeft,
                     Pointer<KYFile> source = nullptr) {
    SCOPED_TRACE(label);
    std::remove(temporary.c_str());
    Reopen(bytes);
    if (fault) {
      fault(system);
    }
    const auto insert = [&] { return archive->InsertFile(source, input.c_str(), "c"); };
    if (thrown.empty()) {
      EXPECT_FALSE(insert());
    } else {
      EXPECT_EQ(Thrown(insert), thrown);
    }
    system.Heal();
    EXPECT_EQ(archive->GetStatus().GetCode(), code);
    EXPECT_EQ(ReadAll(archivePath), bytes);
    EXPECT_TRUE(archive->IsMultiFileOpen());
    EXPECT_EQ(Exists(temporary), temporaryLeft);
  }
  std::string Error(const std::string& what, const std::string& subject) const {
    return "ERROR:\n\n" + what + "\n\n" + subject + "\nMulti-file:" + archivePath;
  }

  const std::string input = Written(dir, "in", BytesOf("new data"));
  const Bytes two = Archive({{"a", "abc"}, {"b", "defgh"}});
  const Bytes empty = Header(0);
};

// A failed write removes the temporary file.
TEST_F(InsertFailureTest, AFailedWriteKeepsTheOldArchive) {
  const std::string notWritten = Error(
      "Failed to write the new multi-file when attemping to insert a file; the multi-file is "
      "unchanged.",
      "Temporary file:" + temporary);
  const auto fails = [&](const std::string& label, const Fault& fault) {
    ExpectFailure(label, two, fault, notWritten, ErrorCode::kWriteFailed, false);
  };
  // Every write of an insertion in turn: magic, count, 3 records, 3 data blocks.
  for (int n = 0; n < 8; ++n) {
    fails("write " + std::to_string(n), [n](FaultySystem& s) { s.writesBeforeFailing = n; });
  }
  fails("flush", [](FaultySystem& s) { s.failFlush = true; });
  fails("sync", [](FaultySystem& s) { s.failSync = true; });
  fails("close", [](FaultySystem& s) { s.failClose = true; });
  ExpectFailure(
      "replace", two, [](FaultySystem& s) { s.failReplace = true; },
      Error("Failed to replace the multi-file by its new version when attemping to insert a file; "
            "the multi-file is unchanged.",
            "Temporary file:" + temporary),
      ErrorCode::kReplaceFailed, false);
  ExpectFailure(
      "temporary file not created", two,
      [](FaultySystem& s) {
        s.refuseOpen = [](const char* path) {
          return std::strstr(path, ".tmp") != nullptr ? EACCES : 0;
        };
      },
      "", ErrorCode::kWriteFailed, false);
  ASSERT_TRUE(archive->InsertFile(Pointer<KYFile>(), input.c_str(), "c"));
}

// A failed copy leaves the temporary file, which the next insertion
// overwrites.
TEST_F(InsertFailureTest, AFailedCopyKeepsTheOldArchive) {
  const std::string entryNotRead =
      "Failed to read sub-file in multi-file when attemping to insert new file.";
  const Bytes pastTheEnd = Raw({{"far", 88, 100000}}, "x");
  const Bytes emptyEntry = Raw({{"z", 168, 167}, {"y", 168, 168}}, "y");
  const auto noMemory = [](FaultySystem& s) { s.failAllocate = true; };
  ExpectFailure("entry past the archive's end", pastTheEnd, nullptr,
                Error(entryNotRead, "Sub-file:far"), ErrorCode::kTruncated, true);
  ExpectFailure("empty entry", emptyEntry, nullptr, Error(entryNotRead, "Sub-file:z"),
                ErrorCode::kTruncated, true);
  ExpectFailure("source shorter than it claims", empty, nullptr,
                Error("Failed to read input file when attemping to insert file into a multi-file.",
                      "Input-file:" + input),
                ErrorCode::kReadFailed, true, new MemoryFile(BytesOf("abc"), 10));
  ExpectFailure("no memory to copy an entry", two, noMemory,
                Error("Not enough memory to copy sub-file in multi-file when attemping to insert "
                      "new file.",
                      "Sub-file:a"),
                ErrorCode::kNoMemory, true);
  ExpectFailure("no memory to copy the input", empty, noMemory,
                Error("Not enough memory to copy input file when attemping to insert file into a "
                      "multi-file.",
                      "Input-file:" + input),
                ErrorCode::kNoMemory, true);
  Reopen(two);
  ASSERT_TRUE(archive->InsertFile(Pointer<KYFile>(), input.c_str(), "c"));
  EXPECT_FALSE(Exists(temporary));
  EXPECT_EQ(ReadAll(archivePath), Archive({{"a", "abc"}, {"b", "defgh"}, {"c", "new data"}}));
}

// Each refusal leaves the archive as it was, open or not, closes the open
// entry, and leaves a caller's source that was opened open for the caller.
// Only a name already there throws.
TEST_F(InsertFileTest, ARefusalSaysWhyAndChangesNothing) {
  struct Refusal {
    const char* label;
    bool open;          // the archive is open, with an entry open in it
    const char* input;  // the caller's source, or null for one that cannot be opened
    std::string entry;
    ErrorCode code;
  };
  const Refusal refusals[] = {
      {"archive not open", false, "x", "e", ErrorCode::kNotOpen},
      {"name already there", true, "x", "A", ErrorCode::kAlreadyExists},
      {"name too long", true, "x", std::string(70, 'n'), ErrorCode::kNameTooLong},
      {"input missing", true, nullptr, "e", ErrorCode::kReadFailed},
      {"input empty", true, "", "e", ErrorCode::kEmptyInput},
  };
  const Bytes before = Archive({{"a", "abc"}});
  for (const Refusal& c : refusals) {
    SCOPED_TRACE(c.label);
    Reopen(before);
    if (c.open) {
      ASSERT_TRUE(archive->OpenFile("a", "rb"));
    } else {
      ASSERT_TRUE(archive->CloseMultiFile());
    }
    Pointer<MemoryFile> source(new MemoryFile(BytesOf(c.input != nullptr ? c.input : "")));
    source->refuseOpen = c.input == nullptr;
    const auto insert = [&] { return archive->InsertFile(source, "in", c.entry.c_str()); };
    if (c.code == ErrorCode::kAlreadyExists) {
      EXPECT_EQ(Thrown(insert), "ERROR: Attempted to insert A into multifile " + archivePath +
                                    ", but it already exists.");
    } else {
      EXPECT_FALSE(insert());
    }
    EXPECT_EQ(archive->GetStatus().GetCode(), c.code) << archive->GetStatus().GetText();
    EXPECT_EQ(ReadAll(archivePath), before);
    EXPECT_FALSE(Exists(temporary));
    EXPECT_EQ(archive->IsMultiFileOpen(), c.open);
    EXPECT_FALSE(archive->IsFileOpened());
    EXPECT_EQ(source->open, c.code == ErrorCode::kEmptyInput);
  }
}

TEST_F(InsertFileTest, ExtractToFileCopiesTheWholeEntryWhereverThePositionIs) {
  Reopen(Archive({{"ten", "0123456789"}}));
  const std::string target = dir.Path("out");
  EXPECT_FALSE(archive->ExtractToFile(target.c_str()));
  EXPECT_FALSE(Exists(target));
  ASSERT_TRUE(archive->OpenFile("ten", "rb"));
  ASSERT_TRUE(archive->Seek(3, 0));
  WriteAll(target, std::string(50, 'z'));
  ASSERT_TRUE(archive->ExtractToFile(target.c_str()));
  ASSERT_TRUE(archive->ExtractToFile(dir.Path("second").c_str()));
  EXPECT_EQ(ReadAll(target), BytesOf("0123456789"));
  EXPECT_EQ(ReadAll(dir.Path("second")), BytesOf("0123456789"));
  EXPECT_EQ(archive->GetPosition(), 10);
  EXPECT_TRUE(archive->EndOfFile());
  EXPECT_TRUE(debugger->errors.empty());

  const std::string nowhere = dir.Path("no/such/folder/out");
  EXPECT_FALSE(archive->ExtractToFile(nowhere.c_str()));
  system.failAllocate = true;
  EXPECT_FALSE(archive->ExtractToFile(dir.Path("third").c_str()));
  EXPECT_FALSE(Exists(dir.Path("third")));
  EXPECT_EQ(debugger->errors,
            (std::vector<std::string>{"Unable to open file for writing: " + nowhere + "\n",
                                      "Not enough memory to extract 10 bytes from multifile.\n"}));
}

}  // namespace
