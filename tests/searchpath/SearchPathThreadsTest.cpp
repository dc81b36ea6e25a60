// A SearchPath read from many threads while another mounts and unmounts. Run
// under the tsan preset (ctest -L concurrency).
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "backends/FaultySystem.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

TEST(SearchPathThreadsTest, ReadersSeeAWholeMountListWhileItChanges) {
  TempDir dir;
  DebuggerCapture debugger;
  WriteAll(dir.Path("base"), Archive({{"a", "base"}, {"b", "always"}}));
  WriteAll(dir.Path("patch"), Archive({{"a", "patch"}}));
  SearchPath path;
  ASSERT_TRUE(path.Mount(dir.Path("base").c_str(), "", true));
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        Pointer<KYFile> a = path.Open("a");
        Pointer<KYFile> b = path.Open("b");
        const std::string text = a.IsNull() ? "" : ReadRest(*a);
        if ((text != "base" && text != "patch") || b.IsNull() || ReadRest(*b) != "always" ||
            path.List("").size() != 2) {
          ++wrong;
        }
      }
    });
  }
  for (int round = 0; round < 200; ++round) {
    EXPECT_TRUE(path.Mount(dir.Path("patch").c_str(), "", false));
    EXPECT_TRUE(path.Unmount(dir.Path("patch").c_str()));
  }
  stop = true;
  for (std::thread& reader : readers) {
    reader.join();
  }
  EXPECT_EQ(wrong.load(), 0);
}

// Mounting an archive whose file cannot be opened reports it to the
// debugger, which is made on first use; meanwhile other threads read, and
// one installs a debugger of its own. The debugger's creation and the
// reference counts of the objects that threads share must hold under it.
TEST(SearchPathThreadsTest, FailedMountsReportWhileOthersRead) {
  TempDir dir;
  WriteAll(dir.Path("good"), Archive({{"a", "good"}}));
  WriteAll(dir.Path("broken"), Archive({{"a", "broken"}}));
  FaultySystem system;
  system.refuseOpen = [](const char* path) {
    return std::string(path).find("broken") != std::string::npos ? EACCES : 0;
  };
  const CTPointer<Debugger> installed = RXM::GetDebugger();
  RXM::SetDebugger(CTPointer<Debugger>());  // the next GetDebugger makes one
  SearchPath path(system);
  ASSERT_TRUE(path.Mount(dir.Path("good").c_str(), "", true));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        if (t == 0 && round == 1) {
          RXM::SetDebugger(CTPointer<Debugger>(new NullDebugger()));
        }
        if (path.Mount(dir.Path("broken").c_str(), "b", true)) {
          ++wrong;
        }
        Pointer<KYFile> a = path.Open("a");
        if (a.IsNull() || ReadRest(*a) != "good") {
          ++wrong;
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  RXM::SetDebugger(installed);
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
