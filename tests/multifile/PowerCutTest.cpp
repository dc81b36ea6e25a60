// A power cut at any moment of an insertion or a writer's commit: the file
// system in memory keeps only what was made durable (a file's bytes at its
// sync, a folder's names at its sync), and before every call to the system
// the test takes what a cut just then would leave. Each must hold the old
// archive or the new one, byte for byte, never a mix or nothing; once the
// operation has reported success, the new one (so the folder's sync after the
// rename is tested too).
#include <gtest/gtest.h>

#include <ostream>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backends/FaultySystem.h"
#include "backends/MemorySystem.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

const char* const kPath = "/data/a.kymf";
const char* const kInput = "/data/input.txt";
const Bytes kOld = Archive({{"keep.txt", "kept bytes"}, {"gone.txt", "removed"}});

struct Operation {
  const char* label;
  std::function<bool(RXM::sys::System& system)> run;
};

// Printed by what names the case: googletest would dump its bytes, unset
// padding among them.
void PrintTo(const Operation& c, std::ostream* out) {
  *out << c.label;
}

bool Insert(RXM::sys::System& system) {
  Pointer<MultiFile> archive(new MultiFile(system));
  if (!archive->OpenMultiFile(Pointer<KYFile>(), kPath)) {
    return false;
  }
  Pointer<KYFile> input(new DiskFile(system));
  return archive->InsertFile(input, kInput, "new.txt");
}

bool Commit(RXM::sys::System& system) {
  MultiFileWriter writer(system, kPath, true);
  writer.AddBytes("new.txt", "fresh", 5);
  return writer.RemoveExisting("gone.txt") && writer.Commit();
}

const Operation kOperations[] = {{"InsertFile", Insert}, {"Commit", Commit}};

class PowerCutTest : public testing::TestWithParam<Operation> {};

TEST_P(PowerCutTest, LeavesTheOldOrTheNewArchiveAtEveryCall) {
  MemorySystem memory;
  ASSERT_TRUE(memory.makeFolder("/data"));
  ASSERT_TRUE(memory.put(kPath, kOld.data(), kOld.size()));
  ASSERT_TRUE(memory.put(kInput, "inserted", 8));
  FaultySystem counting(memory);
  std::vector<std::unique_ptr<MemorySystem>> cuts;
  std::vector<std::string> calls;
  counting.beforeCall = [&](int /*number*/, const char* call) {
    cuts.push_back(memory.afterPowerCut());
    calls.emplace_back(call);
  };
  ASSERT_TRUE(GetParam().run(counting));
  counting.beforeCall = nullptr;
  Bytes fresh;
  ASSERT_TRUE(memory.get(kPath, &fresh));
  ASSERT_NE(fresh, kOld);
  cuts.push_back(memory.afterPowerCut());
  calls.emplace_back("(after it returned)");
  ASSERT_GT(cuts.size(), 10u);

  for (std::size_t i = 0; i < cuts.size(); ++i) {
    const std::string at = "a cut before call " + std::to_string(i + 1) + " (" + calls[i] + ")";
    Bytes survived;
    ASSERT_TRUE(cuts[i]->get(kPath, &survived)) << at << ": the archive is gone";
    EXPECT_TRUE(survived == kOld || survived == fresh)
        << at << ": " << survived.size() << " bytes, neither old nor new";
  }
  Bytes last;
  ASSERT_TRUE(cuts.back()->get(kPath, &last));
  EXPECT_EQ(last, fresh) << "a cut after success loses the new archive";
}

INSTANTIATE_TEST_SUITE_P(Operations, PowerCutTest, testing::ValuesIn(kOperations),
                         CaseName<Operation>);

// The model itself: what is not synced does not survive.
TEST(PowerCutModelTest, OnlySyncedBytesAndSyncedNamesSurvive) {
  MemorySystem memory;
  ASSERT_TRUE(memory.makeFolder("/d"));
  std::FILE* stream = memory.open("/d/f", "wb");
  ASSERT_NE(stream, nullptr);
  memory.write("abc", 1, 3, stream);
  memory.flush(stream);
  Bytes bytes;
  EXPECT_FALSE(memory.afterPowerCut()->get("/d/f", &bytes)) << "a name never synced survived";
  memory.syncDirectoryOf("/d/f");
  ASSERT_TRUE(memory.afterPowerCut()->get("/d/f", &bytes));
  EXPECT_TRUE(bytes.empty()) << "bytes never synced survived";
  memory.sync(stream);
  ASSERT_TRUE(memory.afterPowerCut()->get("/d/f", &bytes));
  EXPECT_EQ(bytes, BytesOf("abc"));
  memory.close(stream);
  ASSERT_EQ(memory.replace("/d/f", "/d/g"), 0);
  EXPECT_TRUE(memory.afterPowerCut()->get("/d/f", &bytes)) << "a rename never synced survived";
  memory.syncDirectoryOf("/d/g");
  EXPECT_TRUE(memory.afterPowerCut()->get("/d/g", &bytes));
  EXPECT_FALSE(memory.afterPowerCut()->get("/d/f", &bytes));
}

}  // namespace
