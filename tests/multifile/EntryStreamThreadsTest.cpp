// Streams of one archive read from many threads at once, while the archive is
// open and after it is gone. Run under the tsan preset (ctest -L concurrency)
// to check that they share nothing unguarded.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

constexpr int kEntries = 64;
constexpr int kThreads = 4;

std::string Content(int entry) {
  return std::string(100 + entry * 37, static_cast<char>('A' + entry % 26));
}

void OnThreads(const std::function<void(int)>& work) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back(work, t);
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
}

TEST(EntryStreamThreadsTest, ThreadsReadStreamsOfOneArchiveAtOnceAndAfterItIsGone) {
  TempDir dir;
  std::vector<Entry> entries;
  for (int i = 0; i < kEntries; ++i) {
    entries.push_back({"e" + std::to_string(i), Content(i)});
  }
  Pointer<MultiFile> archive(new MultiFile(Written(dir, "a", Archive(entries)).c_str()));
  ASSERT_TRUE(archive->IsMultiFileOpen());
  std::atomic<int> wrong{0};
  const auto check = [&wrong](const Pointer<KYFile>& stream, int entry) {
    if (stream.IsNull() || ReadRest(*stream) != Content(entry)) {
      ++wrong;
    }
  };
  // One stream per thread, opened first (so the threads' first lookups, and
  // the build of the archive's name index, come at once) and read when the
  // archive is gone.
  std::vector<Pointer<KYFile>> later(kThreads);
  OnThreads([&](int t) {
    later[static_cast<std::size_t>(t)] = archive->OpenEntry(("e" + std::to_string(t)).c_str());
    for (int round = 0; round < 20; ++round) {
      for (int n = 0, i = (t * 7) % kEntries; n < kEntries; ++n, i = (i + 1) % kEntries) {
        check(archive->OpenEntry(("E" + std::to_string(i)).c_str()), i);
      }
    }
  });
  archive = nullptr;
  OnThreads([&](int t) { check(later[static_cast<std::size_t>(t)], t); });
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
