// The progress line of long jobs: when it shows, what it says, and that it
// leaves the screen clean.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "support/Progress.h"
#include "support/Reporter.h"

namespace {

using kymf::Progress;
using std::chrono::milliseconds;

// A display into a temporary file whose clock the test moves.
class ProgressTest : public testing::Test {
 protected:
  void SetUp() override {
    out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    display.out = out;
    display.now = [this] { return Progress::Clock::time_point(at); };
  }
  void TearDown() override { std::fclose(out); }

  std::string Written() const {
    std::fflush(out);
    std::rewind(out);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;) {
      text += static_cast<char>(c);
    }
    return text;
  }

  std::FILE* out = nullptr;
  Progress::Display display;
  milliseconds at{5000};
};

TEST_F(ProgressTest, AJobShorterThanTheDelayLeavesTheScreenUntouched) {
  {
    Progress progress(display, "extract a.kymf", 100);
    at += milliseconds(900);
    progress.Advance(100);
  }
  EXPECT_EQ(Written(), "");
}

TEST_F(ProgressTest, ALongJobIsDrawnInPlaceAtMostFiveTimesASecondAndClearedAtTheEnd) {
  {
    Progress progress(display, "extract a.kymf", 4u << 20);
    at += milliseconds(1000);
    progress.Advance(1u << 20);  // drawn: the delay has passed
    at += milliseconds(100);
    progress.Advance(1u << 20);  // too soon after the last
    at += milliseconds(100);
    progress.Advance(1u << 20);  // drawn
  }
  const std::string first = "kymf: extract a.kymf: 1.0 MiB of 4.0 MiB (25%), 1.0 MiB/s, 0:03 left";
  EXPECT_EQ(Written(), "\r" + first +
                           "\rkymf: extract a.kymf: 3.0 MiB of 4.0 MiB (75%), 2.5 MiB/s, 0:00 left"
                           "\r" +
                           std::string(first.size(), ' ') + "\r");
}

TEST_F(ProgressTest, WithoutADelayTheLineIsThereFromTheStart) {
  display.delay = milliseconds(0);
  { Progress progress(display, "cat a.kymf", 10); }
  const std::string line = "kymf: cat a.kymf: 0 B of 10 B (0%)";
  EXPECT_EQ(Written(), "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
}

TEST_F(ProgressTest, AMessageClearsTheLineFirstAndTheNextUpdateDrawsItAgain) {
  display.delay = milliseconds(0);
  Progress progress(display, "write a.kymf", 0);
  Progress::Interrupt();
  std::fputs("kymf: x: no such file\n", out);
  at += milliseconds(1000);
  progress.Update(2048, 4096);  // the total learnt late, as a writer learns it
  const std::string first = "kymf: write a.kymf: 0 B";
  EXPECT_EQ(Written(), "\r" + first + "\r" + std::string(first.size(), ' ') +
                           "\rkymf: x: no such file\n"
                           "\rkymf: write a.kymf: 2.0 KiB of 4.0 KiB (50%), 2.0 KiB/s, 0:01 left");
}

TEST_F(ProgressTest, AShorterLineCoversWhatTheLongerOneLeft) {
  display.delay = milliseconds(0);
  Progress progress(display, "j", 0);
  at += milliseconds(1000);
  progress.Update(1000, 0);
  at += milliseconds(1000000);
  progress.Update(1024, 0);
  EXPECT_EQ(Written(), "\rkymf: j: 0 B\rkymf: j: 1000 B, 1000 B/s\rkymf: j: 1.0 KiB, 1 B/s  ");
}

TEST(ProgressDisplayTest, QuietSilencesTheLineEvenWhenItIsAskedFor) {
  kymf::Reporter reporter;
  reporter.SetForceProgress(true);
  EXPECT_EQ(Progress::Display::For(reporter).out, stderr);
  EXPECT_EQ(Progress::Display::For(reporter).delay.count(), 0);
  reporter.SetQuiet(true);
  EXPECT_EQ(Progress::Display::For(reporter).out, nullptr);
}

TEST(ProgressLineTest, SizesRatesAndTimeLeftReadAsPvShowsThem) {
  EXPECT_EQ(Progress::Line("j", 0, 0, milliseconds(0)), "j: 0 B");
  EXPECT_EQ(Progress::Line("j", 1023, 0, milliseconds(1000)), "j: 1023 B, 1023 B/s");
  EXPECT_EQ(Progress::Line("j", 3u << 30, 3u << 30, milliseconds(2000)),
            "j: 3.0 GiB of 3.0 GiB (100%), 1.5 GiB/s");
  EXPECT_EQ(Progress::Line("j", 1u << 20, 601u << 20, milliseconds(1000)),
            "j: 1.0 MiB of 601.0 MiB (0%), 1.0 MiB/s, 10:00 left");
  // More done than announced (an input that grew) never reads past 100%.
  EXPECT_EQ(Progress::Line("j", 20, 10, milliseconds(1000)), "j: 20 B of 10 B (100%), 20 B/s");
}

}  // namespace
