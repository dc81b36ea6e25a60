// libcurl loaded by many threads at once, for the first time in the process.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "remote/CurlLibrary.h"

namespace RXM {
namespace http {
namespace {

// Each case runs in a process of its own (ctest), so this is the process's
// first load, made by every thread at once.
TEST(CurlLibraryThreadsTest, ThreadsAskingAtOnceAllGetTheOneLibraryLoadedOnce) {
  constexpr int kThreads = 8;
  std::vector<const CurlLibrary*> got(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&got, i] {
      std::string why;
      got[static_cast<std::size_t>(i)] = CurlLibrary::Get(&why);
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (const CurlLibrary* library : got) {
    EXPECT_NE(library, nullptr);
    EXPECT_EQ(library, got[0]);
  }
}

}  // namespace
}  // namespace http
}  // namespace RXM
