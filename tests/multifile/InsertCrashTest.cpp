// Insertions that die: killed at a random moment, or stopped by a file system
// that refuses to let the file grow. Each runs in a child process.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

class InsertCrashTest : public testing::Test {
 protected:
  void SetUp() override {
    archivePath = dir.Path("crash.kymf");
    inputPath = dir.Path("input.bin");
    // Large enough that an insertion takes a while to write and sync.
    oldBytes =
        Archive({{"first", std::string(3 << 20, 'a')}, {"second", std::string(1 << 20, 'b')}});
    WriteAll(inputPath, std::string(2 << 20, 'c'));
    WriteAll(archivePath, oldBytes);
  }

  // Inserts in a child process, returning its pid; the child exits 0 on
  // success.
  pid_t StartInsertion() {
    const pid_t child = fork();
    if (child == 0) {
      MultiFile archive(archivePath.c_str());
      bool inserted = false;
      try {
        inserted = archive.InsertFile(Pointer<KYFile>(), inputPath.c_str(), "third");
      } catch (Exception* e) {
        delete e;
      }
      _exit(inserted ? 0 : 1);
    }
    return child;
  }

  TempDir dir;
  std::string archivePath;
  std::string inputPath;
  Bytes oldBytes;
};

TEST_F(InsertCrashTest, KilledAtAnyMomentLeavesTheOldOrTheNewArchive) {
  // One undisturbed run gives the new archive and the time an insertion takes.
  const auto begin = std::chrono::steady_clock::now();
  int status = 0;
  waitpid(StartInsertion(), &status, 0);
  const auto took = std::chrono::steady_clock::now() - begin;
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const Bytes newBytes = ReadAll(archivePath);
  ASSERT_NE(newBytes, oldBytes);
  const auto window =
      std::chrono::duration_cast<std::chrono::microseconds>(took).count() * 5 / 4 + 1;

  std::mt19937 random(42);
  int sawOld = 0, sawNew = 0;
  // 200 unless RXMFILES_CRASH_TRIALS says otherwise (the run under valgrind,
  // where each trial is many times slower, takes fewer).
  const char* configured = std::getenv("RXMFILES_CRASH_TRIALS");
  const int trials = configured != nullptr ? std::atoi(configured) : 200;
  for (int trial = 0; trial < trials; ++trial) {
    WriteAll(archivePath, oldBytes);
    const pid_t child = StartInsertion();
    usleep(static_cast<useconds_t>(random() % window));
    kill(child, SIGKILL);
    waitpid(child, &status, 0);

    const Bytes after = ReadAll(archivePath);
    ASSERT_TRUE(after == oldBytes || after == newBytes)
        << "trial " << trial << ": " << after.size() << " bytes";
    (after == oldBytes ? sawOld : sawNew)++;
    MultiFile reopened(archivePath.c_str());
    ASSERT_TRUE(reopened.IsMultiFileOpen()) << "trial " << trial;
    ASSERT_TRUE(reopened.OpenFile("second", "rb"));
  }
  RecordProperty("old", sawOld);
  RecordProperty("new", sawNew);
  std::printf("%d trials: %d left the old archive, %d the new one\n", trials, sawOld, sawNew);
}

TEST_F(InsertCrashTest, AFullDiskFailsClearlyAndKeepsTheOldArchive) {
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {oldBytes.size() + (1 << 20), oldBytes.size() + (1 << 20)};
    setrlimit(RLIMIT_FSIZE, &limit);
    MultiFile archive(archivePath.c_str());
    int status = 2;  // the insertion must not succeed
    try {
      archive.InsertFile(Pointer<KYFile>(), inputPath.c_str(), "third");
    } catch (Exception* e) {
      const bool clear =
          std::string(e->GetText()).find("Failed to write the new multi-file") != std::string::npos;
      delete e;
      status = clear && archive.IsMultiFileOpen() && archive.OpenFile("first", "rb") ? 0 : 3;
    }
    _exit(status);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadAll(archivePath), oldBytes);
  EXPECT_FALSE(Exists(archivePath + ".tmp"));
}

}  // namespace
