// A writer whose call to the system fails says the system's reason, and
// carries its errno value in the Status; an archive name that is no regular
// file is refused by the writers and the reader before anything is read,
// written or replaced.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "backends/FaultySystem.h"
#include "multifile/ArchiveBytes.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using namespace testing_support;
using RXM::ErrorCode;

struct ReasonCase {
  const char* name;
  std::function<void(FaultySystem&)> fault;
  ErrorCode code;
  int error;
  const char* said;  // what the message says before the system's reason
};

std::ostream& operator<<(std::ostream& out, const ReasonCase& c) {
  return out << c.name;
}

const ReasonCase kWriterCases[] = {
    {"temporary_file", [](FaultySystem& s) { s.createTemporaryError = EACCES; },
     ErrorCode::kWriteFailed, EACCES, ".tmp-XXXXXX"},
    {"write", [](FaultySystem& s) { s.writesBeforeFailing = 0; }, ErrorCode::kWriteFailed, ENOSPC,
     "could not write the new archive"},
    {"replace", [](FaultySystem& s) { s.failReplace = true; }, ErrorCode::kReplaceFailed, EXDEV,
     "could not put the new archive in place"},
};

class WriterReasonTest : public testing::TestWithParam<ReasonCase> {};

TEST_P(WriterReasonTest, SaysTheSystemsReason) {
  const ReasonCase& c = GetParam();
  TempDir dir;
  const Bytes before = Archive({{"a", "abc"}});
  const std::string path = Written(dir, "r.kymf", before);
  FaultySystem system;
  c.fault(system);
  MultiFileWriter writer(system, path.c_str(), true);
  writer.AddBytes("b", "b", 1);
  ASSERT_FALSE(writer.Commit());
  const RXM::Status& status = writer.GetStatus();
  EXPECT_EQ(status.GetCode(), c.code) << status.GetText();
  EXPECT_EQ(status.GetSystemError(), c.error) << status.GetText();
  const std::string text = status.GetText();
  const std::string reason = std::string(c.said) + ": " + RXM::SystemReason(c.error);
  EXPECT_NE(text.find(reason), std::string::npos) << text;
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_TRUE(Leftovers(dir).empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, WriterReasonTest, testing::ValuesIn(kWriterCases),
                         [](const testing::TestParamInfo<ReasonCase>& tested) {
                           return std::string(tested.param.name);
                         });

// InsertFile's temporary file has a fixed name, made through an open.
TEST(InsertReasonTest, ATemporaryFileThatCannotBeMadeSaysWhy) {
  TempDir dir;
  const std::string path = Written(dir, "i.kymf", Archive({{"a", "abc"}}));
  const std::string input = Written(dir, "input", BytesOf("xyz"));
  FaultySystem system;
  Pointer<MultiFile> archive(new MultiFile(system));
  ASSERT_TRUE(archive->OpenMultiFile(Pointer<KYFile>(), path.c_str()));
  system.refuseOpen = [](const char* name) {
    return std::strstr(name, ".tmp") != nullptr ? EACCES : 0;
  };
  EXPECT_FALSE(archive->InsertFile(Pointer<KYFile>(), input.c_str(), "b"));
  const RXM::Status& status = archive->GetStatus();
  EXPECT_EQ(status.GetCode(), ErrorCode::kWriteFailed);
  EXPECT_EQ(status.GetSystemError(), EACCES);
  EXPECT_EQ(std::string(status.GetText()),
            path + ".tmp: cannot be created: " + RXM::SystemReason(EACCES));
}

#if !defined(_WIN32)

// What a writer finds under the archive's name.
struct KindCase {
  const char* name;
  std::function<void(const std::string& path)> make;
  ErrorCode code;
};

const KindCase kKindCases[] = {
    {"fifo", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
     ErrorCode::kNotARegularFile},
    {"folder", [](const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0700), 0); },
     ErrorCode::kIsAFolder},
};

std::ostream& operator<<(std::ostream& out, const KindCase& c) {
  return out << c.name;
}

class KindTest : public testing::TestWithParam<KindCase> {};

// Without the refusal the FIFO or folder is replaced by the new archive, or
// the writer waits forever on the FIFO.
TEST_P(KindTest, NewArchiveIsRefusedAndWhatWasThereStays) {
  const KindCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.Path("k.kymf");
  c.make(path);
  for (const bool keep : {false, true}) {
    MultiFileWriter writer(path.c_str(), keep);
    writer.AddBytes("b", "b", 1);
    EXPECT_FALSE(writer.Commit()) << c.name;
    EXPECT_EQ(writer.GetStatus().GetCode(), c.code) << writer.GetError();
    struct stat status;
    ASSERT_EQ(::lstat(path.c_str(), &status), 0);
    EXPECT_FALSE(S_ISREG(status.st_mode));
    EXPECT_TRUE(Leftovers(dir).empty());
  }
}

// A FIFO with a writer and a whole archive in it: what the reader would
// read is an archive, but it is no file to read entries from at offsets.
TEST_P(KindTest, ReaderRefusesItBeforeReading) {
  const KindCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.Path("k.kymf");
  c.make(path);
  int held = -1;
  if (std::strcmp(c.name, "fifo") == 0) {
    held = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(held, 0);
    const Bytes archive = Archive({{"a", "abc"}});
    ASSERT_EQ(::write(held, archive.data(), archive.size()), static_cast<ssize_t>(archive.size()));
  }
  DebuggerCapture debugger;
  Pointer<MultiFile> archive(new MultiFile());
  EXPECT_FALSE(archive->OpenMultiFile(Pointer<KYFile>(), path.c_str()));
  EXPECT_EQ(archive->GetStatus().GetCode(), c.code) << archive->GetStatus().GetText();
  EXPECT_EQ(RXM::sys::System::Default().openForReading(path.c_str()), RXM::sys::kNoHandle);
  if (held >= 0) {
    ::close(held);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, KindTest, testing::ValuesIn(kKindCases),
                         [](const testing::TestParamInfo<KindCase>& tested) {
                           return std::string(tested.param.name);
                         });

#endif

}  // namespace
