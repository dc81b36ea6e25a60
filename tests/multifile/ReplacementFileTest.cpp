// What replacing an archive keeps and what it never touches, for both
// writers: InsertFile and MultiFileWriter.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "backends/System.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;
using RXM::ErrorCode;
namespace fs = std::filesystem;

enum class Writer { kInsertFile, kMultiFileWriter };

class ReplacementTest : public testing::TestWithParam<Writer> {
 protected:
  // Adds the entry "new" through `name` (the archive or a link to it) with
  // the writer under test; its status.
  RXM::Status Add(const std::string& name) {
    if (GetParam() == Writer::kInsertFile) {
      MultiFile archive(name.c_str());
      archive.InsertFile(Pointer<KYFile>(), input.c_str(), "new");
      return archive.GetStatus();
    }
    MultiFileWriter writer(name.c_str(), true);
    writer.AddBytes("new", "data", 4);
    writer.Commit();
    return writer.GetStatus();
  }

  TempDir dir;
  const Bytes before = Archive({{"a", "abc"}});
  const Bytes after = Archive({{"a", "abc"}, {"new", "data"}});
  const std::string path = Written(dir, "game.kymf", before);
  const std::string input = Written(dir, "input", BytesOf("data"));
};

TEST_P(ReplacementTest, KeepsThePermissionsAndRefusesAReadOnlyArchive) {
#if !defined(_WIN32)
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_TRUE(Add(path).IsOk());
  EXPECT_EQ(ReadAll(path), after);
  EXPECT_EQ(fs::status(path).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  WriteAll(path, before);
#endif
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const RXM::Status refused = Add(path);
  EXPECT_EQ(refused.GetCode(), ErrorCode::kReadOnly) << refused.GetText();
  EXPECT_EQ(std::string(refused.GetText()).rfind(path + ": read-only", 0), 0u);
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_TRUE(Leftovers(dir).empty());
}

TEST_P(ReplacementTest, ReplacesTheFileALinkPointsToAndKeepsTheLink) {
#if defined(_WIN32)
  GTEST_SKIP() << "symbolic links need a privilege on Windows";
#else
  fs::create_directory(dir.Path("store"));
  fs::rename(path, dir.Path("store/real.kymf"));
  fs::create_symlink("store/real.kymf", path);
  ASSERT_TRUE(Add(path).IsOk());
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_EQ(ReadAll(dir.Path("store/real.kymf")), after);
  EXPECT_TRUE(Leftovers(dir).empty());
#endif
}

// A link under the fixed temporary name is never written through; a file
// of someone else's under it is left to MultiFileWriter, whose temporary
// names are its own.
TEST_P(ReplacementTest, NeverWritesThroughWhatIsUnderTheTemporaryName) {
#if defined(_WIN32)
  GTEST_SKIP() << "symbolic links need a privilege on Windows";
#else
  const std::string important = Written(dir, "important.txt", BytesOf("important"));
  fs::create_symlink("important.txt", path + ".tmp");
  ASSERT_TRUE(Add(path).IsOk());
  EXPECT_EQ(ReadAll(important), BytesOf("important"));
  EXPECT_EQ(ReadAll(path), after);
  fs::remove(path + ".tmp");
  WriteAll(path + ".tmp", std::string("precious"));
  WriteAll(path, before);
  ASSERT_TRUE(Add(path).IsOk());
  EXPECT_EQ(Exists(path + ".tmp"), GetParam() == Writer::kMultiFileWriter);
#endif
}

// A temporary file that a killed writer left is removed by the next writer;
// one that a live writer holds is not.
TEST_P(ReplacementTest, RemovesTheTemporaryFilesOfKilledWriters) {
  WriteAll(path + ".tmp-dead00", std::string("left by a killed writer"));
  std::string live;
  std::FILE* held = RXM::sys::System::Default().createTemporary((path + ".tmp-").c_str(), &live);
  ASSERT_NE(held, nullptr);
  ASSERT_TRUE(Add(path).IsOk());
  EXPECT_FALSE(Exists(path + ".tmp-dead00"));
  EXPECT_TRUE(Exists(live));
  std::fclose(held);
  std::remove(live.c_str());
}

INSTANTIATE_TEST_SUITE_P(Writers, ReplacementTest,
                         testing::Values(Writer::kInsertFile, Writer::kMultiFileWriter),
                         [](const testing::TestParamInfo<Writer>& writer) {
                           return writer.param == Writer::kInsertFile ? "InsertFile"
                                                                      : "MultiFileWriter";
                         });

}  // namespace
