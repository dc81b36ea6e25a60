// Streams of one archive read from many threads at once. Run under the tsan
// preset (ctest -L concurrency) to check that they share nothing unguarded.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

constexpr int kEntries = 64;
constexpr int kThreads = 4;

std::string Content(int entry) {
  return std::string(100 + entry * 37, static_cast<char>('A' + entry % 26));
}

std::vector<Entry> Entries() {
  std::vector<Entry> entries;
  for (int i = 0; i < kEntries; ++i) {
    entries.push_back({"e" + std::to_string(i), Content(i)});
  }
  return entries;
}

TEST(EntryStreamThreadsTest, ThreadsOpenAndReadStreamsOfOneArchiveAtOnce) {
  TempDir dir;
  WriteAll(dir.Path("a"), Archive(Entries()));
  MultiFile archive(dir.Path("a").c_str());
  ASSERT_TRUE(archive.IsMultiFileOpen());
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&archive, &wrong, t] {
      for (int round = 0; round < 20; ++round) {
        for (int i = (t * 7) % kEntries, n = 0; n < kEntries; i = (i + 1) % kEntries, ++n) {
          Pointer<KYFile> stream = archive.OpenEntry(("E" + std::to_string(i)).c_str());
          std::string data(stream.IsNull() ? 0 : stream->GetFileSize(), '\0');
          if (stream.IsNull() ||
              stream->ReadData(data.data(), 1, static_cast<unsigned int>(data.size())) !=
                  data.size() ||
              data != Content(i)) {
            ++wrong;
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(wrong.load(), 0);
}

// Streams handed to other threads outlive the archive they came from.
TEST(EntryStreamThreadsTest, StreamsReadOnOtherThreadsAfterTheArchiveIsGone) {
  TempDir dir;
  WriteAll(dir.Path("a"), Archive(Entries()));
  std::vector<Pointer<KYFile>> streams;
  {
    MultiFile archive(dir.Path("a").c_str());
    for (int i = 0; i < kThreads; ++i) {
      streams.push_back(archive.OpenEntry(("e" + std::to_string(i)).c_str()));
    }
  }
  std::vector<std::string> read(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&streams, &read, i] {
      char byte;
      while (streams[i]->ReadData(&byte, 1, 1) == 1) {
        read[i] += byte;
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(read[i], Content(i));
  }
}

}  // namespace
