// The helpers of the kymf tool: printing names, matching patterns, the
// entry-name rule and the folder that extraction writes into.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

#include "support/EntryNameRule.h"
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

struct Escaping {
  std::string name;
  std::string plain;
  std::string json;
};

class NameEscapingTest : public testing::TestWithParam<Escaping> {};

TEST_P(NameEscapingTest, PlainAndJsonForms) {
  EXPECT_EQ(kymf::EscapeName(GetParam().name), GetParam().plain);
  EXPECT_EQ(kymf::JsonString(GetParam().name), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameEscapingTest,
    testing::Values(Escaping{"a/b.txt", "a/b.txt", "\"a/b.txt\""},
                    Escaping{"line\nfeed", "line\\nfeed", "\"line\\nfeed\""},
                    Escaping{"\x1b[2J", "\\033[2J", "\"\\u001b[2J\""},
                    Escaping{"back\\slash", "back\\\\slash", "\"back\\\\slash\""},
                    Escaping{"quote\"", "quote\"", "\"quote\\\"\""},
                    Escaping{"del\x7f", "del\\177", "\"del\\u007f\""},
                    Escaping{"caf\xc3\xa9", "caf\xc3\xa9", "\"caf\xc3\xa9\""},
                    Escaping{"bad\xe9", "bad\\351", "\"bad\\u00e9\""},
                    Escaping{"cut\xe2\x82", "cut\\342\\202", "\"cut\\u00e2\\u0082\""},
                    Escaping{"overlong\xc0\xaf", "overlong\\300\\257",
                             "\"overlong\\u00c0\\u00af\""},
                    Escaping{"surrogate\xed\xa0\x80", "surrogate\\355\\240\\200",
                             "\"surrogate\\u00ed\\u00a0\\u0080\""},
                    Escaping{"c1\xc2\x9b", "c1\\302\\233", "\"c1\xc2\x9b\""},
                    Escaping{std::string("nul\0x", 5), "nul\\000x", "\"nul\\u0000x\""},
                    Escaping{"", "", "\"\""}));

struct Glob {
  const char* pattern;
  const char* name;
  bool matches;
};

void PrintTo(const Glob& glob, std::ostream* out) {
  *out << glob.pattern << " against " << glob.name;
}

class GlobTest : public testing::TestWithParam<Glob> {};

TEST_P(GlobTest, MatchesWholeNames) {
  EXPECT_EQ(kymf::GlobMatch(GetParam().pattern, GetParam().name), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, GlobTest,
    testing::Values(Glob{"a.txt", "a.txt", true}, Glob{"A.TXT", "a.txt", true},
                    Glob{"a.txt", "b.txt", false}, Glob{"*.txt", "a.txt", true},
                    Glob{"*.txt", "dir/a.txt", false}, Glob{"dir/*", "dir/a", true},
                    Glob{"dir/*", "dir/sub/a", false}, Glob{"dir/**", "dir/sub/a", true},
                    Glob{"**/*.txt", "a.txt", true}, Glob{"**/*.txt", "x/y/a.txt", true},
                    Glob{"**.txt", "x/a.txt", true}, Glob{"?.txt", "a.txt", true},
                    Glob{"?", "/", false}, Glob{"a?c", "abc", true}, Glob{"*", "", true},
                    Glob{"", "a", false},
                    Glob{"a*b*c*d*e*f*g", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
                    Glob{"\xc3\xa9", "\xc3\x89", false}));

// The rule is RXM::CheckSafeName's, with the longest name an archive holds:
// these cases are that function's too, each fault with its own message.
struct NameRule {
  std::string name;
  std::string refusal;  // "" when the name may be stored
};

// The name, escaped; without it GoogleTest would print the case's bytes.
void PrintTo(const NameRule& rule, std::ostream* out) {
  *out << testing::PrintToString(rule.name);
}

class EntryNameRuleTest : public testing::TestWithParam<NameRule> {};

TEST_P(EntryNameRuleTest, RefusesWhatExtractionWouldRefuse) {
  EXPECT_EQ(kymf::RefuseEntryName(GetParam().name), GetParam().refusal);
}

const std::string kParent = "name refused: has a \"..\" component";
const std::string kDot = "name refused: has an empty or \".\" component";
const std::string kDrive = "name refused: begins with a drive letter";
const std::string kControl = "name refused: holds a control character";

INSTANTIATE_TEST_SUITE_P(
    Names, EntryNameRuleTest,
    testing::Values(
        NameRule{"a.txt", ""}, NameRule{"dir/sub/a", ""}, NameRule{"..a/b..", ""},
        NameRule{"1:b", ""}, NameRule{"\xc3\xa9t\xc3\xa9", ""}, NameRule{std::string(69, 'x'), ""},
        NameRule{std::string(70, 'x'), "name longer than 69 characters"},
        NameRule{"", "name refused: is empty"}, NameRule{"/abs", "name refused: is absolute"},
        NameRule{"a:b", kDrive}, NameRule{"C:x", kDrive}, NameRule{"c:/x", kDrive},
        NameRule{"C:\\x", kDrive}, NameRule{"a\\b", "name refused: holds a backslash"},
        NameRule{"..", kParent}, NameRule{"../evil", kParent}, NameRule{"a/../../x", kParent},
        NameRule{"a/..", kParent}, NameRule{".", kDot}, NameRule{"a/./b", kDot},
        NameRule{"a//b", kDot}, NameRule{"a/", kDot}, NameRule{std::string("a\0b", 3), kControl},
        NameRule{"a\nb", kControl}, NameRule{"\x1b[31m", kControl}, NameRule{"del\x7f", kControl}));

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
  TargetFolder target;
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

// The last guard: its callers refuse these names before they get here.
TEST_F(TargetFolderTest, UnsafeNamesAreRefusedBeforeAnythingIsTouched) {
  for (const char* name : {"../x", "/abs", "a//b", "C:x", "a\\b", ""}) {
    EXPECT_EQ(Place(name, Fill).GetCode(), RXM::ErrorCode::kNameRefused) << name;
  }
  EXPECT_TRUE(fs::is_empty(root / "out"));
  EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);
}

}  // namespace
