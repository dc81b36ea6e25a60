// Every call to the system that an insertion, a writer's commit or an
// extraction makes is failed in turn, one run per call (N = 1, 2, ... until a
// run makes fewer than N calls): each run must end in the old archive or the
// new one, byte for byte, say why it failed when it did, and leave no open
// stream behind, nor any temporary file but the one InsertFile is known to
// leave (NAME.tmp after a failure it throws, overwritten by the next
// insertion, which the sweep then makes).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>

#include "backends/FaultySystem.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

struct Sweep {
  const char* label;
  // Runs the operation on the archive `path` through `system`; true when it
  // reported success, with its reason in *why otherwise.
  std::function<bool(RXM::sys::System& system, const std::string& path, std::string* why)> run;
  // The temporary file a failed run may leave, or null for none.
  const char* leftover;
};

// Printed by its label, not as raw bytes (some of a std::function's are unset).
void PrintTo(const Sweep& sweep, std::ostream* out) {
  *out << sweep.label;
}

const Bytes kOld = Archive({{"keep.txt", "kept bytes"}, {"gone.txt", "removed"}});

bool Insert(RXM::sys::System& system, const std::string& path, std::string* why) {
  const std::string input = path + ".input";
  Pointer<MultiFile> archive(new MultiFile(system));
  if (!archive->OpenMultiFile(Pointer<KYFile>(), path.c_str())) {
    *why = archive->GetStatus().GetText();
    return false;
  }
  try {
    if (archive->InsertFile(Pointer<KYFile>(), input.c_str(), "new.txt")) {
      return true;
    }
    *why = archive->GetStatus().GetText();
  } catch (Exception* e) {
    *why = e->GetText();
    delete e;
  }
  return false;
}

bool Commit(RXM::sys::System& system, const std::string& path, std::string* why) {
  MultiFileWriter writer(system, path.c_str(), true);
  writer.AddBytes("new.txt", "fresh", 5);
  // Each edit reads the archive (once) and may fail; a caller then stops.
  if (writer.RemoveExisting("gone.txt") && writer.RenameExisting("keep.txt", "kept/keep.txt") &&
      writer.Commit()) {
    return true;
  }
  *why = writer.GetError();
  return false;
}

const Sweep kSweeps[] = {{"InsertFile", Insert, "a.kymf.tmp"}, {"Commit", Commit, nullptr}};

// The temporary files in `dir` but `allowed` (when not null).
std::vector<std::string> Strays(const TempDir& dir, const char* allowed) {
  std::vector<std::string> names = Leftovers(dir);
  names.erase(std::remove_if(names.begin(), names.end(),
                             [&](const std::string& name) { return allowed && name == allowed; }),
              names.end());
  return names;
}

class FaultSweepTest : public testing::TestWithParam<Sweep> {};

TEST_P(FaultSweepTest, EveryFailedCallLeavesTheOldOrTheNewArchiveAndNothingElse) {
  const Sweep& sweep = GetParam();
  // The new archive, as a run without faults makes it.
  Bytes fresh;
  {
    TempDir dir;
    const std::string path = Written(dir, "a.kymf", kOld);
    WriteAll(path + ".input", "inserted");
    FaultySystem system;
    std::string why;
    ASSERT_TRUE(sweep.run(system, path, &why)) << why;
    fresh = ReadAll(path);
    ASSERT_NE(fresh, kOld);
  }
  int calls = 0;
  for (int n = 1;; ++n) {
    TempDir dir;
    const std::string path = Written(dir, "a.kymf", kOld);
    WriteAll(path + ".input", "inserted");
    FaultySystem system;
    system.FailCall(n);
    std::string why;
    const bool done = sweep.run(system, path, &why);
    const char* failed = system.failedCall();
    calls = system.callsSeen();
    system.Heal();
    const std::string at = "call " + std::to_string(n) + " (" + (failed ? failed : "none") + ")";
    const Bytes now = ReadAll(path);
    EXPECT_TRUE(now == kOld || now == fresh)
        << at << ": the archive is neither old nor new (" << now.size() << " bytes, old "
        << kOld.size() << ", new " << fresh.size() << ", done " << done << ": " << why << ")";
    if (!done) {
      EXPECT_FALSE(why.empty()) << at << ": a failure without a reason";
    }
    EXPECT_TRUE(failed == nullptr || !done || now == fresh) << at;
    EXPECT_TRUE(Strays(dir, sweep.leftover).empty())
        << at << ": a temporary file is left: " << testing::PrintToString(Leftovers(dir));
    if (!Leftovers(dir).empty()) {
      // What a failed run left is no obstacle: the same run without faults
      // makes the new archive, and then nothing is left.
      std::string again;
      EXPECT_TRUE(sweep.run(system, path, &again)) << at << ": after it, " << again;
      EXPECT_TRUE(Leftovers(dir).empty()) << at << ": still left after a later run";
    }
    EXPECT_TRUE(system.openStreams.empty()) << at << ": a stream is left open";
    if (failed == nullptr) {
      EXPECT_TRUE(done) << at << ": no call failed, yet it did";
      EXPECT_EQ(now, fresh) << at;
      break;
    }
  }
  EXPECT_GT(calls, 5) << "the sweep reached too few calls to mean anything";
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultSweepTest, testing::ValuesIn(kSweeps), CaseName<Sweep>);

// ExtractToFile of one entry: the target holds the whole entry or does not
// exist, whichever call fails, but for a failed write or close of the target
// itself, which ExtractToFile does not report (its result is true once the
// entry was read whole, whatever the write did).
TEST(ExtractFaultSweepTest, EveryFailedCallLeavesTheWholeFileOrNone) {
  for (int n = 1;; ++n) {
    TempDir dir;
    const std::string path = Written(dir, "a.kymf", kOld);
    const std::string target = dir.Path("out.txt");
    FaultySystem system;
    system.FailCall(n);
    Pointer<MultiFile> archive(new MultiFile(system));
    bool done = archive->OpenMultiFile(Pointer<KYFile>(), path.c_str()) &&
                archive->OpenFile("keep.txt", "rb") && archive->ExtractToFile(target.c_str());
    const std::string why = archive->GetStatus().GetText();
    archive = nullptr;
    const char* failed = system.failedCall();
    system.Heal();
    const std::string at = "call " + std::to_string(n) + " (" + (failed ? failed : "none") + ")";
    const bool unreported =
        failed != nullptr && (std::string(failed) == "write" || std::string(failed) == "close");
    if (done && !unreported) {
      EXPECT_EQ(ReadAll(target), BytesOf("kept bytes")) << at;
    } else if (!done) {
      EXPECT_FALSE(why.empty()) << at << ": a failure without a reason";
      EXPECT_TRUE(!Exists(target) || ReadAll(target) == BytesOf("kept bytes"))
          << at << ": a partial file";
    }
    EXPECT_EQ(ReadAll(path), kOld) << at;
    EXPECT_TRUE(Leftovers(dir).empty()) << at;
    EXPECT_TRUE(system.openStreams.empty()) << at;
    if (failed == nullptr) {
      EXPECT_TRUE(done) << at;
      break;
    }
  }
}

}  // namespace
