// Opening an archive, from disk or through a caller's file; copies of an open
// archive; and how the element stream moves the archive's file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "backends/FaultySystem.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

class MultiFileTest : public testing::Test {
 protected:
  TempDir dir;
  DebuggerCapture debugger;
};

// A caller's file is read as it is, and closed and let go when another
// archive (here a new empty one, made over an old one) is opened.
TEST_F(MultiFileTest, OpeningAnotherArchiveClosesTheFirst) {
  FaultySystem system;  // counts the files the archive opens itself
  Pointer<MemoryFile> first(new MemoryFile(Archive({{"a", "xyz"}})));
  MultiFile archive(system);
  ASSERT_TRUE(archive.OpenMultiFile(first, "ARCHIVE\n#10"));
  EXPECT_EQ(first->calls.front(), "OpenFile(ARCHIVE\n#10,rb)");
  EXPECT_GE(first->GetReferenceCount(), 2);  // held by the archive too
  ASSERT_TRUE(archive.OpenFile("A", "rb"));
  EXPECT_EQ(ReadRest(archive), "xyz");
  EXPECT_EQ(system.opens, 0);

  const std::string second = Written(dir, "second", Archive({{"old", "1"}}));
  ASSERT_TRUE(MultiFile::CreateEmptyMultiFile(second.c_str()));
  EXPECT_EQ(ReadAll(second), Header(0));
  EXPECT_FALSE(MultiFile::CreateEmptyMultiFile(dir.Path("no/such/dir").c_str()));
  ASSERT_TRUE(archive.OpenMultiFile(Pointer<KYFile>(), second.c_str()));
  EXPECT_EQ(first->calls.back(), "CloseFile");
  EXPECT_EQ(first->GetReferenceCount(), 1);
  EXPECT_FALSE(archive.IsFileOpened());
  EXPECT_EQ(archive.GetDirectory().GetCount(), 0);
  EXPECT_FALSE(archive.OpenFile("a", "rb"));
  EXPECT_TRUE(debugger->printed.empty());
}

// The empty archive is written and put in place through the system it is
// given, so a failed replacement keeps the old archive and leaves no
// temporary file.
TEST_F(MultiFileTest, AnEmptyArchiveThatCannotBePutInPlaceKeepsTheOldOne) {
  FaultySystem system;
  system.failReplace = true;
  const std::string old = Written(dir, "old.kymf", Archive({{"old", "1"}}));
  EXPECT_FALSE(MultiFile::CreateEmptyMultiFile(old.c_str(), system));
  EXPECT_EQ(ReadAll(old), Archive({{"old", "1"}}));
  EXPECT_TRUE(Leftovers(dir).empty());
  system.Heal();
  EXPECT_TRUE(MultiFile::CreateEmptyMultiFile(old.c_str(), system));
  EXPECT_EQ(ReadAll(old), Header(0));
}

// The system may give fewer bytes than asked for without being at the end.
TEST_F(MultiFileTest, AnEntryStreamReadsWholeThroughShortReads) {
  FaultySystem system;
  system.readAtMost = 1;
  MultiFile archive(system);
  ASSERT_TRUE(archive.OpenMultiFile(Pointer<KYFile>(),
                                    Written(dir, "a.kymf", Archive({{"a", "abcdef"}})).c_str()));
  const Pointer<KYFile> entry = archive.OpenEntry("a");
  ASSERT_FALSE(entry.IsNull());
  EXPECT_EQ(ReadRest(*entry), "abcdef");
}

TEST_F(MultiFileTest, CopiesShareTheArchiveFileAndTheEntries) {
  Pointer<MultiFile> archive(
      new MultiFile(Written(dir, "c", Archive({{"a", "abc"}, {"b", "de"}})).c_str()));
  ASSERT_TRUE(archive->OpenFile("b", "rb"));
  Pointer<MultiFile> copy(new MultiFile(*archive));
  EXPECT_EQ(copy->GetReferenceCount(), 1);
  EXPECT_TRUE(copy->IsMultiFileOpen());
  EXPECT_TRUE(copy->IsFileOpened());
  EXPECT_EQ(copy->GetDirectory().GetAt(1), archive->GetDirectory().GetAt(1));
  ASSERT_TRUE(copy->OpenFile("A", "rb"));
  EXPECT_EQ(ReadRest(*copy), "abc");

  MultiFile assigned;
  assigned = *copy;
  EXPECT_EQ(assigned.GetDirectory().GetAt(0), archive->GetDirectory().GetAt(0));
  EXPECT_EQ(assigned.GetDirectory().GetCount(), 2);

  // A copy that goes closes the archive's file under the original's open
  // entry: the original then neither reads nor seeks it.
  copy = nullptr;
  EXPECT_TRUE(archive->IsFileOpened());
  char data[1];
  EXPECT_EQ(archive->ReadData(data, 1, 1), 0u);
  EXPECT_FALSE(archive->Seek(0, 0));
  EXPECT_FALSE(archive->OpenFile("a", "rb"));
}

// fopen opens a folder and the first read fails; Windows' C runtime refuses
// it, and the failed open is reported through the debugger.
#if defined(_WIN32)
constexpr bool kFolderOpens = false;
#else
constexpr bool kFolderOpens = true;
#endif

struct OpenCase {
  const char* label;
  // Makes what is opened under `path`: a file written there, or a caller's
  // file returned; it may also make the calls of `system` fail.
  Pointer<KYFile> (*make)(const std::string& path, FaultySystem& system);
  RXM::ErrorCode code;
  std::string reason;  // the status says "<path>: <reason>"
  bool debuggerLine;   // "Unable to open multi-file: <path>" printed
};

void PrintTo(const OpenCase& c, std::ostream* out) {
  *out << c.label;
}

// The refusals that bytes alone give are in the hostile archive corpus.
const OpenCase kOpenCases[] = {
    {"missing", [](const std::string&, FaultySystem&) { return Pointer<KYFile>(); },
     RXM::ErrorCode::kNoSuchFile, "no such file", true},
    {"a folder",
     [](const std::string& path, FaultySystem&) {
       EXPECT_TRUE(std::filesystem::create_directory(path));
       return Pointer<KYFile>();
     },
     RXM::ErrorCode::kIsAFolder, "is a folder", !kFolderOpens},
    {"short record",
     [](const std::string&, FaultySystem&) {
       // Larger than it is, so that the count passes and the records run out.
       return Pointer<KYFile>(new MemoryFile(With(Header(2), 8, Record("a", 0, 0)), 1 << 20));
     },
     RXM::ErrorCode::kShortRecord, "record 1: directory record cut short", false},
    {"refused by the system",
     [](const std::string& path, FaultySystem& system) {
       WriteAll(path, Archive({{"a", "x"}}));
       system.refuseOpen = [](const char*) { return EACCES; };
       return Pointer<KYFile>();
     },
     RXM::ErrorCode::kCannotOpen, std::strerror(EACCES), true},
    {"no memory for the entries",
     [](const std::string&, FaultySystem& system) {
       system.failAllocate = true;
       std::vector<Entry> entries;  // enough to share a block
       for (int i = 0; i < 64; ++i) {
         entries.push_back({"e" + std::to_string(i), "1"});
       }
       return Pointer<KYFile>(new MemoryFile(Archive(entries)));
     },
     RXM::ErrorCode::kNoMemory, "not enough memory", false},
};

class OpenStatusTest : public testing::TestWithParam<OpenCase> {};

TEST_P(OpenStatusTest, SaysWhyWithTheArchivesName) {
  const OpenCase& c = GetParam();
  TempDir dir;
  DebuggerCapture debugger;
  FaultySystem system;
  const std::string path = dir.Path("archive.kymf");
  const Pointer<KYFile> file = c.make(path, system);
  MultiFile archive(system);
  EXPECT_FALSE(archive.OpenMultiFile(file, path.c_str()));
  EXPECT_FALSE(archive.CloseMultiFile());
  EXPECT_EQ(archive.GetStatus().GetCode(), c.code);
  EXPECT_EQ(std::string(archive.GetStatus().GetText()), path + ": " + c.reason);
  EXPECT_EQ(archive.GetDirectory().GetCount(), 0);
  if (!file.IsNull()) {  // a caller's file is left open for the caller
    EXPECT_TRUE(file->IsFileOpened());
    EXPECT_EQ(file->GetReferenceCount(), 1);
  }
  EXPECT_EQ(debugger->printed,
            c.debuggerLine ? std::vector<std::string>{"Unable to open multi-file: " + path + "\n"}
                           : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Causes, OpenStatusTest, testing::ValuesIn(kOpenCases), CaseName<OpenCase>);

// Every row of the clamping table: the new position, and the one move of the
// archive's file that gets there. The entry is 10 bytes at offset 88. A file
// that refuses every move is asked once; the entry keeps its position.
struct SeekCase {
  long start;
  long offset;
  int origin;
  bool result;
  long position;
  std::string call;  // "" when the archive's file must not move
  bool refused = false;
};

TEST(ElementSeekTest, EachCaseClampsWithOneMoveOfTheArchiveFile) {
  const std::vector<SeekCase> cases = {
      {4, -1, 0, true, 0, "Seek(-4,1)"},         {4, 0, 0, true, 0, "Seek(88,0)"},
      {4, 10, 0, true, 10, "Seek(98,0)"},        {4, 15, 0, true, 10, "Seek(6,1)"},
      {4, -5, 1, true, 0, "Seek(-4,1)"},         {4, -4, 1, true, 0, "Seek(-4,1)"},
      {4, 6, 1, true, 10, "Seek(6,1)"},          {4, 7, 1, true, 10, "Seek(6,1)"},
      {4, 1, 2, true, 10, "Seek(6,1)"},          {4, 0, 2, true, 10, "Seek(98,0)"},
      {4, -10, 2, true, 0, "Seek(88,0)"},        {4, -11, 2, true, 0, "Seek(-4,1)"},
      {4, -4, 2, true, 6, "Seek(94,0)"},         {4, 2, 3, false, 4, ""},
      {4, 2147483647, 1, true, 10, "Seek(6,1)"}, {4, -2147483647 - 1L, 2, true, 0, "Seek(-4,1)"},
      {5, 2, 0, false, 5, "Seek(90,0)", true},
  };
  for (const SeekCase& c : cases) {
    Pointer<MemoryFile> file(new MemoryFile(Archive({{"e", "0123456789"}})));
    MultiFile archive;
    ASSERT_TRUE(archive.OpenMultiFile(file, "m"));
    ASSERT_TRUE(archive.OpenFile("e", "rb"));
    char data[16];
    archive.ReadData(data, 1, static_cast<unsigned int>(c.start));
    file->calls.clear();
    file->refuseSeek = c.refused;
    SCOPED_TRACE(std::to_string(c.offset) + " from " + std::to_string(c.origin));
    EXPECT_EQ(archive.Seek(c.offset, c.origin), c.result);
    EXPECT_EQ(archive.GetPosition(), c.position);
    EXPECT_EQ(file->calls,
              c.call.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.call});
    EXPECT_EQ(file->position, 88 + c.position);
    EXPECT_TRUE(file->open);
  }
}

}  // namespace
