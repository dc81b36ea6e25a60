// Streams of one archive read from many threads at once, while the archive is
// open and after it is gone. Run under the tsan preset (ctest -L concurrency)
// to check that they share nothing unguarded.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "files/EntryStream.h"
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

// The reads kymf mount serves: many threads read one stream by position at
// once, each at offsets of its own, while its own position stays put.
TEST(EntryStreamThreadsTest, ThreadsReadOneStreamByPositionAtOnce) {
  TempDir dir;
  std::string big(65536, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) {
    big[i] = static_cast<char>(i * 131 + i / 256);
  }
  MultiFile archive(Written(dir, "a", Archive({{"big", big}})).c_str());
  const Pointer<KYFile> stream = archive.OpenEntry("big");
  ASSERT_FALSE(stream.IsNull());
  std::atomic<int> wrong{0};
  OnThreads([&](int t) {
    char buffer[4096];
    for (std::uint32_t n = 0; n < 200; ++n) {
      const std::uint32_t offset = (n * 7919u + static_cast<std::uint32_t>(t) * 104729u) % 65536u;
      std::uint32_t got = 0;
      if (!RXM::ReadEntryAt(*stream, buffer, sizeof buffer, offset, &got) ||
          std::string(buffer, got) != big.substr(offset, sizeof buffer)) {
        ++wrong;
      }
    }
  });
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(stream->GetPosition(), 0);
}

}  // namespace
