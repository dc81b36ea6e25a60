// CheckLayout: one case per kind of finding, and none for an archive the
// library writes; MultiFile's checks over an open archive.
#include <gtest/gtest.h>

#include <sys/stat.h>
#if defined(_WIN32)
#include <direct.h>
#endif

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;
using RXM::kymf::FindingKind;
using RXM::kymf::Severity;

DirectoryRecord At(const char* name, std::int32_t start, std::int32_t end) {
  DirectoryRecord record = RXM::kymf::NewRecord(name);
  record.dataStart = start;
  record.dataEnd = end;
  return record;
}

struct LayoutCase {
  const char* label;
  std::vector<DirectoryRecord> records;
  std::int64_t fileSize;
  int entry;  // of the one finding
  int other;
  FindingKind kind;
  Severity severity;
  const char* reason;  // a part of its reason
};

LayoutCase Finds(const char* label, std::vector<DirectoryRecord> records, std::int64_t fileSize,
                 int entry, int other, FindingKind kind, Severity severity, const char* reason) {
  return {label, std::move(records), fileSize, entry, other, kind, severity, reason};
}

// Two records take 8 + 160 = 168 bytes before their data.
const LayoutCase kLayoutCases[] = {
    Finds("unsafe name", {At("a", 168, 168), At("../b", 169, 169)}, 170, 1, -1,
          FindingKind::kUnsafeName, Severity::kError, ".."),
    Finds("path clash", {At("x", 168, 168), At("X/y", 169, 169)}, 170, 0, 1,
          FindingKind::kPathClash, Severity::kError, "record 1 (X/y)"),
    Finds("shadowed name", {At("Readme.txt", 168, 168), At("README.TXT", 169, 169)}, 170, 1, 0,
          FindingKind::kShadowedName, Severity::kWarning, "shadows record 0 (Readme.txt)"),
    Finds("data past the end", {At("a", 168, 168), At("b", 169, 180)}, 170, 1, -1,
          FindingKind::kDataPastEnd, Severity::kError,
          "data end at byte 180 past the end of the file (170 bytes)"),
    Finds("negative size", {At("a", 168, 168), At("b", 171, 169)}, 170, 1, -1,
          FindingKind::kNegativeSize, Severity::kError, "before the start"),
    Finds("data in the header", {At("a", 4, 4), At("b", 168, 169)}, 170, 0, -1,
          FindingKind::kDataInHeader, Severity::kError, "inside the header"),
    Finds("overlap", {At("a", 168, 169), At("b", 169, 169)}, 170, 1, 0, FindingKind::kOverlap,
          Severity::kWarning, "record 0 (a)"),
    Finds("gap", {At("a", 168, 168), At("b", 170, 170)}, 171, 1, -1, FindingKind::kLayoutBreak,
          Severity::kWarning, "not at byte 169"),
    Finds("bytes after the last entry", {At("a", 168, 168), At("b", 169, 169)}, 175, 1, -1,
          FindingKind::kLayoutBreak, Severity::kWarning, "5 bytes after"),
};

class CheckLayoutTest : public testing::TestWithParam<LayoutCase> {};

// The one finding of the case's kind; data out of place also break the
// layout, so layout breaks may come beside it, nothing else.
TEST_P(CheckLayoutTest, FindsTheOneFault) {
  const LayoutCase& c = GetParam();
  const auto findings =
      RXM::kymf::CheckLayout(c.records.data(), static_cast<int>(c.records.size()), c.fileSize);
  std::vector<RXM::kymf::Finding> found;
  for (const auto& finding : findings) {
    if (finding.kind == c.kind) {
      found.push_back(finding);
    } else {
      EXPECT_EQ(finding.kind, FindingKind::kLayoutBreak) << finding.reason;
    }
  }
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].entry, c.entry);
  EXPECT_EQ(found[0].other, c.other);
  EXPECT_EQ(found[0].severity, c.severity);
  EXPECT_NE(found[0].reason.find(c.reason), std::string::npos) << found[0].reason;
  EXPECT_STRNE(RXM::kymf::DescribeFinding(c.kind), "unknown finding");
}

INSTANTIATE_TEST_SUITE_P(Kinds, CheckLayoutTest, testing::ValuesIn(kLayoutCases),
                         CaseName<LayoutCase>);

TEST(CheckLayoutTest, AnArchiveTheLibraryWroteHasNoFindings) {
  TempDir dir;
  const std::string path = dir.Path("clean.kymf");
  MultiFileWriter writer(path.c_str());
  writer.AddBytes("docs/readme.txt", "hello", 5);
  writer.AddBytes("docs/licence.txt", "free", 4);
  writer.AddBytes("game.exe", "MZ", 2);
  ASSERT_TRUE(writer.Commit()) << writer.GetError();
  MultiFile archive(path.c_str());
  EXPECT_TRUE(archive.CheckArchive().empty());
  EXPECT_EQ(archive.GetArchiveSize(), static_cast<std::int64_t>(ReadAll(path).size()));
  EXPECT_TRUE(archive.CheckEntry("DOCS/README.TXT").IsOk());
  archive.CloseMultiFile();
  EXPECT_TRUE(archive.CheckArchive().empty());
  EXPECT_EQ(archive.GetArchiveSize(), -1);
  EXPECT_EQ(archive.CheckEntry("game.exe").GetCode(), RXM::ErrorCode::kNotOpen);
}

TEST(CheckLayoutTest, CheckEntryNamesTheByteWhereTheFileEnds) {
  TempDir dir;
  const std::string path = dir.Path("cut.kymf");
  Bytes bytes = Archive({{"whole", "abc"}, {"cut", "12345"}});
  bytes.resize(bytes.size() - 2);
  WriteAll(path, bytes);
  MultiFile archive(path.c_str());
  EXPECT_TRUE(archive.CheckEntry("whole").IsOk());
  EXPECT_EQ(archive.CheckEntry("nothing").GetCode(), RXM::ErrorCode::kNoSuchEntry);
  const RXM::Status cut = archive.CheckEntry("cut");
  EXPECT_EQ(cut.GetCode(), RXM::ErrorCode::kTruncated);
  EXPECT_EQ(std::string(cut.GetText()), path + ": cut: truncated at byte 174");
  const auto findings = archive.CheckArchive();
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].kind, FindingKind::kDataPastEnd);
}

TEST(CheckLayoutTest, ScalesToAMillionRecords) {
  std::vector<DirectoryRecord> records;
  const std::int32_t count = 1000000;
  std::int64_t start = RXM::kymf::DirectoryEnd(count);
  for (std::int32_t i = 0; i < count; ++i) {
    const std::string name = "d" + std::to_string(i % 100) + "/f" + std::to_string(i);
    records.push_back(At(name.c_str(), static_cast<std::int32_t>(start + i),
                         static_cast<std::int32_t>(start + i)));
  }
  EXPECT_TRUE(RXM::kymf::CheckLayout(records.data(), count, start + count).empty());
}

// --- Why an archive is not opened -------------------------------------------

// A file that claims to be larger than it is, so that the count passes and
// the records run out.
class LyingSizeFile : public MemoryFile {
 public:
  using MemoryFile::MemoryFile;
  unsigned int GetFileSize() override { return 1u << 20; }
};

struct OpenCase {
  const char* label;
  // Makes what is opened under `path`: a file written there, or a caller's
  // file returned.
  Pointer<KYFile> (*make)(const std::string& path);
  RXM::ErrorCode code;
  bool debuggerLine;  // "Unable to open multi-file: ..." printed
};

// The refusals that bytes alone give are in the hostile archive corpus.
// Whether the archive's DiskFile opens a folder at all: fopen does and the
// first read fails; Windows' C runtime refuses it, and the failed open is
// reported through the debugger.
#if defined(_WIN32)
constexpr bool kFolderOpens = false;
#else
constexpr bool kFolderOpens = true;
#endif

const OpenCase kOpenCases[] = {
    {"missing", [](const std::string&) { return Pointer<KYFile>(); }, RXM::ErrorCode::kNoSuchFile,
     true},
    {"a folder",
     [](const std::string& path) {
#if defined(_WIN32)
       EXPECT_EQ(_mkdir(path.c_str()), 0);
#else
       EXPECT_EQ(mkdir(path.c_str(), 0700), 0);
#endif
       return Pointer<KYFile>();
     },
     RXM::ErrorCode::kIsAFolder, !kFolderOpens},
    {"short record",
     [](const std::string&) {
       return Pointer<KYFile>(new LyingSizeFile(With(Header(2), 8, Record("a", 0, 0))));
     },
     RXM::ErrorCode::kShortRecord, false},
};

class OpenStatusTest : public testing::TestWithParam<OpenCase> {};

TEST_P(OpenStatusTest, SaysWhyWithTheArchivesName) {
  const OpenCase& c = GetParam();
  TempDir dir;
  DebuggerCapture debugger;
  const std::string path = dir.Path("archive.kymf");
  const Pointer<KYFile> file = c.make(path);
  MultiFile archive;
  EXPECT_FALSE(archive.OpenMultiFile(file, path.c_str()));
  EXPECT_EQ(archive.GetStatus().GetCode(), c.code) << archive.GetStatus().GetText();
  EXPECT_EQ(std::string(archive.GetStatus().GetText()).rfind(path + ": ", 0), 0u)
      << archive.GetStatus().GetText();
  EXPECT_EQ(debugger->printed.size(), c.debuggerLine ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Causes, OpenStatusTest, testing::ValuesIn(kOpenCases), CaseName<OpenCase>);

TEST(OpenStatusTest, AFileTheSystemRefusesCarriesItsReason) {
  TempDir dir;
  DebuggerCapture debugger;
  const std::string path = dir.Path("locked.kymf");
  WriteAll(path, Archive({{"a", "x"}}));
  SystemCallsOverride calls;
  calls->open = [](const char*, const char*) -> std::FILE* {
    errno = EACCES;
    return nullptr;
  };
  MultiFile archive;
  EXPECT_FALSE(archive.OpenMultiFile(Pointer<KYFile>(), path.c_str()));
  EXPECT_EQ(archive.GetStatus().GetCode(), RXM::ErrorCode::kCannotOpen);
  EXPECT_EQ(std::string(archive.GetStatus().GetText()), path + ": " + std::strerror(EACCES));
}

}  // namespace
