// The one decision of what a search path source is, which SearchPath::Mount,
// kymf --path and kymf mount all take.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "TestSupport.h"
#include "backends/FaultySystem.h"
#include "searchpath/SourceKind.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace {

using namespace testing_support;
using RXM::ErrorCode;
using RXM::SourceKind;

struct KindCase {
  std::string label;
  std::string content;  // written as "source"; "/" makes a folder, "" nothing at all
  bool known;
  SourceKind kind;
  ErrorCode code;
};

// Printed by its label: the bytes of the struct hold padding.
std::ostream& operator<<(std::ostream& out, const KindCase& c) {
  return out << c.label;
}

class SourceKindTest : public testing::TestWithParam<KindCase> {};

TEST_P(SourceKindTest, IsDecidedByWhatTheNameHolds) {
  const KindCase& c = GetParam();
  TempDir dir;
  const std::string source = dir.Path("source");
  if (c.content == "/") {
    ASSERT_TRUE(std::filesystem::create_directory(source));
  } else if (!c.content.empty()) {
    WriteAll(source, c.content);
  }
  SourceKind kind = SourceKind::kModule;
  RXM::Status why;
  EXPECT_EQ(RXM::IdentifySource(source, RXM::sys::System::Default(), &kind, why), c.known);
  EXPECT_EQ(why.GetCode(), c.code) << why.GetText();
  if (c.known) {
    EXPECT_EQ(kind, c.kind);
  } else {
    EXPECT_NE(std::string(why.GetText()).find(source), std::string::npos) << why.GetText();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SourceKindTest,
    testing::Values(KindCase{"Folder", "/", true, SourceKind::kFolder, ErrorCode::kOk},
                    KindCase{"ArchiveByItsMagic", std::string("KYMF\0\0\0\0", 8), true,
                             SourceKind::kArchive, ErrorCode::kOk},
                    KindCase{"DamagedArchiveIsStillAnArchive", "KYMF", true, SourceKind::kArchive,
                             ErrorCode::kOk},
                    KindCase{"AnyOtherFileIsForTheModuleReader", "MZ not really", true,
                             SourceKind::kModule, ErrorCode::kOk},
                    KindCase{"Missing", "", false, SourceKind::kModule, ErrorCode::kNoSuchFile}),
    CaseName<KindCase>);

// A URL is an archive without a look at the disk: nothing there decides it.
TEST(SourceKindUrlTest, IsAnArchiveWithoutExaminingAnything) {
  FaultySystem system;
  system.FailCall(1);  // the first call of any kind would fail
  SourceKind kind = SourceKind::kFolder;
  RXM::Status why;
  ASSERT_TRUE(RXM::IdentifySource("https://example.com/a.kymf", system, &kind, why));
  EXPECT_EQ(kind, SourceKind::kArchive);
  EXPECT_EQ(system.callsSeen(), 0);
}

#if !defined(_WIN32)
// Never opened, so never waited on: a FIFO is refused for what it is.
TEST(SourceKindFifoTest, AFifoIsNoSourceAndIsNotOpened) {
  TempDir dir;
  const std::string fifo = dir.Path("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  SourceKind kind = SourceKind::kFolder;
  RXM::Status why;
  EXPECT_FALSE(RXM::IdentifySource(fifo, RXM::sys::System::Default(), &kind, why));
  EXPECT_EQ(why.GetCode(), ErrorCode::kNotAnArchive) << why.GetText();
}
#endif

}  // namespace
