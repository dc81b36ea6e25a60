// The one pattern rule of kymf (GlobMatch, and Selection built on it), which
// every command's PATTERNs and --exclude share, the name lists of -T, and
// the nearest command to a mistyped one.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "backends/FaultySystem.h"
#include "support/NameList.h"
#include "support/Reporter.h"
#include "support/Selection.h"
#include "support/Suggestion.h"

namespace {

TEST(GlobTest, BracketClassesTakeOneCharacterOfTheirClass) {
  const std::vector<std::tuple<const char*, const char*, bool>> cases = {
      {"f00[1-3].bin", "f002.bin", true},
      {"f00[1-3].bin", "f004.bin", false},
      {"f00[13].bin", "f003.bin", true},
      {"f00[13].bin", "f002.bin", false},
      {"f00[!1-3].bin", "f004.bin", true},
      {"f00[!1-3].bin", "f001.bin", false},
      {"f00[^1-3].bin", "f005.bin", true},
      {"[a-c]x", "Bx", true},  // letter case is ignored, in ranges too
      {"[A-C]x", "bx", true},
      {"[!a-c]x", "Bx", false},
      {"[]]", "]", true},  // "]" first is a member
      {"[!]]", "a", true},
      {"[a-]", "-", true},  // "-" last is a member
      {"[-a]", "-", true},
      {"a[/]b", "a/b", false},  // a class never takes the separator
      {"a[!x]b", "a/b", false},
      {"[0-9][0-9]", "42", true},
      {"[0-9][0-9]", "4", false},
      {"**/[ab]*.txt", "x/y/b1.txt", true},
      {"dir/[xy]*", "dir/sub/y", false},
      {"a[1", "a[1", true},  // an unclosed "[" is a plain character
      {"a[1", "a1", false},
      {"[", "[", true},
      {"[!", "[!", true},
      {"x[a-", "x[a-", true},
      {"*[", "ab[", true}};
  for (const auto& [pattern, name, matches] : cases) {
    EXPECT_EQ(kymf::GlobMatch(pattern, name), matches) << pattern << " against " << name;
  }
}

TEST(SelectionTest, ExcludesWhatItsPatternsSelectAndMarksNothing) {
  const kymf::Selection none;
  EXPECT_FALSE(none.Excludes("a.txt"));
  kymf::Selection excludes({"sub", "f00[1-2].bin"});
  EXPECT_TRUE(excludes.Excludes("sub/deep/a"));
  EXPECT_TRUE(excludes.Excludes("F001.BIN"));
  EXPECT_FALSE(excludes.Excludes("f003.bin"));
  EXPECT_FALSE(excludes.Excludes("subway"));
  EXPECT_EQ(excludes.Unmatched().size(), 2U);
}

TEST(NameListTest, SplitsAtLineFeedsOrAtNulBytes) {
  using Names = std::vector<std::string>;
  EXPECT_EQ(kymf::SplitNameList("a\nb c\n\nd", false), (Names{"a", "b c", "d"}));
  EXPECT_EQ(kymf::SplitNameList("a\r\nb\r\n", false), (Names{"a", "b"}));
  EXPECT_EQ(kymf::SplitNameList(std::string("a\nb\0c\0\0", 7), true), (Names{"a\nb", "c"}));
  EXPECT_EQ(kymf::SplitNameList(std::string("x\r\0", 3), true), (Names{"x\r"}));
  EXPECT_EQ(kymf::SplitNameList("", false), Names{});
}

TEST(NameListTest, AMissingListIsNamedAndLeavesTheNamesAsTheyWere) {
  std::vector<std::string> names{"kept"};
  const RXM::Status status = kymf::ReadNameList("no-such-list.txt", false, names);
  EXPECT_EQ(status.GetCode(), RXM::ErrorCode::kCannotOpen);
  EXPECT_NE(std::string(status.GetText()).find("no-such-list.txt"), std::string::npos);
  EXPECT_EQ(names, std::vector<std::string>{"kept"});
}

// Each call of a list's read fails in turn: the open and a read are said,
// naming the list with the system's reason (a failed read is never taken
// for the end of the list); a failed close loses nothing of a file read.
TEST(NameListTest, AFailedOpenOrReadNamesTheListWithTheSystemsReason) {
  const std::string list =
      (std::filesystem::temp_directory_path() /
       ("kymf-names-" + std::to_string(testing::UnitTest::GetInstance()->random_seed())))
          .string();
  std::ofstream(list, std::ios::binary) << "a\nb\n";
  testing_support::FaultySystem counting;
  std::vector<std::string> names;
  ASSERT_TRUE(kymf::ReadNameList(list, false, names, counting).IsOk());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));
  const int calls = counting.callsSeen();
  ASSERT_GE(calls, 3);  // open, read, close
  for (int n = 1; n <= calls; ++n) {
    testing_support::FaultySystem system;
    system.FailCall(n);
    std::vector<std::string> got{"kept"};
    const RXM::Status status = kymf::ReadNameList(list, false, got, system);
    const std::string call = system.failedCall() != nullptr ? system.failedCall() : "none";
    SCOPED_TRACE("failing call " + std::to_string(n) + " (" + call + ")");
    if (call == "close") {
      EXPECT_TRUE(status.IsOk());
      continue;
    }
    EXPECT_EQ(status.GetCode(),
              call == "open" ? RXM::ErrorCode::kCannotOpen : RXM::ErrorCode::kReadFailed);
    EXPECT_EQ(std::string(status.GetText()), list + ": " + kymf::SystemReason(EIO));
    EXPECT_EQ(status.GetSystemError(), EIO);
    EXPECT_EQ(got, std::vector<std::string>{"kept"});
    EXPECT_TRUE(system.openStreams.empty());
  }
  std::filesystem::remove(list);
}

TEST(SuggestionTest, NamesTheNearestCommandOrNone) {
  const std::vector<std::string> commands = {"list", "extract", "mount", "umount", "cat"};
  const std::vector<std::tuple<const char*, const char*>> cases = {
      {"lst", "list"},       {"extarct", "extract"},
      {"unmount", "umount"}, {"mout", "mount"},
      {"ca", "cat"},         {"x", ""},
      {"zzzzzz", ""},        {"", ""},
      {"listing", ""}};
  for (const auto& [word, nearest] : cases) {
    EXPECT_EQ(kymf::NearestWord(word, commands), nearest) << word;
  }
  EXPECT_EQ(kymf::EditDistance("extract", "extarct"), 1U);
  EXPECT_EQ(kymf::EditDistance("", "abc"), 3U);
}

}  // namespace
