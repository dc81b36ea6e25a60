// How kymf copies an archive from standard input: stopped at the first
// bytes when they are no KYMF magic, and one byte past the limit when the
// input is longer than any archive, with that little read; shown here with
// small limits and endless inputs, which standard input cannot be in a test.
// And the private folder the copy is made in, through the system's calls,
// with each of them failing in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "backends/FaultySystem.h"
#include "support/Reporter.h"
#include "support/TemporaryArchive.h"

namespace {

using RXM::ErrorCode;

// An input of `text`, then (when `endless`) `fill` without end, given at
// most `step` bytes per read; counts what it gave.
struct Input {
  std::string text;
  bool endless = false;
  char fill = '\0';
  std::size_t step = 1u << 16;
  std::uint64_t given = 0;

  std::size_t Read(char* buffer, std::size_t size) {
    std::size_t part = size < step ? size : step;
    if (!endless && given >= text.size()) {
      return 0;
    }
    for (std::size_t i = 0; i < part; ++i, ++given) {
      if (given < text.size()) {
        buffer[i] = text[static_cast<std::size_t>(given)];
      } else if (endless) {
        buffer[i] = fill;
      } else {
        return i;
      }
    }
    return part;
  }
};

struct SpoolCase {
  const char* name;
  Input input;
  std::uint64_t limit;
  ErrorCode code;
  std::uint64_t mostRead;  // the input is read no further than this
};

std::string Archive(std::size_t size) {
  return "KYMF" + std::string(size - 4, 'a');
}

const SpoolCase kCases[] = {
    {"zeros_without_end", {"", true, '\0'}, 100, ErrorCode::kNotAnArchive, 4},
    {"magic_then_zeros_without_end", {"KYMF", true, '\0'}, 1000, ErrorCode::kTooLarge, 1001},
    {"one_byte_past_the_limit", {Archive(101)}, 100, ErrorCode::kTooLarge, 101},
    {"just_the_limit", {Archive(100)}, 100, ErrorCode::kOk, 100},
    {"a_byte_at_a_time", {Archive(50), false, '\0', 1}, 100, ErrorCode::kOk, 50},
    {"shorter_than_the_magic", {"KYM"}, 100, ErrorCode::kNotAnArchive, 3},
    {"wrong_magic", {"KYMG" + std::string(200, 'a')}, 100, ErrorCode::kNotAnArchive, 4},
    {"empty", {""}, 100, ErrorCode::kNotAnArchive, 0},
};

class SpoolArchiveTest : public testing::TestWithParam<SpoolCase> {};

TEST_P(SpoolArchiveTest, StopsAtTheMagicOrTheLimit) {
  const SpoolCase& c = GetParam();
  Input input = c.input;
  std::string written;
  const RXM::Status status = kymf::SpoolArchive(
      [&input](char* buffer, std::size_t size) { return input.Read(buffer, size); }, "-",
      [&written](const char* data, std::size_t size) {
        written.append(data, size);
        return true;
      },
      "copy", c.limit);
  EXPECT_EQ(status.GetCode(), c.code) << status.GetText();
  EXPECT_LE(input.given, c.mostRead);
  EXPECT_LE(written.size(), c.limit);
  if (c.code == ErrorCode::kOk) {
    EXPECT_EQ(written, c.input.text);
  } else {
    EXPECT_EQ(std::string(status.GetText()).rfind("-: ", 0), 0u) << status.GetText();
  }
  if (c.code == ErrorCode::kTooLarge) {
    EXPECT_EQ(std::string(status.GetText()),
              "-: more than " + std::to_string(c.limit) + " bytes, the most an archive can hold");
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, SpoolArchiveTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<SpoolCase>& tested) {
                           return std::string(tested.param.name);
                         });

TEST(SpoolArchiveFailureTest, AFailedWriteNamesTheCopyAndTheSystemsReason) {
  Input input{Archive(100)};
  const RXM::Status status = kymf::SpoolArchive(
      [&input](char* buffer, std::size_t size) { return input.Read(buffer, size); }, "-",
      [](const char*, std::size_t) {
        errno = ENOSPC;
        return false;
      },
      "copy", 1000);
  EXPECT_EQ(status.GetCode(), ErrorCode::kWriteFailed);
  EXPECT_EQ(status.GetSystemError(), ENOSPC);
  EXPECT_EQ(std::string(status.GetText()), "copy: " + kymf::SystemReason(ENOSPC));
}

// The temporary folder (TMPDIR; TMP on Windows) is a fresh one of the
// test's own, so that what a TemporaryArchive leaves there is seen.
class TemporaryArchiveTest : public testing::Test {
 protected:
  void SetUp() override {
    staging = std::filesystem::temp_directory_path() /
              ("kymf-staging-" + std::to_string(testing::UnitTest::GetInstance()->random_seed()) +
               "-" + testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(staging);
    std::filesystem::create_directories(staging);
    // The environment is changed only here and in TearDown, on the test's
    // one thread.
    const char* before = std::getenv(kVariable);  // NOLINT(concurrency-mt-unsafe)
    wasSet = before != nullptr;
    saved = wasSet ? before : "";
    SetVariable(staging.string().c_str());
  }
  void TearDown() override {
    SetVariable(wasSet ? saved.c_str() : nullptr);
    std::filesystem::remove_all(staging);
  }

  // Sets the variable to `value`, or takes it away (null).
  static void SetVariable(const char* value) {
#if defined(_WIN32)
    _putenv_s(kVariable, value != nullptr ? value : "");
#else
    if (value != nullptr) {
      setenv(kVariable, value, 1);  // NOLINT(concurrency-mt-unsafe)
    } else {
      unsetenv(kVariable);  // NOLINT(concurrency-mt-unsafe)
    }
#endif
  }

  // What is in the staging folder, folders ending in "/".
  std::set<std::string> Left() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(staging)) {
      names.insert(std::filesystem::relative(entry.path(), staging).generic_string() +
                   (entry.is_directory() ? "/" : ""));
    }
    return names;
  }

  // A TemporaryArchive's whole life through `system`: made, filled with an
  // archive of `size` bytes, gone; the first failure. *filled: the calls
  // seen before it went.
  static RXM::Status Live(testing_support::FaultySystem& system, std::size_t size, int* filled) {
    kymf::TemporaryArchive archive(system);
    RXM::Status status = archive.Make();
    if (status.IsOk()) {
      Input input{Archive(size)};
      status = archive.FromInput(
          [&input](char* buffer, std::size_t part) { return input.Read(buffer, part); },
          [] { return false; });
    }
    *filled = system.callsSeen();
    return status;
  }

#if defined(_WIN32)
  static constexpr const char* kVariable = "TMP";
#else
  static constexpr const char* kVariable = "TMPDIR";
#endif
  std::filesystem::path staging;
  bool wasSet = false;
  std::string saved;
};

TEST_F(TemporaryArchiveTest, TheCopyIsMadeInAFolderOfTheUsersAloneAndGoesWithIt) {
#if !defined(_WIN32)
  const mode_t mask = ::umask(022);  // what a folder made with mkdir's usual 0777 would keep
#endif
  std::string path;
  {
    kymf::TemporaryArchive archive;
    ASSERT_TRUE(archive.Make().IsOk());
    path = archive.GetPath();
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    EXPECT_TRUE(std::filesystem::equivalent(folder.parent_path(), staging)) << path;
#if !defined(_WIN32)
    struct stat status {};
    ASSERT_EQ(::stat(folder.string().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
#endif
    Input input{Archive(5000)};
    ASSERT_TRUE(archive
                    .FromInput([&input](char* buffer,
                                        std::size_t size) { return input.Read(buffer, size); },
                               [] { return false; })
                    .IsOk());
    std::ifstream copy(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(copy), {}), Archive(5000));
  }
#if !defined(_WIN32)
  ::umask(mask);
#endif
  EXPECT_EQ(Left(), std::set<std::string>{});
}

// Each call of the copy's life fails in turn: a failure while it is made
// or filled is said, naming the folder or the file with the system's
// reason, and whatever fails, nothing is left but a folder whose own
// removal failed (the last call): an archive whose removal failed is
// removed all the same.
TEST_F(TemporaryArchiveTest, AFailedCallIsSaidWithTheSystemsReasonAndLeavesNothingBehind) {
  testing_support::FaultySystem counting;
  std::set<std::string> seen;
  counting.beforeCall = [&seen](int, const char* call) { seen.insert(call); };
  counting.FailCall(0);
  int filled = 0;
  ASSERT_TRUE(Live(counting, 100000, &filled).IsOk());
  for (const char* call :
       {"temporaryFolder", "makePrivateFolder", "open", "write", "close", "remove"}) {
    EXPECT_EQ(seen.count(call), 1u) << call;
  }
  const int calls = counting.callsSeen();
  for (int n = 1; n <= calls; ++n) {
    testing_support::FaultySystem system;
    system.FailCall(n);
    int ignored = 0;
    const RXM::Status status = Live(system, 100000, &ignored);
    SCOPED_TRACE("failing call " + std::to_string(n) + " (" +
                 (system.failedCall() != nullptr ? system.failedCall() : "none") + ")");
    EXPECT_EQ(status.IsOk(), n > filled);  // none goes unsaid, none is said after
    if (!status.IsOk()) {
      const std::string text = status.GetText();
      const std::string reason = ": " + kymf::SystemReason(EIO);
      const std::string named = n == 1 ? "temporary folder " + staging.string() : staging.string();
      EXPECT_EQ(text.rfind(named, 0), 0u) << text;
      EXPECT_EQ(text.substr(text.size() - std::min(text.size(), reason.size())), reason);
      EXPECT_EQ(status.GetSystemError(), EIO);
    }
    EXPECT_TRUE(system.openStreams.empty());
    const std::set<std::string> left = Left();
    if (n == calls) {
      EXPECT_EQ(left.size(), 1u);
      EXPECT_EQ(left.empty() ? '/' : left.begin()->back(), '/');
    } else {
      EXPECT_EQ(left, std::set<std::string>{});
    }
    std::filesystem::remove_all(staging);
    std::filesystem::create_directories(staging);
  }
}

}  // namespace
