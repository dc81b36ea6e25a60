// How kymf copies an archive from standard input: stopped at the first
// bytes when they are no KYMF magic, and one byte past the limit when the
// input is longer than any archive, with that little read; shown here with
// small limits and endless inputs, which standard input cannot be in a test.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

}  // namespace
