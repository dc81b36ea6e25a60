#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

class InsertFileTest : public testing::Test {
 protected:
  void SetUp() override {
    archivePath = dir.Path("data.arc");
    ASSERT_TRUE(MultiFile::CreateEmptyMultiFile(archivePath.c_str()));
    archive = new MultiFile(archivePath.c_str());
    ASSERT_TRUE(archive->IsMultiFileOpen());
  }
  std::string Input(const std::string& name, const std::string& data) {
    WriteAll(dir.Path(name), data);
    return dir.Path(name);
  }
  bool Insert(const std::string& name, const std::string& data) {
    return archive->InsertFile(Pointer<KYFile>(), Input(name, data).c_str(), name.c_str());
  }
  // The archive is open on exactly these bytes, and no temporary file is left.
  void ExpectUnchanged(const Bytes& bytes, bool temporaryLeft = false) {
    EXPECT_EQ(ReadAll(archivePath), bytes);
    EXPECT_TRUE(archive->IsMultiFileOpen());
    EXPECT_EQ(Exists(archivePath + ".tmp"), temporaryLeft);
  }

  TempDir dir;
  std::string archivePath;
  Pointer<MultiFile> archive;
  DebuggerCapture debugger;
};

TEST_F(InsertFileTest, WorkedExamplesComeOutByteForByte) {
  ASSERT_TRUE(Insert("a.txt", "abc"));
  Bytes expected = Header(1);
  Append(expected, Record("a.txt", 88, 90));
  Append(expected, BytesOf("abc"));
  ASSERT_EQ(ReadAll(archivePath), expected);

  ASSERT_TRUE(Insert("b", "12345"));
  expected = Archive({{"a.txt", "abc"}, {"b", "12345"}});
  ASSERT_EQ(ReadAll(archivePath).size(), 176u);
  ASSERT_EQ(ReadAll(archivePath), expected);

  ASSERT_TRUE(Insert("c", "0123456789"));
  const Bytes bytes = ReadAll(archivePath);
  ASSERT_EQ(bytes, Archive({{"a.txt", "abc"}, {"b", "12345"}, {"c", "0123456789"}}));
  EXPECT_EQ(bytes.size(), 266u);
  EXPECT_EQ(RXM::kymf::DecodeInt32(&bytes[8 + 72]), 248);
  EXPECT_EQ(RXM::kymf::DecodeInt32(&bytes[8 + 80 + 72]), 251);
  EXPECT_EQ(RXM::kymf::DecodeInt32(&bytes[8 + 160 + 72]), 256);
  EXPECT_EQ(RXM::kymf::DecodeInt32(&bytes[8 + 160 + 76]), 265);
  EXPECT_FALSE(Exists(archivePath + ".tmp"));
  EXPECT_EQ(archive->GetDirectory().GetCount(), 3);
  EXPECT_FALSE(archive->IsFileOpened());
  ASSERT_TRUE(archive->OpenFile("C", "rb"));
  EXPECT_EQ(archive->GetFileSize(), 10u);
}

TEST_F(InsertFileTest, AnEmptyEntryNameIsTheWholeInputName) {
  const std::string input = Input("in.bin", "xy");
  ASSERT_TRUE(archive->InsertFile(Pointer<KYFile>(), input.c_str(), ""));
  EXPECT_EQ(std::string(archive->GetDirectory().GetAt(0)->name), input);
}

TEST_F(InsertFileTest, ANameThatAlreadyResolvesIsRefusedWithTheArchiveUnchanged) {
  ASSERT_TRUE(Insert("a.txt", "abc"));
  const Bytes before = ReadAll(archivePath);
  ASSERT_TRUE(archive->OpenFile("a.txt", "rb"));
  EXPECT_EQ(Thrown([&] { Insert("A.TXT", "other"); }),
            "ERROR: Attempted to insert A.TXT into multifile " + archivePath +
                ", but it already exists.");
  ExpectUnchanged(before);
  EXPECT_FALSE(archive->IsFileOpened());
}

TEST_F(InsertFileTest, ACallersSourceIsReadAndClosed) {
  Pointer<MemoryFile> source(new MemoryFile(BytesOf("from memory")));
  ASSERT_TRUE(archive->InsertFile(source, "memory", "m"));
  EXPECT_EQ(source->calls.front(), "OpenFile(memory,rb)");
  EXPECT_FALSE(source->open);
  EXPECT_EQ(ReadAll(archivePath), Archive({{"m", "from memory"}}));
}

TEST_F(InsertFileTest, AnArchiveOpenedThroughACallersFileIsReopenedFromDisk) {
  ASSERT_TRUE(Insert("a", "abc"));
  Pointer<DiskFile> callers(new DiskFile());
  ASSERT_TRUE(archive->OpenMultiFile(callers, archivePath.c_str()));
  ASSERT_TRUE(Insert("b", "de"));
  EXPECT_EQ(ReadAll(archivePath), Archive({{"a", "abc"}, {"b", "de"}}));
  EXPECT_FALSE(callers->IsFileOpened());
  EXPECT_EQ(callers->GetReferenceCount(), 1);
  ASSERT_TRUE(archive->OpenFile("a", "rb"));
}

// Another holder of the archive keeps reading the old one. POSIX replaces a
// file that is open elsewhere, and the holder reads the file it opened; on
// Windows the open handle, which does not share deletion, stops the
// replacement, so the insertion fails cleanly and changes nothing.
TEST_F(InsertFileTest, WhileAnotherHandleHoldsTheArchive) {
  ASSERT_TRUE(Insert("a", "abc"));
  const Bytes before = ReadAll(archivePath);
  MultiFile other(archivePath.c_str());
  ASSERT_TRUE(other.OpenFile("a", "rb"));
#if defined(_WIN32)
  EXPECT_NE(Thrown([&] { Insert("b", "de"); }).find("Failed to replace the multi-file"),
            std::string::npos);
  ExpectUnchanged(before);
  EXPECT_TRUE(archive->OpenFile("a", "rb"));
#else
  ASSERT_TRUE(Insert("b", "de"));
  EXPECT_EQ(ReadAll(archivePath), Archive({{"a", "abc"}, {"b", "de"}}));
#endif
  char read[3] = {};
  EXPECT_EQ(other.ReadData(read, 1, 3), 3u);
  EXPECT_EQ(std::string(read, 3), "abc");
}

TEST_F(InsertFileTest, CopyFailuresThrowAndKeepTheOldArchive) {
  // An entry whose offsets run past the archive's end, and an empty one.
  for (const Bytes& broken : {[] {
                                Bytes b = Header(1);
                                Append(b, Record("far", 88, 100000));
                                Append(b, BytesOf("x"));
                                return b;
                              }(),
                              [] {
                                Bytes b = Header(2);
                                Append(b, Record("z", 168, 167));
                                Append(b, Record("y", 168, 168));
                                Append(b, BytesOf("y"));
                                return b;
                              }()}) {
    WriteAll(archivePath, broken);
    ASSERT_TRUE(archive->OpenMultiFile(Pointer<KYFile>(), archivePath.c_str()));
    const std::string subFile = archive->GetDirectory().GetAt(0)->name;
    EXPECT_EQ(Thrown([&] { Insert("new", "data"); }),
              "ERROR:\n\nFailed to read sub-file in multi-file when attemping to insert new "
              "file.\n\nSub-file:" +
                  subFile + "\nMulti-file:" + archivePath);
    ExpectUnchanged(broken, /*temporaryLeft=*/true);
    EXPECT_TRUE(archive->IsFileOpened());  // the entry whose read failed
  }
  // A source that cannot deliver the size it claims.
  ASSERT_TRUE(MultiFile::CreateEmptyMultiFile(archivePath.c_str()));
  ASSERT_TRUE(archive->OpenMultiFile(Pointer<KYFile>(), archivePath.c_str()));
  struct Lying : MemoryFile {
    using MemoryFile::MemoryFile;
    unsigned int GetFileSize() override { return 10; }
  };
  Pointer<KYFile> lying(new Lying(BytesOf("abc")));
  EXPECT_EQ(Thrown([&] { archive->InsertFile(lying, "liar", "l"); }),
            "ERROR:\n\nFailed to read input file when attemping to insert file into a "
            "multi-file.\n\nInput-file:liar\nMulti-file:" +
                archivePath);
  ExpectUnchanged(Bytes{'K', 'Y', 'M', 'F', 0, 0, 0, 0}, true);
  // The next insertion overwrites the temporary file that was left.
  ASSERT_TRUE(Insert("a", "abc"));
  EXPECT_FALSE(Exists(archivePath + ".tmp"));
  EXPECT_EQ(ReadAll(archivePath), Archive({{"a", "abc"}}));
}

// Archives that the library does not write still get records whose offsets
// match their own data.
TEST_F(InsertFileTest, ForeignLayoutsGetEachRecordsOwnBytes) {
  Bytes foreign = Header(3);
  Append(foreign, Record("same", 8 + 240 + 4, 8 + 240 + 6));   // data not in directory order
  Append(foreign, Record("SAME", 8 + 240, 8 + 240 + 3));       // an equal name
  Append(foreign, Record("gap", 8 + 240 + 10, 8 + 240 + 11));  // a gap before it
  Append(foreign, BytesOf("2222111...33"));
  WriteAll(archivePath, foreign);
  ASSERT_TRUE(archive->OpenMultiFile(Pointer<KYFile>(), archivePath.c_str()));
  ASSERT_TRUE(Insert("new", "4"));
  Bytes expected = Header(4);
  Append(expected, Record("same", 328, 330));
  Append(expected, Record("SAME", 331, 334));
  Append(expected, Record("gap", 335, 336));
  Append(expected, Record("new", 337, 337));
  Append(expected, BytesOf("111222233"
                           "4"));
  EXPECT_EQ(ReadAll(archivePath), expected);
}

// --- Faults of the file system ----------------------------------------------

int FailingFlush(std::FILE*) {
  return EOF;
}
int FailingSync(std::FILE*) {
  return -1;
}
int FailingReplace(const char*, const char*) {
  return -1;
}
std::FILE* FailingOpen(const char* path, const char* mode) {
  return std::strstr(path, ".tmp") != nullptr ? nullptr : RXM::sys::RealCalls().open(path, mode);
}

TEST_F(InsertFileTest, EveryFailingFileSystemCallLeavesTheArchiveIntactAndOpen) {
  ASSERT_TRUE(Insert("a", "abc"));
  ASSERT_TRUE(Insert("b", "defgh"));
  const Bytes before = ReadAll(archivePath);
  const std::string notWritten =
      "ERROR:\n\nFailed to write the new multi-file when attemping to insert a file; the "
      "multi-file is unchanged.\n\nTemporary file:" +
      archivePath + ".tmp\nMulti-file:" + archivePath;
  const std::string notReplaced =
      "ERROR:\n\nFailed to replace the multi-file by its new version when attemping to insert a "
      "file; the multi-file is unchanged.\n\nTemporary file:" +
      archivePath + ".tmp\nMulti-file:" + archivePath;
  const std::string input = Input("in", "new data");
  // Every write of an insertion in turn: magic, count, 3 records, 3 data blocks.
  for (int failAt = 0; failAt < 8; ++failAt) {
    SystemCallsOverride calls;
    calls->write = FailingWrite;
    gWritesBeforeFailing = failAt;
    EXPECT_EQ(Thrown([&] { archive->InsertFile(Pointer<KYFile>(), input.c_str(), "c"); }),
              notWritten)
        << "write " << failAt;
    ExpectUnchanged(before);
  }
  struct Fault {
    const char* label;
    void (*install)(RXM::sys::SystemCalls&);
    std::string message;
  };
  const std::vector<Fault> faults = {
      {"flush", [](RXM::sys::SystemCalls& c) { c.flush = FailingFlush; }, notWritten},
      {"sync", [](RXM::sys::SystemCalls& c) { c.sync = FailingSync; }, notWritten},
      {"close", [](RXM::sys::SystemCalls& c) { c.close = FailingClose; }, notWritten},
      {"replace", [](RXM::sys::SystemCalls& c) { c.replace = FailingReplace; }, notReplaced},
  };
  for (const Fault& fault : faults) {
    {
      SystemCallsOverride calls;
      fault.install(RXM::sys::Calls());
      EXPECT_EQ(Thrown([&] { archive->InsertFile(Pointer<KYFile>(), input.c_str(), "c"); }),
                fault.message)
          << fault.label;
    }
    ExpectUnchanged(before);
    ASSERT_TRUE(archive->OpenFile("b", "rb")) << fault.label;
  }
  {
    SystemCallsOverride calls;
    calls->open = FailingOpen;
    EXPECT_FALSE(archive->InsertFile(Pointer<KYFile>(), input.c_str(), "c"));
  }
  ExpectUnchanged(before);
  ASSERT_TRUE(archive->InsertFile(Pointer<KYFile>(), input.c_str(), "c"));
}

TEST_F(InsertFileTest, ACopyBlockThatCannotBeAllocatedIsReportedNotReadInto) {
  ASSERT_TRUE(Insert("a", "abc"));
  const Bytes before = ReadAll(archivePath);
  SystemCallsOverride calls;
  calls->allocate = FailingAllocate;
  EXPECT_EQ(Thrown([&] { Insert("b", "x"); }),
            "ERROR:\n\nNot enough memory to copy sub-file in multi-file when attemping to insert "
            "new file.\n\nSub-file:a\nMulti-file:" +
                archivePath);
  ExpectUnchanged(before, true);
  ASSERT_TRUE(MultiFile::CreateEmptyMultiFile(archivePath.c_str()));
  ASSERT_TRUE(archive->OpenMultiFile(Pointer<KYFile>(), archivePath.c_str()));
  EXPECT_EQ(Thrown([&] { Insert("b", "x"); }),
            "ERROR:\n\nNot enough memory to copy input file when attemping to insert file into a "
            "multi-file.\n\nInput-file:" +
                dir.Path("b") + "\nMulti-file:" + archivePath);
}

// --- Extracting -------------------------------------------------------------

class ExtractToFileTest : public InsertFileTest {
 protected:
  void SetUp() override {
    InsertFileTest::SetUp();
    Bytes bytes = Archive({{"ten", "0123456789"}, {"empty", ""}});
    Append(bytes, Record("unused", 0, 0));
    WriteAll(archivePath, bytes);
    ASSERT_TRUE(archive->OpenMultiFile(Pointer<KYFile>(), archivePath.c_str()));
  }
};

TEST_F(ExtractToFileTest, CopiesTheWholeEntryWhereverThePositionIs) {
  const std::string target = dir.Path("out");
  EXPECT_FALSE(archive->ExtractToFile(target.c_str()));
  EXPECT_FALSE(Exists(target));
  ASSERT_TRUE(archive->OpenFile("ten", "rb"));
  char data[3];
  archive->ReadData(data, 1, 3);
  ASSERT_TRUE(archive->ExtractToFile(target.c_str()));
  EXPECT_EQ(ReadAll(target), BytesOf("0123456789"));
  EXPECT_EQ(archive->GetPosition(), 10);
  EXPECT_TRUE(archive->EndOfFile());
  WriteAll(target, std::string(50, 'z'));
  ASSERT_TRUE(archive->ExtractToFile(target.c_str()));
  ASSERT_TRUE(archive->ExtractToFile(dir.Path("second").c_str()));
  EXPECT_EQ(ReadAll(target), BytesOf("0123456789"));
  EXPECT_EQ(ReadAll(dir.Path("second")), BytesOf("0123456789"));
  EXPECT_TRUE(debugger->errors.empty());
}

TEST_F(ExtractToFileTest, EntriesThatCannotBeReadWholeAreReportedAndWriteNothing) {
  Bytes bytes = Header(2);
  Append(bytes, Record("past", 168, 2000000000));
  Append(bytes, Record("empty", 168, 167));
  Append(bytes, BytesOf("abc"));
  WriteAll(archivePath, bytes);
  ASSERT_TRUE(archive->OpenMultiFile(Pointer<KYFile>(), archivePath.c_str()));
  for (const char* name : {"past", "empty"}) {
    ASSERT_TRUE(archive->OpenFile(name, "rb"));
    EXPECT_FALSE(archive->ExtractToFile(dir.Path("out").c_str())) << name;
    EXPECT_FALSE(Exists(dir.Path("out"))) << name;
    EXPECT_TRUE(archive->IsFileOpened());
  }
  EXPECT_EQ(debugger->errors,
            (std::vector<std::string>(2, "Error while reading data from multifile.\n")));
}

TEST_F(ExtractToFileTest, ATargetThatCannotBeOpenedIsReported) {
  ASSERT_TRUE(archive->OpenFile("ten", "rb"));
  const std::string target = dir.Path("no/such/folder/out");
  EXPECT_FALSE(archive->ExtractToFile(target.c_str()));
  EXPECT_EQ(debugger->errors,
            std::vector<std::string>{"Unable to open file for writing: " + target + "\n"});
  SystemCallsOverride calls;
  calls->allocate = FailingAllocate;
  EXPECT_FALSE(archive->ExtractToFile(dir.Path("out").c_str()));
  EXPECT_FALSE(Exists(dir.Path("out")));
  EXPECT_EQ(debugger->errors.back(), "Not enough memory to extract 10 bytes from multifile.\n");
}

// Why an insertion was refused, with the archive left as it was.
struct InsertRefusal {
  const char* label;
  bool open;          // the archive is open, with an entry open in it
  const char* input;  // the caller's source, or null for one that cannot be opened
  const char* entry;
  RXM::ErrorCode code;
  bool throws;
};

const InsertRefusal kRefusals[] = {
    {"archive not open", false, "x", "e", RXM::ErrorCode::kNotOpen, false},
    {"name already there", true, "x", "A", RXM::ErrorCode::kAlreadyExists, true},
    {"name too long", true, "x",
     "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn",
     RXM::ErrorCode::kNameTooLong, false},
    {"input missing", true, nullptr, "e", RXM::ErrorCode::kReadFailed, false},
    {"input empty", true, "", "e", RXM::ErrorCode::kEmptyInput, false},
};

class InsertRefusalTest : public testing::TestWithParam<InsertRefusal> {};

// The open entry is closed, and a caller's source that was opened is left
// open for the caller.
TEST_P(InsertRefusalTest, SaysWhyAndChangesNothing) {
  const InsertRefusal& c = GetParam();
  TempDir dir;
  const std::string path = dir.Path("a.kymf");
  const Bytes before = Archive({{"a", "abc"}});
  WriteAll(path, before);
  Pointer<MemoryFile> source(new MemoryFile(BytesOf(c.input != nullptr ? c.input : "")));
  source->refuseOpen = c.input == nullptr;
  MultiFile archive;
  if (c.open) {
    ASSERT_TRUE(archive.OpenMultiFile(Pointer<KYFile>(), path.c_str()));
    ASSERT_TRUE(archive.OpenFile("a", "rb"));
  }
  bool thrown = false;
  try {
    EXPECT_FALSE(archive.InsertFile(source, "in", c.entry));
  } catch (Exception* e) {
    thrown = true;
    delete e;
  }
  EXPECT_EQ(thrown, c.throws);
  EXPECT_EQ(archive.GetStatus().GetCode(), c.code) << archive.GetStatus().GetText();
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_FALSE(Exists(path + ".tmp"));
  EXPECT_EQ(archive.IsMultiFileOpen(), c.open);
  EXPECT_FALSE(archive.IsFileOpened());
  EXPECT_EQ(source->open, c.code == RXM::ErrorCode::kEmptyInput);
}

INSTANTIATE_TEST_SUITE_P(Causes, InsertRefusalTest, testing::ValuesIn(kRefusals),
                         CaseName<InsertRefusal>);

TEST(InsertRefusalTest, ANameOf69CharactersIsTakenAndTheStatusIsOk) {
  TempDir dir;
  const std::string path = dir.Path("a.kymf");
  WriteAll(path, Archive({{"a", "abc"}}));
  WriteAll(dir.Path("in"), std::string("xyz"));
  MultiFile archive(path.c_str());
  ASSERT_TRUE(
      archive.InsertFile(Pointer<KYFile>(), dir.Path("in").c_str(), std::string(69, 'n').c_str()));
  EXPECT_TRUE(archive.GetStatus().IsOk());
}

}  // namespace
