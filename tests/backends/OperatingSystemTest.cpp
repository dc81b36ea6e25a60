// The real system calls behind the seam, on the platform at hand (on Windows:
// _fsopen, _commit and MoveFileExA).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "TestSupport.h"
#include "backends/FaultySystem.h"
#include "backends/System.h"

namespace {

using namespace testing_support;

class OperatingSystemTest : public testing::Test {
 protected:
  TempDir dir;
  RXM::sys::System& calls = RXM::sys::System::Default();
};

TEST_F(OperatingSystemTest, AFileWrittenFlushedAndSyncedHoldsItsBytes) {
  std::FILE* stream = calls.open(dir.Path("f").c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(calls.write("bytes\n", 1, 6, stream), 6u);
  EXPECT_EQ(calls.flush(stream), 0);
  EXPECT_EQ(calls.sync(stream), 0);
  EXPECT_EQ(calls.close(stream), 0);
  EXPECT_EQ(ReadAll(dir.Path("f")), BytesOf("bytes\n"));  // binary: no CR added
  EXPECT_EQ(calls.open(dir.Path("missing").c_str(), "rb"), nullptr);
}

TEST_F(OperatingSystemTest, ReplaceTakesTheTargetsPlaceInOneStep) {
  const std::string from = dir.Path("new.tmp"), to = dir.Path("target");
  WriteAll(to, std::string("old"));
  WriteAll(from, std::string("new"));
  ASSERT_EQ(calls.replace(from.c_str(), to.c_str()), 0);
  EXPECT_EQ(ReadAll(to), BytesOf("new"));
  EXPECT_FALSE(Exists(from));
  EXPECT_EQ(calls.syncDirectoryOf(to.c_str()), 0);

  // A missing source fails and leaves the target alone; a missing target is
  // simply created.
  EXPECT_NE(calls.replace(from.c_str(), to.c_str()), 0);
  EXPECT_EQ(ReadAll(to), BytesOf("new"));
  WriteAll(from, std::string("fresh"));
  ASSERT_EQ(calls.replace(from.c_str(), dir.Path("created").c_str()), 0);
  EXPECT_EQ(ReadAll(dir.Path("created")), BytesOf("fresh"));
  EXPECT_EQ(calls.remove(dir.Path("created").c_str()), 0);
  EXPECT_FALSE(Exists(dir.Path("created")));
}

TEST_F(OperatingSystemTest, InspectTellsMissingFileAndFolderApart) {
  WriteAll(dir.Path("f"), std::string("12345"));
  RXM::sys::FileInfo info;
  ASSERT_EQ(calls.inspect(dir.Path("f").c_str(), &info), 0);
  EXPECT_EQ(info.kind, RXM::sys::FileKind::kFile);
  EXPECT_EQ(info.size, 5u);
  ASSERT_EQ(calls.inspect(dir.Path("").c_str(), &info), 0);
  EXPECT_EQ(info.kind, RXM::sys::FileKind::kFolder);
  ASSERT_EQ(calls.inspect(dir.Path("missing").c_str(), &info), 0);
  EXPECT_EQ(info.kind, RXM::sys::FileKind::kMissing);
  ASSERT_EQ(calls.inspect(dir.Path("missing/below").c_str(), &info), 0);
  EXPECT_EQ(info.kind, RXM::sys::FileKind::kMissing);
}

// One rule of which file a name or a handle reaches, on every system: the
// archive lock and kymf (an input that is its own archive) compare by it.
TEST_F(OperatingSystemTest, ANameALinkAndAHandleOfOneFileShareItsIdentityAndOtherFilesDoNot) {
  WriteAll(dir.Path("a"), std::string("same"));
  WriteAll(dir.Path("b"), std::string("same"));
  std::filesystem::create_hard_link(dir.Path("a"), dir.Path("link"));
  const auto identity = [this](const std::string& name) {
    RXM::sys::FileInfo info;
    EXPECT_EQ(calls.inspect(dir.Path(name).c_str(), &info), 0) << name;
    EXPECT_TRUE(info.device != 0 || info.node != 0) << name;
    return std::make_pair(info.device, info.node);
  };
  EXPECT_NE(identity("a"), identity("b"));
  EXPECT_EQ(identity("a"), identity("link"));
  std::FILE* stream = calls.open(dir.Path("a").c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  RXM::sys::FileInfo held;
  ASSERT_EQ(calls.inspectHandle(calls.handleOf(stream), &held), 0);
  EXPECT_EQ(std::make_pair(held.device, held.node), identity("a"));
  EXPECT_EQ(calls.close(stream), 0);
}

TEST_F(OperatingSystemTest, ReadAtReadsWhereAskedAndShortAtTheEnd) {
  WriteAll(dir.Path("f"), std::string("0123456789"));
  EXPECT_EQ(calls.openForReading(dir.Path("missing").c_str()), RXM::sys::kNoHandle);
  const RXM::sys::Handle handle = calls.openForReading(dir.Path("f").c_str());
  ASSERT_NE(handle, RXM::sys::kNoHandle);
  char buffer[8] = {};
  EXPECT_EQ(calls.readAt(handle, buffer, 3, 7), 3);
  EXPECT_EQ(std::string(buffer, 3), "789");
  // No position is kept: the same offset reads the same bytes again.
  EXPECT_EQ(calls.readAt(handle, buffer, 4, 2), 4);
  EXPECT_EQ(calls.readAt(handle, buffer + 4, 4, 2), 4);
  EXPECT_EQ(std::string(buffer, 8), "23452345");
  EXPECT_EQ(calls.readAt(handle, buffer, 8, 8), 2);
  EXPECT_EQ(calls.readAt(handle, buffer, 8, 10), 0);
  EXPECT_EQ(calls.readAt(handle, buffer, 8, 1000), 0);
  EXPECT_EQ(calls.closeHandle(handle), 0);
}

// The second handle reads the file the stream has open, by offset, and
// neither moves the stream nor follows the name to a file put in its place
// (where the platform lets one be put there while it is open).
TEST_F(OperatingSystemTest, ASecondHandleReadsTheOpenedFileAndLeavesTheStreamWhereItWas) {
  const std::string path = dir.Path("f");
  WriteAll(path, std::string("0123456789"));
  std::FILE* stream = calls.open(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  char buffer[4] = {};
  ASSERT_EQ(calls.read(buffer, 1, 2, stream), 2u);
  const RXM::sys::Handle second = calls.duplicateForReading(stream);
  ASSERT_NE(second, RXM::sys::kNoHandle);
#if !defined(_WIN32)
  WriteAll(dir.Path("other"), std::string("abcdefghij"));
  ASSERT_EQ(calls.replace(dir.Path("other").c_str(), path.c_str()), 0);
#endif
  EXPECT_EQ(calls.readAt(second, buffer, 3, 7), 3);
  EXPECT_EQ(std::string(buffer, 3), "789");
  ASSERT_EQ(calls.read(buffer, 1, 2, stream), 2u);
  EXPECT_EQ(std::string(buffer, 2), "23");
  EXPECT_EQ(calls.closeHandle(second), 0);
  ASSERT_EQ(calls.read(buffer, 1, 2, stream), 2u);  // the stream outlives the handle
  EXPECT_EQ(std::string(buffer, 2), "45");
  EXPECT_EQ(calls.close(stream), 0);
}

#if defined(__linux__)
// The second handle is an open file of its own, as ReOpenFile's is: moving
// it leaves the stream's descriptor where it was (a duplicate would move
// both, and make every seek of the stream take the file's position lock),
// and it still reads the file once the name is gone.
TEST_F(OperatingSystemTest, ASecondHandleHasAPositionOfItsOwnAndOutlivesTheName) {
  const std::string path = dir.Path("f");
  WriteAll(path, std::string("0123456789"));
  std::FILE* stream = calls.open(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(calls.seek(stream, 3, SEEK_SET), 0);
  const RXM::sys::Handle second = calls.duplicateForReading(stream);
  ASSERT_NE(second, RXM::sys::kNoHandle);
  EXPECT_NE(static_cast<int>(second), fileno(stream));
  ASSERT_EQ(::lseek(static_cast<int>(second), 8, SEEK_SET), 8);
  EXPECT_EQ(::lseek(fileno(stream), 0, SEEK_CUR), 3);
  ASSERT_EQ(calls.remove(path.c_str()), 0);
  char buffer[4] = {};
  EXPECT_EQ(calls.readAt(second, buffer, 4, 1), 4);
  EXPECT_EQ(std::string(buffer, 4), "1234");
  EXPECT_EQ(calls.closeHandle(second), 0);
  EXPECT_EQ(calls.close(stream), 0);
}
#endif

// A private folder is made new or not at all: a name already taken, by a
// link above all, is refused and nothing is made where the link points. It
// goes by remove once empty, and only then (on Windows too).
TEST_F(OperatingSystemTest, APrivateFolderIsMadeOnlyUnderAFreeNameAndRemovedOnlyWhenEmpty) {
  const std::string folder = dir.Path("own");
  ASSERT_EQ(calls.makePrivateFolder(folder.c_str()), 0);
  EXPECT_EQ(calls.makePrivateFolder(folder.c_str()), EEXIST);
  EXPECT_EQ(calls.makePrivateFolder(dir.Path("missing/own").c_str()), ENOENT);
#if !defined(_WIN32)
  std::filesystem::create_symlink(dir.Path("elsewhere"), dir.Path("link"));
  EXPECT_EQ(calls.makePrivateFolder(dir.Path("link").c_str()), EEXIST);
  EXPECT_FALSE(Exists(dir.Path("elsewhere")));
#endif
  WriteAll(folder + "/file", std::string("x"));
  EXPECT_NE(calls.remove(folder.c_str()), 0);
  EXPECT_TRUE(Exists(folder + "/file"));
  EXPECT_EQ(calls.remove((folder + "/file").c_str()), 0);
  EXPECT_EQ(calls.remove(folder.c_str()), 0);
  EXPECT_FALSE(Exists(folder));
}

// A relative name is joined to the current folder the system names; an
// absolute one is kept without asking it; a failure leaves the answer alone.
TEST_F(OperatingSystemTest, ANameIsMadeAbsoluteAgainstTheSystemsCurrentFolder) {
  std::string current;
  ASSERT_EQ(calls.currentFolder(&current), 0);
  EXPECT_TRUE(std::filesystem::equivalent(current, std::filesystem::current_path()));
  std::string absolute;
  ASSERT_EQ(RXM::sys::MakeAbsolute(calls, "a/b.kymf", &absolute), 0);
  EXPECT_EQ(std::filesystem::path(absolute), std::filesystem::path(current) / "a/b.kymf");

  FaultySystem failing;
  failing.FailCall(1);
  ASSERT_EQ(RXM::sys::MakeAbsolute(failing, dir.Path("x"), &absolute), 0);
  EXPECT_EQ(absolute, dir.Path("x"));
  EXPECT_EQ(failing.failedCall(), nullptr);  // never asked
  absolute = "unchanged";
  EXPECT_EQ(RXM::sys::MakeAbsolute(failing, "x", &absolute), EIO);
  EXPECT_EQ(absolute, "unchanged");
}

#if !defined(_WIN32)
// TMPDIR first, whatever it names; the folder chosen is named on failure too.
TEST_F(OperatingSystemTest, TheTemporaryFolderIsTheOneTheEnvironmentNames) {
  const char* before = std::getenv("TMPDIR");  // NOLINT(concurrency-mt-unsafe)
  const std::string saved = before != nullptr ? before : "";
  const auto restore = [&] {
    if (before != nullptr) {
      setenv("TMPDIR", saved.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    } else {
      unsetenv("TMPDIR");  // NOLINT(concurrency-mt-unsafe)
    }
  };
  WriteAll(dir.Path("file"), std::string("x"));
  const std::pair<std::string, int> cases[] = {
      {dir.Path(""), 0}, {dir.Path("file"), ENOTDIR}, {dir.Path("missing"), ENOENT}};
  for (const auto& [folder, error] : cases) {
    setenv("TMPDIR", folder.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    std::string named;
    EXPECT_EQ(calls.temporaryFolder(&named), error) << folder;
    EXPECT_EQ(named, folder);
  }
  setenv("TMPDIR", "", 1);  // NOLINT(concurrency-mt-unsafe): empty counts as unset
  std::string named;
  calls.temporaryFolder(&named);
  EXPECT_NE(named, "");
  restore();
}
#endif

}  // namespace
