// CheckLayout: one case per kind of finding, and none for an archive the
// library writes; MultiFile's checks over an open archive.
#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "multifile/ArchiveBytes.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ArchiveLayout.h"

namespace {

using namespace testing_support;
using RXM::multifile::FindingKind;
using RXM::multifile::Severity;

DirectoryRecord At(const char* name, std::int32_t start, std::int32_t end) {
  DirectoryRecord record = RXM::multifile::NewRecord(name);
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

// Printed by what names the case: googletest would dump its bytes, unset
// padding among them.
void PrintTo(const LayoutCase& c, std::ostream* out) {
  *out << c.label;
}

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
      RXM::multifile::CheckLayout(c.records.data(), static_cast<int>(c.records.size()), c.fileSize);
  std::vector<RXM::multifile::Finding> found;
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
  EXPECT_STRNE(RXM::multifile::DescribeFinding(c.kind), "unknown finding");
}

INSTANTIATE_TEST_SUITE_P(Kinds, CheckLayoutTest, testing::ValuesIn(kLayoutCases),
                         CaseName<LayoutCase>);

// An archive as the library writes it (MultiFileWriterTest holds the writer to
// these bytes), an empty entry in it, has no findings; cut short, its last
// entry is truncated at the byte where the file ends.
TEST(CheckLayoutTest, AnArchiveAsTheLibraryWritesItHasNoFindingsUntilItIsCut) {
  TempDir dir;
  Bytes bytes = Archive({{"docs/readme.txt", "hello"},
                         {"empty", ""},
                         {"docs/licence.txt", "free"},
                         {"game.exe", "MZ"}});
  const std::string path = Written(dir, "clean.kymf", bytes);
  MultiFile archive(path.c_str());
  EXPECT_TRUE(archive.CheckArchive().empty());
  EXPECT_EQ(archive.GetArchiveSize(), static_cast<std::int64_t>(bytes.size()));
  EXPECT_TRUE(archive.CheckEntry("DOCS/README.TXT").IsOk());
  archive.CloseMultiFile();
  EXPECT_EQ(archive.GetDirectory().GetCount(), 0);
  EXPECT_TRUE(archive.CheckArchive().empty());
  EXPECT_EQ(archive.GetArchiveSize(), -1);
  EXPECT_EQ(archive.CheckEntry("game.exe").GetCode(), RXM::ErrorCode::kNotOpen);

  bytes.pop_back();
  WriteAll(path, bytes);
  ASSERT_TRUE(archive.OpenMultiFile(Pointer<KYFile>(), path.c_str()));
  EXPECT_TRUE(archive.CheckEntry("docs/licence.txt").IsOk());
  EXPECT_EQ(archive.CheckEntry("nothing").GetCode(), RXM::ErrorCode::kNoSuchEntry);
  const RXM::Status cut = archive.CheckEntry("game.exe");
  EXPECT_EQ(cut.GetCode(), RXM::ErrorCode::kTruncated);
  EXPECT_EQ(std::string(cut.GetText()), path + ": game.exe: truncated at byte 338");
  const auto findings = archive.CheckArchive();
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].kind, FindingKind::kDataPastEnd);
}

// Kept findings are the first of the whole list, in its order, whatever
// order the checks find them in; the counts are of every finding.
TEST(CheckLayoutTest, ALimitKeepsTheFirstFindingsAndCountsTheRest) {
  const std::vector<DirectoryRecord> records = {At("../a", 4, 4), At("b", 300, 100), At("B", 0, -1),
                                                At("c", -5, -4)};
  const auto all = RXM::multifile::CheckLayout(records.data(), 4, 200);
  for (std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{3}, all.size()}) {
    const RXM::multifile::LayoutReport report =
        RXM::multifile::CheckLayout(records.data(), 4, 200, limit);
    ASSERT_EQ(report.first.size(), limit);
    EXPECT_EQ(report.total, static_cast<std::int64_t>(all.size()));
    EXPECT_EQ(report.errors, std::count_if(all.begin(), all.end(), [](const auto& f) {
                return f.severity == Severity::kError;
              }));
    for (std::size_t i = 0; i < limit; ++i) {
      EXPECT_EQ(report.first[i].entry, all[i].entry) << i;
      EXPECT_EQ(report.first[i].kind, all[i].kind) << i;
      EXPECT_EQ(report.first[i].reason, all[i].reason) << i;
    }
  }
  EXPECT_EQ(RXM::multifile::DescribeImpossibleRange(records[1]),
            "data end at byte 100 before the start at byte 300");
  EXPECT_EQ(RXM::multifile::DescribeImpossibleRange(records[3]),
            "data start at byte -5 before the start of the file");
  EXPECT_EQ(RXM::multifile::DescribeImpossibleRange(records[2]), "");
}

TEST(CheckLayoutTest, ScalesToAMillionRecords) {
  std::vector<DirectoryRecord> records;
  const std::int32_t count = 1000000;
  std::int64_t start = RXM::multifile::DirectoryEnd(count);
  for (std::int32_t i = 0; i < count; ++i) {
    const std::string name = "d" + std::to_string(i % 100) + "/f" + std::to_string(i);
    records.push_back(At(name.c_str(), static_cast<std::int32_t>(start + i),
                         static_cast<std::int32_t>(start + i)));
  }
  EXPECT_TRUE(RXM::multifile::CheckLayout(records.data(), count, start + count).empty());
}

// RXM::CheckSafeName's rule, with the longest name an archive holds: each
// refusal ("" for none) and the names that get it; a name too long is
// refused for its length whatever else it holds.
TEST(EntryNameRuleTest, RefusesWhatExtractionWouldRefuse) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"", {"a.txt", "dir/sub/a", "..a/b..", "1:b", "\xc3\xa9t\xc3\xa9", std::string(69, 'x')}},
      {"name longer than 69 bytes", {std::string(70, 'x'), "/" + std::string(69, 'x')}},
      {"name refused: is empty", {""}},
      {"name refused: is absolute", {"/abs"}},
      {"name refused: begins with a drive letter", {"a:b", "C:x", "c:/x", "C:\\x"}},
      {"name refused: holds a backslash", {"a\\b"}},
      {"name refused: has a \"..\" component", {"..", "../evil", "a/../../x", "a/.."}},
      {"name refused: has an empty or \".\" component", {".", "a/./b", "a//b", "a/"}},
      {"name refused: holds a control character",
       {std::string("a\0b", 3), "a\nb", "\x1b[31m", "del\x7f"}}};
  for (const auto& [refusal, names] : cases) {
    for (const std::string& name : names) {
      const RXM::Status status = RXM::multifile::CheckEntryName(name.data(), name.size(), "n");
      EXPECT_EQ(status.GetText(), refusal.empty() ? "" : "n: " + refusal)
          << testing::PrintToString(name);
    }
  }
}

}  // namespace
