// The libraries loaded by name (libcurl, libcrypto), each loaded by many
// threads at once, for the first time in the process.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "files/CryptoLibrary.h"
#include "files/Sha256.h"
#include "remote/CurlLibrary.h"

namespace RXM {
namespace {

// Every thread asks `get` at once; all must get the same, non-null answer.
template <class Library>
void ExpectOneLibraryForAll(const Library* (*get)(std::string*)) {
  constexpr int kThreads = 8;
  std::vector<const Library*> got(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&got, get, i] {
      std::string why;
      got[static_cast<std::size_t>(i)] = get(&why);
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (const Library* library : got) {
    EXPECT_NE(library, nullptr);
    EXPECT_EQ(library, got[0]);
  }
}

// Each case runs in a process of its own (ctest), so this is the process's
// first load, made by every thread at once.
TEST(SharedLibraryThreadsTest, ThreadsAskingForLibcurlAtOnceAllGetTheOneLibrary) {
  ExpectOneLibraryForAll(&http::CurlLibrary::Get);
}

TEST(SharedLibraryThreadsTest, ThreadsDigestingAtOnceLoadLibcryptoOnceAndAgree) {
  constexpr int kThreads = 8;
  std::vector<std::string> digests(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back(
        [&digests, i] { digests[static_cast<std::size_t>(i)] = Sha256::HexOf("abc", 3); });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (const std::string& digest : digests) {
    EXPECT_EQ(digest, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  }
  ExpectOneLibraryForAll(&CryptoLibrary::Get);
}

}  // namespace
}  // namespace RXM
