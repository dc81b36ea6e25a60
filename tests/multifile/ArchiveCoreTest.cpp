// The one open archive every reader holds: how the file it was opened
// through decides how entries are read, why an open fails, and where an
// entry's bytes lie for a reader that hands them on without copying.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "backends/FaultySystem.h"
#include "files/EntryStream.h"
#include "multifile/ArchiveBytes.h"
#include "multifile/ArchiveCore.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

using namespace testing_support;
using RXM::ErrorCode;
using RXM::multifile::ArchiveCore;

std::shared_ptr<const ArchiveCore> OpenCore(Pointer<KYFile> file, const std::string& name,
                                            RXM::Status& why, bool& reached) {
  return ArchiveCore::Open(RXM::sys::System::Default(), std::move(file), name, why, reached);
}

TEST(ArchiveCoreTest, EntriesOfADiskArchiveAreReadByPositionEvenAfterItsFileCloses) {
  TempDir dir;
  const std::string path = Written(dir, "a.kymf", Archive({{"one", "first"}, {"two", "second"}}));
  RXM::Status why;
  bool reached = false;
  const auto core = OpenCore(Pointer<KYFile>(), path, why, reached);
  ASSERT_TRUE(core) << why.GetText();
  ASSERT_TRUE(core->Reader());
  ASSERT_TRUE(core->File()->CloseFile());
  RXM::ErrorCode code = ErrorCode::kOk;
  const MultiFileElement* two = core->Find("TWO", code);
  ASSERT_EQ(code, ErrorCode::kOk);
  Pointer<KYFile> entry = core->OpenEntry(*two, &why);
  ASSERT_FALSE(entry.IsNull());
  EXPECT_EQ(ReadRest(*entry), "second");
}

// A caller's file has no second handle: each entry is copied out through it,
// and the file is put back where the caller left it.
TEST(ArchiveCoreTest, EntriesOfACallersFileAreCopiedAndItsPositionKept) {
  Pointer<MemoryFile> file(new MemoryFile(Archive({{"one", "first"}, {"two", "second"}})));
  RXM::Status why;
  bool reached = false;
  const auto core = OpenCore(file, "mem", why, reached);
  ASSERT_TRUE(core) << why.GetText();
  EXPECT_FALSE(core->Reader());
  EXPECT_EQ(core->Duplicate(), RXM::sys::kNoHandle);
  ASSERT_TRUE(file->Seek(3, 0));
  RXM::ErrorCode code = ErrorCode::kOk;
  const MultiFileElement* one = core->Find("one", code);
  Pointer<KYFile> entry = core->OpenEntry(*one, &why);
  ASSERT_FALSE(entry.IsNull());
  EXPECT_EQ(file->GetPosition(), 3);
  ASSERT_TRUE(file->CloseFile());
  EXPECT_EQ(ReadRest(*entry), "first");  // the copy is the stream's own
  EXPECT_TRUE(core->OpenEntry(*one, &why).IsNull());
  EXPECT_EQ(why.GetCode(), ErrorCode::kReadFailed);
  EXPECT_EQ(std::string(why.GetText()).rfind("mem: one", 0), 0u) << why.GetText();
}

struct OpenCase {
  std::string label;
  testing_support::Bytes bytes;  // written as the archive; none: no file at all
  bool reached;
  ErrorCode code;
};

// Printed by its label: the bytes of the struct hold padding.
std::ostream& operator<<(std::ostream& out, const OpenCase& c) {
  return out << c.label;
}

class ArchiveCoreOpenTest : public testing::TestWithParam<OpenCase> {};

TEST_P(ArchiveCoreOpenTest, SaysWhyAndWhetherTheFileOpened) {
  const OpenCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.Path("x.kymf");
  if (!c.bytes.empty()) {
    WriteAll(path, c.bytes);
  }
  RXM::Status why;
  bool reached = !c.reached;
  const auto core = OpenCore(Pointer<KYFile>(), path, why, reached);
  EXPECT_EQ(core == nullptr, c.code != ErrorCode::kOk);
  EXPECT_EQ(why.GetCode(), c.code) << why.GetText();
  EXPECT_EQ(reached, c.reached);
  if (!why.IsOk()) {
    EXPECT_NE(std::string(why.GetText()).find(path), std::string::npos) << why.GetText();
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ArchiveCoreOpenTest,
                         testing::Values(OpenCase{"Missing", {}, false, ErrorCode::kNoSuchFile},
                                         OpenCase{"NotAnArchive", BytesOf("PK\x03\x04 zip"), true,
                                                  ErrorCode::kNotAnArchive},
                                         OpenCase{"CountBeyondFile", Header(3), true,
                                                  ErrorCode::kCountBeyondFile},
                                         OpenCase{"Empty", Header(0), true, ErrorCode::kOk}),
                         CaseName<OpenCase>);

#if !defined(_WIN32)
TEST(ArchiveCoreTest, AFolderIsRefusedAsOne) {
  TempDir dir;
  RXM::Status why;
  bool reached = false;
  std::filesystem::create_directory(dir.Path("folder.kymf"));
  EXPECT_FALSE(OpenCore(Pointer<KYFile>(), dir.Path("folder.kymf"), why, reached));
  EXPECT_EQ(why.GetCode(), ErrorCode::kIsAFolder) << why.GetText();
}

// A server hands an entry's bytes on by the file's descriptor and an offset:
// that offset must be the entry's own first byte in the archive.
TEST(ArchiveCoreTest, AnEntryStreamSaysWhichFileAndOffsetItsBytesLieAt) {
  TempDir dir;
  const std::string path =
      Written(dir, "a.kymf", Archive({{"one", "first"}, {"two", "second bytes"}}));
  RXM::Status why;
  bool reached = false;
  const auto core = OpenCore(Pointer<KYFile>(), path, why, reached);
  ASSERT_TRUE(core) << why.GetText();
  RXM::ErrorCode code = ErrorCode::kOk;
  Pointer<KYFile> entry = core->OpenEntry(*core->Find("two", code), &why);
  std::uint64_t first = 0;
  const std::intptr_t handle = RXM::EntryFileHandle(*entry, &first);
  ASSERT_GE(handle, 0);
  std::string bytes(12, '\0');
  ASSERT_EQ(::pread(static_cast<int>(handle), &bytes[0], bytes.size(), static_cast<off_t>(first)),
            12);
  EXPECT_EQ(bytes, "second bytes");

  Pointer<MemoryFile> memory(new MemoryFile(Archive({{"one", "first"}})));
  const auto copied = OpenCore(memory, "mem", why, reached);
  ASSERT_TRUE(copied);
  Pointer<KYFile> copy = copied->OpenEntry(*copied->Find("one", code), &why);
  EXPECT_EQ(RXM::EntryFileHandle(*copy, &first), -1);    // memory: nothing to hand on
  EXPECT_EQ(RXM::EntryFileHandle(*memory, &first), -1);  // no entry stream at all
}
#endif

// Every reader asks the same rule and gets the same reason.
TEST(ArchiveCoreTest, AnEntryCutShortIsFoundButRefusedWithWhere) {
  TempDir dir;
  const std::string path = Written(dir, "a.kymf", Raw({{"cut", 88, 187}}, "only ten b"));
  RXM::Status why;
  bool reached = false;
  const auto core = OpenCore(Pointer<KYFile>(), path, why, reached);
  ASSERT_TRUE(core) << why.GetText();
  RXM::ErrorCode code = ErrorCode::kOk;
  const MultiFileElement* cut = core->Find("cut", code);
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(code, ErrorCode::kTruncated);
  const RXM::Status readable = core->Readable(*cut);
  EXPECT_EQ(readable.GetCode(), ErrorCode::kTruncated);
  EXPECT_NE(std::string(readable.GetText()).find("truncated at byte 98"), std::string::npos)
      << readable.GetText();
  EXPECT_EQ(std::string(core->Explain(code, "cut", cut).GetText()), readable.GetText());
  EXPECT_EQ(core->Find("gone", code), nullptr);
  EXPECT_EQ(code, ErrorCode::kNoSuchEntry);
  EXPECT_EQ(std::string(core->Explain(code, "gone", nullptr).GetText()),
            path + ": gone: no such entry");
}

}  // namespace
