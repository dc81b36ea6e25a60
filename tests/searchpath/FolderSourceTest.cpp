// A folder of a search path under failing calls: whichever call fails, what
// is said of a name is the truth or nothing, and no handle stays open.
#include "searchpath/FolderSource.h"

#include <gtest/gtest.h>

#include <ostream>

#include "backends/FaultySystem.h"
#include "backends/MemorySystem.h"

namespace {

using testing_support::FaultySystem;
using testing_support::MemorySystem;

struct Name {
  const char* name;
  int kinds;  // what it is when no call fails
};

// Printed by its name: Google Test would print the structure's bytes, its
// padding among them.
void PrintTo(const Name& name, std::ostream* out) {
  *out << name.name;
}

class FolderSourceFaultTest : public testing::TestWithParam<Name> {};

TEST_P(FolderSourceFaultTest, AFailedCallSaysNothingWrongAndLeavesNoHandleOpen) {
  MemorySystem memory;
  ASSERT_TRUE(memory.makeFolder("/root") && memory.makeFolder("/root/maps") &&
              memory.put("/root/maps/1.map", "level", 5));
  FaultySystem system(memory);
  const RXM::FolderSource source("/root", system);
  RXM::Status why;
  const RXM::SourceStat whole = source.Stat(GetParam().name, why);
  ASSERT_EQ(whole.kinds, GetParam().kinds);
  for (int call = 1;; ++call) {
    system.FailCall(call);
    const RXM::SourceStat stat = source.Stat(GetParam().name, why);
    const bool statFailed = system.failedCall() != nullptr;
    EXPECT_TRUE(stat.kinds == whole.kinds || (statFailed && stat.kinds == 0))
        << "call " << call << " (" << (statFailed ? system.failedCall() : "none") << ")";
    EXPECT_TRUE(stat.kinds != RXM::kFileName || stat.size == whole.size) << "call " << call;
    system.Heal();
    system.FailCall(call);
    const Pointer<KYFile> file = source.Open(GetParam().name, why);
    const bool openFailed = system.failedCall() != nullptr;
    EXPECT_TRUE(file.IsNull() == ((whole.kinds & RXM::kFileName) == 0) ||
                (openFailed && file.IsNull()))
        << "call " << call;
    system.Heal();
    EXPECT_EQ(memory.openHandles(), file.IsNull() ? 0u : 1u) << "call " << call;
    if (!statFailed && !openFailed) {
      break;  // every call of both was failed once
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Names, FolderSourceFaultTest,
                         testing::Values(Name{"maps/1.map", RXM::kFileName},
                                         Name{"maps", RXM::kFolderName}, Name{"none", 0}));

}  // namespace
