// The helpers of the kymf tool: printing names, selecting entries, the
// entry-name rule and the folder that extraction writes into.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/EntryNameRule.h"
#include "support/InputCollector.h"
#include "support/NameEscaping.h"
#include "support/Reporter.h"
#include "support/Selection.h"
#include "support/TargetFolder.h"

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

class GlobTest : public testing::TestWithParam<Glob> {};

TEST_P(GlobTest, MatchesWholeNames) {
  EXPECT_EQ(kymf::GlobMatch(GetParam().pattern, GetParam().name), GetParam().matches)
      << GetParam().pattern << " against " << GetParam().name;
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

TEST(SelectionTest, FolderPrefixSelectsEverythingBelow) {
  kymf::Selection selection({"dir", "lev*/", "none"});
  EXPECT_TRUE(selection.Selects("dir/a"));
  EXPECT_TRUE(selection.Selects("DIR/sub/b"));
  EXPECT_TRUE(selection.Selects("levels/1.map"));
  EXPECT_FALSE(selection.Selects("directory/a"));
  EXPECT_EQ(selection.Unmatched(), std::vector<std::string>{"none"});
}

TEST(SelectionTest, NoPatternsSelectEverything) {
  kymf::Selection selection;
  EXPECT_TRUE(selection.SelectsAll());
  EXPECT_TRUE(selection.Selects("anything/at/all"));
  EXPECT_TRUE(selection.Unmatched().empty());
}

struct NameRule {
  std::string name;
  const char* refusal;  // "" when the name may be stored
};

class EntryNameRuleTest : public testing::TestWithParam<NameRule> {};

TEST_P(EntryNameRuleTest, RefusesWhatExtractionWouldRefuse) {
  EXPECT_EQ(kymf::RefuseEntryName(GetParam().name), GetParam().refusal);
}

INSTANTIATE_TEST_SUITE_P(
    Names, EntryNameRuleTest,
    testing::Values(NameRule{"a/b.txt", ""}, NameRule{std::string(69, 'x'), ""},
                    NameRule{std::string(70, 'x'), "name longer than 69 characters"},
                    NameRule{"../evil", "name refused: has a \"..\" component"},
                    NameRule{"/abs", "name refused: is absolute"},
                    NameRule{"C:\\x", "name refused: begins with a drive letter"},
                    NameRule{"a\\b", "name refused: holds a backslash"},
                    NameRule{"", "name refused: is empty"},
                    NameRule{".", "name refused: has an empty or \".\" component"},
                    NameRule{"a\nb", "name refused: holds a control character"}));

// A fresh folder under the test's temporary folder, removed afterwards.
class TargetFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("kymf-target-" +
            std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root);
    fs::create_directories(root / "out");
    fs::create_directories(root / "elsewhere");
    ASSERT_TRUE(target.Open((root / "out").string()).IsOk());
  }
  void TearDown() override { fs::remove_all(root); }

  RXM::Status Place(const std::string& name, TargetFolder::Existing existing, bool* kept) {
    return target.Place(
        name, existing,
        [](const TargetFolder::Write& write) {
          return write("new", 3) ? RXM::Status::Ok()
                                 : RXM::Status(RXM::ErrorCode::kWriteFailed, "write");
        },
        kept);
  }

  static std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void WriteText(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  }
  // Nothing in `root` but "out" and "elsewhere", and "elsewhere" as it was.
  void ExpectNothingOutside(std::size_t elsewhereFiles) const {
    std::size_t count = 0;
    for (const auto& item : fs::recursive_directory_iterator(root / "elsewhere")) {
      (void)item;
      ++count;
    }
    EXPECT_EQ(count, elsewhereFiles);
  }

  fs::path root;
  TargetFolder target;
};

TEST_F(TargetFolderTest, CreatesFoldersOnTheWayAndTheFile) {
  bool kept = true;
  ASSERT_TRUE(Place("a/b/c.txt", TargetFolder::Existing::kRefuse, &kept).IsOk());
  EXPECT_FALSE(kept);
  EXPECT_EQ(Read(root / "out/a/b/c.txt"), "new");
  EXPECT_EQ(std::distance(fs::directory_iterator(root / "out/a/b"), fs::directory_iterator()), 1);
}

TEST_F(TargetFolderTest, ExistingFileIsRefusedKeptOrReplaced) {
  WriteText(root / "out/f", "old");
  bool kept = false;
  EXPECT_EQ(Place("f", TargetFolder::Existing::kRefuse, &kept).GetCode(),
            RXM::ErrorCode::kAlreadyExists);
  EXPECT_TRUE(Place("f", TargetFolder::Existing::kKeep, &kept).IsOk());
  EXPECT_TRUE(kept);
  EXPECT_EQ(Read(root / "out/f"), "old");
  EXPECT_TRUE(Place("f", TargetFolder::Existing::kReplace, &kept).IsOk());
  EXPECT_EQ(Read(root / "out/f"), "new");
}

TEST_F(TargetFolderTest, FailedFillLeavesNoFile) {
  bool kept = false;
  const RXM::Status status = target.Place(
      "f", TargetFolder::Existing::kRefuse,
      [](const TargetFolder::Write& write) {
        write("part", 4);
        return RXM::Status(RXM::ErrorCode::kTruncated, "t.kymf: f: truncated at byte 9");
      },
      &kept);
  EXPECT_EQ(status.GetCode(), RXM::ErrorCode::kTruncated);
  EXPECT_TRUE(fs::is_empty(root / "out"));
}

TEST_F(TargetFolderTest, UnsafeNamesAreRefusedBeforeAnythingIsTouched) {
  bool kept = false;
  for (const char* name : {"../x", "/abs", "a//b", "C:x", "a\\b", ""}) {
    EXPECT_EQ(Place(name, TargetFolder::Existing::kReplace, &kept).GetCode(),
              RXM::ErrorCode::kNameRefused)
        << name;
  }
  EXPECT_TRUE(fs::is_empty(root / "out"));
  ExpectNothingOutside(0);
}

TEST_F(TargetFolderTest, MissingFolderIsNoSuchFile) {
  TargetFolder missing;
  EXPECT_EQ(missing.Open((root / "nope").string()).GetCode(), RXM::ErrorCode::kNoSuchFile);
}

#if !defined(_WIN32)
TEST_F(TargetFolderTest, LinkedFolderOnTheWayIsNotFollowed) {
  fs::create_directory_symlink(root / "elsewhere", root / "out/a");
  bool kept = false;
  EXPECT_FALSE(Place("a/b/x", TargetFolder::Existing::kReplace, &kept).IsOk());
  ExpectNothingOutside(0);
}

TEST_F(TargetFolderTest, SymbolicLinkUnderTheNameIsReplacedNotWrittenThrough) {
  WriteText(root / "elsewhere/victim", "victim");
  fs::create_symlink(root / "elsewhere/victim", root / "out/f");
  bool kept = false;
  EXPECT_EQ(Place("f", TargetFolder::Existing::kRefuse, &kept).GetCode(),
            RXM::ErrorCode::kAlreadyExists);
  ASSERT_TRUE(Place("f", TargetFolder::Existing::kReplace, &kept).IsOk());
  EXPECT_FALSE(fs::is_symlink(root / "out/f"));
  EXPECT_EQ(Read(root / "out/f"), "new");
  EXPECT_EQ(Read(root / "elsewhere/victim"), "victim");
}

TEST_F(TargetFolderTest, HardLinkUnderTheNameIsReplacedNotWrittenInto) {
  WriteText(root / "elsewhere/victim", "victim");
  fs::create_hard_link(root / "elsewhere/victim", root / "out/f");
  bool kept = false;
  ASSERT_TRUE(Place("f", TargetFolder::Existing::kReplace, &kept).IsOk());
  EXPECT_EQ(Read(root / "out/f"), "new");
  EXPECT_EQ(Read(root / "elsewhere/victim"), "victim");
}
#endif

TEST_F(TargetFolderTest, FolderUnderTheNameIsRefusedEvenWithReplace) {
  fs::create_directory(root / "out/d");
  bool kept = false;
  EXPECT_EQ(Place("d", TargetFolder::Existing::kReplace, &kept).GetCode(),
            RXM::ErrorCode::kIsAFolder);
}

class InputCollectorTest : public TargetFolderTest {};

TEST_F(InputCollectorTest, FolderGivesItsFilesSortedWithEmptyOnesAndWithoutExcluded) {
  const fs::path tree = root / "elsewhere";
  fs::create_directories(tree / "sub");
  fs::create_directories(tree / "empty");
  WriteText(tree / "b.txt", "bb");
  WriteText(tree / "a.txt", "");
  WriteText(tree / "sub/c.tmp", "c");
  std::FILE* silent = std::tmpfile();
  kymf::Reporter reporter(silent, silent);
  kymf::Selection excludes({"**/*.tmp"});
  kymf::InputCollector collector(reporter, excludes);
  ASSERT_TRUE(collector.Add(tree.string()));
  ASSERT_EQ(collector.GetInputs().size(), 2u);
  EXPECT_EQ(collector.GetInputs()[0].name, "a.txt");
  EXPECT_EQ(collector.GetInputs()[0].size, 0u);
  EXPECT_EQ(collector.GetInputs()[1].name, "b.txt");
  EXPECT_EQ(collector.GetTotalBytes(), 2u);
  std::fclose(silent);
}

TEST_F(InputCollectorTest, UnsafeNamesAndMissingInputsAreRefused) {
  WriteText(root / "elsewhere/f", "x");
  std::FILE* silent = std::tmpfile();
  kymf::Reporter reporter(silent, silent);
  kymf::Selection excludes;
  kymf::InputCollector collector(reporter, excludes);
  EXPECT_FALSE(collector.Add((root / "missing").string()));
  ASSERT_TRUE(collector.Add((root / "elsewhere/f").string()));
  EXPECT_FALSE(collector.Rename("../f"));
  EXPECT_TRUE(collector.Rename("dir/f"));
  EXPECT_EQ(collector.GetInputs()[0].name, "dir/f");
  EXPECT_EQ(reporter.GetFailures(), 2);
  std::fclose(silent);
}

}  // namespace
