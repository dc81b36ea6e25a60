// The helpers of the kymf tool: printing names, matching patterns, the
// entry-name rule and the folder that extraction writes into.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "backends/FaultySystem.h"
#include "support/NameEscaping.h"
#include "support/Selection.h"
#include "support/TargetFolder.h"

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using kymf::TargetFolder;

namespace {

TEST(NameEscapingTest, PlainAndJsonForms) {
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"a/b.txt", "a/b.txt", "\"a/b.txt\""},
      {"line\nfeed", "line\\nfeed", "\"line\\nfeed\""},
      {"\x1b[2J", "\\033[2J", "\"\\u001b[2J\""},
      {"back\\slash", "back\\\\slash", "\"back\\\\slash\""},
      {"quote\"", "quote\"", "\"quote\\\"\""},
      {"del\x7f", "del\\177", "\"del\\u007f\""},
      {"caf\xc3\xa9", "caf\xc3\xa9", "\"caf\xc3\xa9\""},
      {"bad\xe9", "bad\\351", "\"bad\\u00e9\""},
      {"cut\xe2\x82", "cut\\342\\202", "\"cut\\u00e2\\u0082\""},
      {"overlong\xc0\xaf", "overlong\\300\\257", "\"overlong\\u00c0\\u00af\""},
      {"surrogate\xed\xa0\x80", "surrogate\\355\\240\\200", "\"surrogate\\u00ed\\u00a0\\u0080\""},
      {"c1\xc2\x9b", "c1\\302\\233", "\"c1\xc2\x9b\""},
      {std::string("nul\0x", 5), "nul\\000x", "\"nul\\u0000x\""},
      {"", "", "\"\""}};
  for (const auto& [name, plain, json] : cases) {
    EXPECT_EQ(kymf::EscapeName(name), plain) << testing::PrintToString(name);
    EXPECT_EQ(kymf::JsonString(name), json) << testing::PrintToString(name);
  }
}

TEST(GlobTest, MatchesWholeNames) {
  const std::vector<std::tuple<const char*, const char*, bool>> cases = {
      {"a.txt", "a.txt", true},
      {"A.TXT", "a.txt", true},
      {"a.txt", "b.txt", false},
      {"*.txt", "a.txt", true},
      {"*.txt", "dir/a.txt", false},
      {"dir/*", "dir/a", true},
      {"dir/*", "dir/sub/a", false},
      {"dir/**", "dir/sub/a", true},
      {"**/*.txt", "a.txt", true},
      {"**/*.txt", "x/y/a.txt", true},
      {"**.txt", "x/a.txt", true},
      {"?.txt", "a.txt", true},
      {"?", "/", false},
      {"a?c", "abc", true},
      {"*", "", true},
      {"", "a", false},
      {"a*b*c*d*e*f*g", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
      {"\xc3\xa9", "\xc3\x89", false}};
  for (const auto& [pattern, name, matches] : cases) {
    EXPECT_EQ(kymf::GlobMatch(pattern, name), matches) << pattern << " against " << name;
  }
}

// Extraction through the kymf tool (kymf.bats) covers the rest: links,
// existing files and folders, and missing folders.
class TargetFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("kymf-target-" +
            std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root);
    fs::create_directories(root / "out");
    ASSERT_TRUE(target.Open((root / "out").string()).IsOk());
  }
  void TearDown() override { fs::remove_all(root); }

  RXM::Status Place(const std::string& name, const TargetFolder::Fill& fill) {
    bool kept = true;
    const RXM::Status status = target.Place(name, TargetFolder::Existing::kReplace, fill, &kept);
    EXPECT_FALSE(kept) << name;
    return status;
  }
  static RXM::Status Fill(const TargetFolder::Write& write) {
    return write("new", 3) ? RXM::Status::Ok() : RXM::Status(RXM::ErrorCode::kWriteFailed, "write");
  }

  fs::path root;
  testing_support::FaultySystem system;
  TargetFolder target{system};
};

TEST_F(TargetFolderTest, FailedFillLeavesNoFile) {
  const RXM::Status status = Place("f", [](const TargetFolder::Write& write) {
    write("part", 4);
    return RXM::Status(RXM::ErrorCode::kTruncated, "t.kymf: f: truncated at byte 9");
  });
  EXPECT_EQ(status.GetCode(), RXM::ErrorCode::kTruncated);
  EXPECT_TRUE(fs::is_empty(root / "out"));
}

// A file is written under a temporary name beside its target,
// ".<name>.kymf~<process>-<attempt>"; when other files hold every such name,
// the placement fails and leaves them as they are.
TEST_F(TargetFolderTest, TakenTemporaryNamesAreNeitherWrittenNorRemoved) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ofstream(root / "out" /
                  (".f.kymf~" + std::to_string(getpid()) + "-" + std::to_string(attempt)))
        << "theirs";
  }
  EXPECT_EQ(Place("f", Fill).GetCode(), RXM::ErrorCode::kCannotOpen);
  int theirs = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(root / "out")) {
    theirs += fs::file_size(entry.path()) == 6 ? 1 : 0;
  }
  EXPECT_EQ(theirs, 100);
  EXPECT_FALSE(fs::exists(root / "out" / "f"));
}

// Each of the file's own calls can fail; the failure names the file, and
// leaves neither a file under a new name, nor a temporary, nor a changed
// file under a replaced one.
TEST_F(TargetFolderTest, FailedCallsLeaveTheFolderAsItWas) {
  using Fault = std::function<void(testing_support::FaultySystem&)>;
  const std::vector<std::pair<const char*, Fault>> faults = {
      {"examine", [](auto& faulty) { faulty.inspectInError = EACCES; }},
      {"create", [](auto& faulty) { faulty.createInError = ENOSPC; }},
      {"write", [](auto& faulty) { faulty.writesBeforeFailing = 0; }},
      {"close", [](auto& faulty) { faulty.failClose = true; }},
      {"rename", [](auto& faulty) { faulty.renameInError = EACCES; }}};
  std::ofstream(root / "out" / "old") << "old";
  for (const auto& [call, fault] : faults) {
    for (const char* name : {"new", "old"}) {
      system.Heal();
      fault(system);
      // The write's own answer is not looked at: the folder knows it failed.
      const RXM::Status status = Place(name, [](const TargetFolder::Write& write) {
        write("new", 3);
        return RXM::Status::Ok();
      });
      EXPECT_EQ(status.GetCode(), RXM::ErrorCode::kCannotOpen) << call << " " << name;
      EXPECT_EQ(std::string(status.GetText()).rfind(target.Shown(name) + ": ", 0), 0U)
          << status.GetText();
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "out"), fs::directory_iterator()), 1)
        << call;
    std::ifstream old(root / "out" / "old");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "old") << call;
  }
  system.Heal();
  EXPECT_TRUE(Place("old", Fill).IsOk());
  EXPECT_TRUE(system.openStreams.empty());
}

// The last guard: its callers refuse these names before they get here.
TEST_F(TargetFolderTest, UnsafeNamesAreRefusedBeforeAnythingIsTouched) {
  for (const char* name : {"../x", "/abs", "a//b", "C:x", "a\\b", ""}) {
    EXPECT_EQ(Place(name, Fill).GetCode(), RXM::ErrorCode::kNameRefused) << name;
  }
  EXPECT_TRUE(fs::is_empty(root / "out"));
  EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);
}

}  // namespace
