// What kymf mount asks FUSE for (FuseOptions), how it reads the mount
// table (ParseMountInfo) and names a mount point as the table does
// (ResolveMountPoint); the mounts themselves: kymf_mount.bats.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "backends/FaultySystem.h"
#include "mount/FuseOptions.h"
#include "mount/MountTable.h"

namespace {

using kymf::mount::FuseOptions;

TEST(FuseOptionsTest, KymfsOwnComeFirstAndTheGivenOnesFollow) {
  std::string why = "stale";
  EXPECT_EQ(FuseOptions("a,b\\c.kymf", {}, why),
            "ro,default_permissions,subtype=kymf,fsname=a\\,b\\\\c.kymf");
  EXPECT_EQ(why, "");
  EXPECT_EQ(FuseOptions("t.kymf", {"allow_other,,noatime", "ro", "max_read=4096"}, why),
            "ro,default_permissions,subtype=kymf,fsname=t.kymf,allow_other,noatime,ro,"
            "max_read=4096");
  EXPECT_EQ(why, "");
}

TEST(FuseOptionsTest, OptionsContradictingKymfsOwnAreRefusedByName) {
  const std::vector<std::tuple<std::vector<std::string>, std::string>> cases = {
      {{"rw"}, "-o rw: kymf mounts read-only"},
      {{"allow_other,rw"}, "-o rw: kymf mounts read-only"},
      {{"noatime", "fsname=x"}, "-o fsname=x: kymf names its mounts itself"},
      {{"subtype=zip"}, "-o subtype=zip: kymf names its mounts itself"}};
  for (const auto& [given, refusal] : cases) {
    std::string why;
    EXPECT_EQ(FuseOptions("t.kymf", given, why), "") << refusal;
    EXPECT_EQ(why.substr(0, refusal.size()), refusal);
  }
}

TEST(MountTableTest, ReadsPointTypeAndSourceWithEscapesUndone) {
  const std::string table =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "45 22 0:40 / /tmp/mnt\\040two ro,nosuid master:3 shared:9 - fuse.kymf g\\134x.kymf ro\n"
      "garbage line\n"
      "46 22 0:41 / /srv ro - fuse.kymf\n"
      "47 22 0:42 / /opt/m ro - fuse.sshfs host:/ rw\n";
  const std::vector<kymf::mount::MountEntry> entries = kymf::mount::ParseMountInfo(table);
  ASSERT_EQ(entries.size(), 3U);
  EXPECT_EQ(entries[0].point, "/");
  EXPECT_EQ(entries[1].point, "/tmp/mnt two");
  EXPECT_EQ(entries[1].type, kymf::mount::kMountType);
  EXPECT_EQ(entries[1].source, "g\\x.kymf");
  EXPECT_EQ(entries[2].type, "fuse.sshfs");
}

TEST(MountTableTest, AFolderThatIsNoMountPointIsNoKymfMount) {
  std::string source = "kept";
  EXPECT_FALSE(kymf::mount::FindKymfMount(".", source));
  EXPECT_EQ(source, "kept");
}

#if !defined(_WIN32)
// Links anywhere in the path are followed, a ".." after one from where it
// leads (as the kernel names the folder in its table); a loop of links and
// a failing look at a link are said with the system's reason.
TEST(MountTableTest, AMountPointIsNamedWithEveryLinkInItFollowed) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() /
      ("kymf-point-" + std::to_string(testing::UnitTest::GetInstance()->random_seed()));
  fs::remove_all(dir);
  fs::create_directories(dir / "real" / "mnt");
  fs::create_directory_symlink("real", dir / "via");
  fs::create_directory_symlink("real/mnt", dir / "deep");
  fs::create_symlink("loop", dir / "loop");
  RXM::sys::System& system = RXM::sys::System::Default();
  const std::string expected = fs::canonical(dir / "real" / "mnt").string();
  for (const char* point : {"via/mnt", "via/mnt/", "deep", "deep/../mnt", "./via/./mnt"}) {
    std::string resolved;
    EXPECT_EQ(kymf::mount::ResolveMountPoint(system, (dir / point).string(), resolved), 0);
    EXPECT_EQ(resolved, expected) << point;
  }
  std::string resolved = "kept";
  EXPECT_EQ(kymf::mount::ResolveMountPoint(system, (dir / "loop" / "x").string(), resolved), ELOOP);
  testing_support::FaultySystem failing;
  failing.FailCall(2);
  EXPECT_EQ(kymf::mount::ResolveMountPoint(failing, (dir / "via").string(), resolved), EIO);
  EXPECT_EQ(resolved, "kept");
  fs::remove_all(dir);
}
#endif

}  // namespace
