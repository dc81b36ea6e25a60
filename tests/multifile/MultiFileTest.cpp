#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

std::vector<std::string> Names(const MultiFile& archive) {
  std::vector<std::string> names;
  const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
  for (int i = 0; i < directory.GetCount(); ++i) {
    names.emplace_back(directory.GetAt(i)->name);
  }
  return names;
}

class MultiFileTest : public testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    WriteAll(dir.Path(name), bytes);
    return dir.Path(name);
  }
  TempDir dir;
  DebuggerCapture debugger;
};

TEST_F(MultiFileTest, CreatesAndOpensTheEmptyArchive) {
  const std::string path = Write("old", Archive({{"a", "abc"}}));
  ASSERT_TRUE(MultiFile::CreateEmptyMultiFile(path.c_str()));
  EXPECT_EQ(ReadAll(path), (Bytes{'K', 'Y', 'M', 'F', 0, 0, 0, 0}));

  Pointer<MultiFile> archive(new MultiFile(path.c_str()));
  EXPECT_TRUE(archive->IsMultiFileOpen());
  EXPECT_EQ(archive->GetDirectory().GetCount(), 0);
  EXPECT_FALSE(archive->IsFileOpened());
  EXPECT_FALSE(MultiFile::CreateEmptyMultiFile(dir.Path("no/such/dir").c_str()));
  EXPECT_TRUE(debugger->printed.empty());
}

TEST_F(MultiFileTest, LoadsTheRecordsInFileOrder) {
  Bytes bytes = Archive({{"b", "22"}, {"a", "1"}, {std::string(69, 'n'), "333"}});
  Append(bytes, BytesOf("trailing bytes are ignored"));
  MultiFile archive(Write("x", bytes).c_str());
  ASSERT_TRUE(archive.IsMultiFileOpen());
  EXPECT_EQ(Names(archive), (std::vector<std::string>{"b", "a", std::string(69, 'n')}));
  const Pointer<MultiFileElement> last = archive.GetDirectory().GetAt(2);
  EXPECT_EQ(last->dataStart, 8 + 240 + 3);
  EXPECT_EQ(last->dataEnd, 8 + 240 + 5);
  ASSERT_TRUE(archive.OpenFile(std::string(69, 'N').c_str(), "rb"));
  EXPECT_EQ(archive.GetFileSize(), 3u);
}

TEST_F(MultiFileTest, AnArchiveThatCannotBeOpenedIsReportedOnce) {
  const std::string path = dir.Path("missing.kymf");
  MultiFile archive(path.c_str());
  EXPECT_FALSE(archive.IsMultiFileOpen());
  EXPECT_EQ(debugger->printed,
            std::vector<std::string>{"Unable to open multi-file: " + path + "\n"});
  EXPECT_FALSE(archive.CloseMultiFile());
}

TEST_F(MultiFileTest, OpeningAnotherArchiveClosesTheFirst) {
  Pointer<MemoryFile> first(new MemoryFile(Archive({{"one", "1"}})));
  MultiFile archive;
  ASSERT_TRUE(archive.OpenMultiFile(first, "first"));
  ASSERT_TRUE(archive.OpenFile("one", "rb"));
  ASSERT_TRUE(
      archive.OpenMultiFile(Pointer<KYFile>(), Write("second", Archive({{"two", "2"}})).c_str()));
  EXPECT_EQ(first->calls.back(), "CloseFile");
  EXPECT_FALSE(archive.IsFileOpened());
  EXPECT_EQ(Names(archive), std::vector<std::string>{"two"});
  EXPECT_FALSE(archive.OpenFile("one", "rb"));
  EXPECT_TRUE(archive.CloseMultiFile());
  EXPECT_FALSE(archive.CloseMultiFile());
}

int gOpens = 0;
std::FILE* CountingOpen(const char* path, const char* mode) {
  ++gOpens;
  return RXM::sys::RealCalls().open(path, mode);
}

TEST_F(MultiFileTest, ReadsThroughTheCallersFileWithoutMakingADiskFile) {
  SystemCallsOverride calls;
  calls->open = CountingOpen;
  gOpens = 0;
  Pointer<MemoryFile> file(new MemoryFile(Archive({{"a", "xyz"}})));
  {
    MultiFile archive;
    ASSERT_TRUE(archive.OpenMultiFile(file, "ARCHIVE\n#10"));
    EXPECT_EQ(file->calls.front(), "OpenFile(ARCHIVE\n#10,rb)");
    EXPECT_EQ(file->GetReferenceCount(), 2);
    ASSERT_TRUE(archive.OpenFile("A", "rb"));
    char data[3];
    EXPECT_EQ(archive.ReadData(data, 3, 1), 1u);
    EXPECT_EQ(std::string(data, 3), "xyz");
  }
  EXPECT_EQ(gOpens, 0);
  EXPECT_EQ(file->GetReferenceCount(), 1);
  EXPECT_FALSE(file->open);  // closed with the archive

  // A refused archive leaves the caller's file open for the caller.
  Pointer<MemoryFile> bad(new MemoryFile(BytesOf("nope")));
  MultiFile archive;
  EXPECT_FALSE(archive.OpenMultiFile(bad, "bad"));
  EXPECT_TRUE(bad->open);
  EXPECT_EQ(bad->GetReferenceCount(), 1);
}

TEST_F(MultiFileTest, CopiesShareTheArchiveFileAndTheEntries) {
  Pointer<MultiFile> archive(
      new MultiFile(Write("c", Archive({{"a", "abc"}, {"b", "de"}})).c_str()));
  ASSERT_TRUE(archive->OpenFile("b", "rb"));
  Pointer<MultiFile> copy(new MultiFile(*archive));
  EXPECT_EQ(copy->GetReferenceCount(), 1);
  EXPECT_TRUE(copy->IsMultiFileOpen());
  EXPECT_TRUE(copy->IsFileOpened());
  EXPECT_EQ(copy->GetDirectory().GetAt(1), archive->GetDirectory().GetAt(1));
  ASSERT_TRUE(copy->OpenFile("A", "rb"));
  char data[3];
  EXPECT_EQ(copy->ReadData(data, 3, 1), 1u);

  MultiFile assigned;
  assigned = *copy;
  EXPECT_EQ(Names(assigned), (std::vector<std::string>{"a", "b"}));

  // Closing the archive through the copy closes the file under the original's
  // open entry: the original then neither reads nor seeks it.
  ASSERT_TRUE(copy->CloseMultiFile());
  EXPECT_TRUE(archive->IsFileOpened());
  EXPECT_EQ(archive->ReadData(data, 1, 1), 0u);
  EXPECT_FALSE(archive->Seek(0, 0));
  EXPECT_FALSE(archive->OpenFile("a", "rb"));
}

// --- Element streams --------------------------------------------------------

class ElementStreamTest : public MultiFileTest {
 protected:
  void SetUp() override {
    archive = new MultiFile(Write("s", Archive({{"ten", "0123456789"},
                                                {"Readme.TXT", "first"},
                                                {"empty", ""},
                                                {"readme.txt", "second"},
                                                {"caf\xC3\xA9", "e"}}))
                                .c_str());
    ASSERT_TRUE(archive->IsMultiFileOpen());
  }
  std::string ReadAllOf(const char* name) {
    EXPECT_TRUE(archive->OpenFile(name, "rb")) << name;
    return ReadRest(*archive);
  }
  Pointer<MultiFile> archive;
};

TEST_F(ElementStreamTest, NamesFoldOnlyAsciiLettersAndTheLastEqualNameWins) {
  EXPECT_EQ(ReadAllOf("README.txt"), "second");
  EXPECT_EQ(ReadAllOf("TEN"), "0123456789");
  EXPECT_EQ(ReadAllOf("CAF\xC3\xA9"), "e");
  for (const char* other : {"CAF\xC3\x89", "ten ", "te", "readme_txt", "", "./ten"}) {
    EXPECT_FALSE(archive->OpenFile(other, "rb")) << other;
  }
  EXPECT_FALSE(archive->OpenFile(std::string(70, 'n').c_str(), "rb"));
}

TEST_F(ElementStreamTest, WritingModesAreRefusedExactly) {
  for (const char* mode : {"w", "a", "at", "ab", "wt", "r+t", "wb", "r+b"}) {
    ASSERT_TRUE(archive->OpenFile("ten", "rb"));
    EXPECT_EQ(Thrown([&] { archive->OpenFile("ten", mode); }),
              "ERROR:\n\nA file element from a multi-file was opened for writing! This is not "
              "allowed by the RXM framework.\n\nMulti-File filename: " +
                  dir.Path("s"))
        << mode;
    EXPECT_FALSE(archive->IsFileOpened()) << mode;
  }
  for (const char* mode : {"rb", "r", "WB", "wb+", "w+", "", "r+", "rt"}) {
    EXPECT_TRUE(archive->OpenFile("ten", mode)) << mode;
  }
  MultiFile closed;
  EXPECT_FALSE(closed.OpenFile("ten", "wb"));
}

TEST_F(ElementStreamTest, AFailedOpenLeavesNoEntryOpen) {
  ASSERT_TRUE(archive->OpenFile("ten", "rb"));
  EXPECT_FALSE(archive->OpenFile("nothing", "rb"));
  EXPECT_FALSE(archive->IsFileOpened());
  char data[1];
  EXPECT_EQ(archive->ReadData(data, 1, 1), 0u);
  EXPECT_EQ(archive->GetFileSize(), 0u);
  EXPECT_TRUE(archive->EndOfFile());
  EXPECT_FALSE(archive->Seek(0, 0));
}

TEST_F(ElementStreamTest, ReadsWholeItemsOnly) {
  ASSERT_TRUE(archive->OpenFile("ten", "rb"));
  char data[12] = {};
  EXPECT_EQ(archive->ReadData(data, 4, 3), 2u);
  EXPECT_EQ(archive->GetPosition(), 8);
  EXPECT_EQ(std::string(data, 8), "01234567");
  EXPECT_EQ(archive->ReadData(data, 4, 1), 0u);
  EXPECT_FALSE(archive->EndOfFile());
  EXPECT_EQ(archive->ReadData(data, 0, 5), 0u);
  EXPECT_EQ(archive->GetPosition(), 8);
  EXPECT_EQ(archive->ReadData(data, 1, 4), 2u);
  EXPECT_EQ(std::string(data, 2), "89");
  EXPECT_TRUE(archive->EndOfFile());
}

TEST_F(ElementStreamTest, WritingIntoAnEntryIsRefusedAndChangesNothing) {
  EXPECT_EQ(archive->WriteData("x", 1, 1), 0u);
  ASSERT_TRUE(archive->OpenFile("ten", "rb"));
  char data[2];
  archive->ReadData(data, 1, 2);
  EXPECT_EQ(Thrown([&] { archive->WriteData("x", 0, 0); }),
            "ERROR:\n\nAttempted to write into a file element from a multi-file! This is not "
            "allowed by the RXM framework.\n\nMulti-File filename: " +
                dir.Path("s"));
  EXPECT_EQ(archive->ReadData(data, 1, 2), 2u);
  EXPECT_EQ(std::string(data, 2), "23");
}

TEST_F(ElementStreamTest, CloseKeepsTheLastPosition) {
  ASSERT_TRUE(archive->OpenFile("ten", "rb"));
  ASSERT_TRUE(archive->Seek(-4, 2));
  char data[4];
  EXPECT_EQ(archive->ReadData(data, 1, 4), 4u);
  EXPECT_EQ(std::string(data, 4), "6789");
  EXPECT_TRUE(archive->CloseFile());
  EXPECT_FALSE(archive->CloseFile());
  EXPECT_EQ(archive->GetPosition(), 10);
}

// Every row of the clamping table: the new position, and the one move of the
// archive's file that gets there. The entry is 10 bytes at offset 88.
struct SeekCase {
  long start;
  long offset;
  int origin;
  bool result;
  long position;
  std::string call;  // "" when the archive's file must not move
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
  };
  for (const SeekCase& c : cases) {
    Pointer<MemoryFile> file(new MemoryFile(Archive({{"e", "0123456789"}})));
    MultiFile archive;
    ASSERT_TRUE(archive.OpenMultiFile(file, "m"));
    ASSERT_TRUE(archive.OpenFile("e", "rb"));
    char data[16];
    archive.ReadData(data, 1, static_cast<unsigned int>(c.start));
    file->calls.clear();
    const std::string label = std::to_string(c.offset) + " from " + std::to_string(c.origin);
    EXPECT_EQ(archive.Seek(c.offset, c.origin), c.result) << label;
    EXPECT_EQ(archive.GetPosition(), c.position) << label;
    EXPECT_EQ(file->calls,
              c.call.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.call})
        << label;
    EXPECT_EQ(file->position, 88 + c.position) << label;
  }
}

TEST(ElementSeekTest, ARefusedMoveLeavesThePosition) {
  // The archive's file stays open but refuses every move: the entry's Seek
  // asks it once, reports the refusal and keeps its position.
  Pointer<MemoryFile> file(new MemoryFile(Archive({{"e", "0123456789"}})));
  MultiFile archive;
  ASSERT_TRUE(archive.OpenMultiFile(file, "m"));
  ASSERT_TRUE(archive.OpenFile("e", "rb"));
  ASSERT_TRUE(archive.Seek(5, 0));
  file->refuseSeek = true;
  file->calls.clear();
  EXPECT_FALSE(archive.Seek(2, 0));
  EXPECT_EQ(file->calls, std::vector<std::string>{"Seek(90,0)"});
  EXPECT_TRUE(file->open);
  EXPECT_EQ(archive.GetPosition(), 5);
}

}  // namespace
