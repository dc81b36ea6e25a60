// The inputs of create and add: what a walk of the file system finds, every
// look at it through the system's calls, so that a failing call is seen.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backends/FaultySystem.h"
#include "support/InputCollector.h"
#include "support/Reporter.h"
#include "support/Selection.h"

namespace fs = std::filesystem;

namespace {

class InputCollectorTest : public testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("kymf-inputs-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "tree" / "deep" / "er");
    fs::create_directories(root / "tree" / "empty");
    Write("tree/a.txt", "a");
    Write("tree/deep/b.txt", "bb");
    Write("tree/deep/er/c.txt", "ccc");
  }
  void TearDown() override { fs::remove_all(root); }

  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(root / name, std::ios::binary) << text;
  }

  // The entry names and sizes collected from the folder "tree", or why not.
  bool Collect(RXM::sys::System& system, std::vector<std::string>* found, int* failures) const {
    std::FILE* sink = std::tmpfile();
    kymf::Reporter reporter(sink, sink);
    kymf::Selection none;
    kymf::CollectRules rules;
    rules.base = root.string();
    kymf::InputCollector collector(reporter, none, rules, system);
    const bool added = collector.Add("tree");
    for (const kymf::Input& input : collector.GetInputs()) {
      found->push_back(input.name + "=" + std::to_string(input.size));
    }
    *failures = reporter.GetFailures();
    std::fclose(sink);
    return added;
  }

  fs::path root;
};

TEST_F(InputCollectorTest, AFolderGivesEveryFileBelowItByNameAndSize) {
  std::vector<std::string> found;
  int failures = 0;
  ASSERT_TRUE(Collect(RXM::sys::System::Default(), &found, &failures));
  EXPECT_EQ(found, (std::vector<std::string>{"tree/a.txt=1", "tree/deep/b.txt=2",
                                             "tree/deep/er/c.txt=3"}));
  EXPECT_EQ(failures, 0);
}

// Each call the walk makes fails in turn: the walk then gives up with a
// failure said, or finds exactly what it finds when nothing fails (a call
// whose failure costs nothing: a folder's look at a name that is a file),
// and never a partial list passed off as whole.
TEST_F(InputCollectorTest, AFailedCallOfTheWalkIsReportedNeverAPartialList) {
  std::vector<std::string> expected;
  int failures = 0;
  testing_support::FaultySystem counting;
  counting.FailCall(0);
  ASSERT_TRUE(Collect(counting, &expected, &failures));
  const int calls = counting.callsSeen();
  ASSERT_GT(calls, 5);
  for (int n = 1; n <= calls; ++n) {
    testing_support::FaultySystem system;
    system.FailCall(n);
    std::vector<std::string> found;
    const bool added = Collect(system, &found, &failures);
    SCOPED_TRACE("failing call " + std::to_string(n) + " (" +
                 (system.failedCall() != nullptr ? system.failedCall() : "none") + ")");
    if (added) {
      EXPECT_EQ(found, expected);
      EXPECT_EQ(failures, 0);
    } else {
      EXPECT_GT(failures, 0);
    }
  }
}

}  // namespace
