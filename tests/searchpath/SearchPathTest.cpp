#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "multifile/ArchiveBytes.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

std::string ReadWhole(const Pointer<KYFile>& file) {
  return file.IsNull() ? "<none>" : ReadRest(*file);
}

class SearchPathTest : public testing::Test {
 protected:
  std::string MakeArchive(const std::string& name, const std::vector<Entry>& entries) {
    WriteAll(dir.Path(name), Archive(entries));
    return dir.Path(name);
  }
  std::string MakeFolder(const std::string& name) {
    EXPECT_TRUE(fs::create_directories(dir.Path(name))) << name;
    return dir.Path(name);
  }
  std::string Read(const char* name) const { return ReadWhole(path.Open(name)); }

  TempDir dir;
  DebuggerCapture debugger;
  SearchPath path;
};

TEST_F(SearchPathTest, PrependedSourcesOverrideAppendedOnesAreSearchedLast) {
  const std::string base = MakeArchive("base.kymf", {{"a", "base"}, {"only-base", "b"}});
  const std::string patch = MakeArchive("patch.kymf", {{"A", "patch"}});
  ASSERT_TRUE(path.Mount(base.c_str(), "", true));
  ASSERT_TRUE(path.Mount(patch.c_str(), "", true));
  EXPECT_EQ(Read("a"), "base");
  EXPECT_EQ(path.GetSize("a"), 4);
  ASSERT_TRUE(path.Unmount(patch.c_str()));
  ASSERT_TRUE(path.Mount(patch.c_str(), "", false));
  EXPECT_EQ(Read("a"), "patch");
  EXPECT_EQ(path.GetSize("a"), 5);
  EXPECT_EQ(Read("only-base"), "b");
}

TEST_F(SearchPathTest, AFolderMountedFirstOverridesAnArchive) {
  const std::string archive = MakeArchive("game.dat", {{"config/game.ini", "archived"}});
  const std::string config = MakeFolder("override/config");
  WriteAll(config + "/game.ini", std::string("loose"));
  ASSERT_TRUE(path.Mount(archive.c_str(), "", true));
  EXPECT_EQ(Read("CONFIG/Game.ini"), "archived");  // archive names fold
  ASSERT_TRUE(path.Mount(dir.Path("override").c_str(), "", false));
  EXPECT_EQ(Read("config/game.ini"), "loose");
}

TEST_F(SearchPathTest, MountPointsPlaceSourcesInsideTheNamespace) {
  const std::string archive = MakeArchive("music.bin", {{"intro.ogg", "la"}, {"sub/x", "x"}});
  ASSERT_TRUE(path.Mount(archive.c_str(), "data/music", true));
  EXPECT_EQ(Read("data/music/intro.ogg"), "la");
  EXPECT_EQ(Read("data/music/sub/x"), "x");
  EXPECT_TRUE(path.Open("intro.ogg").IsNull());
  EXPECT_TRUE(path.Open("data/musicintro.ogg").IsNull());
  EXPECT_EQ(path.List(""), std::vector<std::string>{"data"});
  EXPECT_EQ(path.List("data"), std::vector<std::string>{"music"});
  EXPECT_EQ(path.List("data/music"), (std::vector<std::string>{"intro.ogg", "sub"}));
  EXPECT_EQ(path.List("data/music/sub"), std::vector<std::string>{"x"});
}

TEST_F(SearchPathTest, ListingMergesEverySourceEachNameOnce) {
  const std::string one = MakeArchive("one", {{"a", "1"}, {"shared", "1"}, {"dir/b", "1"}});
  const std::string folder = dir.Path("two");
  MakeFolder("two/dir");
  WriteAll(folder + "/shared", std::string("2"));
  WriteAll(folder + "/c", std::string("2"));
  WriteAll(folder + "/dir/d", std::string("2"));
  ASSERT_TRUE(path.Mount(one.c_str(), "", true));
  ASSERT_TRUE(path.Mount(folder.c_str(), "", true));
  EXPECT_EQ(path.List(""), (std::vector<std::string>{"a", "c", "dir", "shared"}));
  EXPECT_EQ(path.List("dir"), (std::vector<std::string>{"b", "d"}));
}

TEST_F(SearchPathTest, ArchivesAreKnownByTheirMagicNotTheirName) {
  const std::string disguised = MakeArchive("pictures.zip", {{"a", "kymf"}});
  WriteAll(dir.Path("fake.kymf"), std::string("not an archive at all"));
  EXPECT_TRUE(path.Mount(disguised.c_str(), "", true));
  EXPECT_FALSE(path.Mount(dir.Path("fake.kymf").c_str(), "", true));
  EXPECT_FALSE(path.Mount(dir.Path("missing").c_str(), "", true));
  EXPECT_FALSE(path.Mount(disguised.c_str(), "../up", true));
  EXPECT_EQ(Read("a"), "kymf");
}

TEST_F(SearchPathTest, UnmountingLeavesOpenStreamsReadable) {
  const std::string archive = MakeArchive("a.kymf", {{"a", "still here"}});
  const std::string folder = MakeFolder("f");
  WriteAll(folder + "/b", std::string("me too"));
  ASSERT_TRUE(path.Mount(archive.c_str(), "", true));
  ASSERT_TRUE(path.Mount(folder.c_str(), "", true));
  EXPECT_TRUE(path.Mount(archive.c_str(), "", true));  // mounted already: stays
  Pointer<KYFile> a = path.Open("a");
  Pointer<KYFile> b = path.Open("b");
  EXPECT_TRUE(path.Unmount(archive.c_str()));
  EXPECT_FALSE(path.Unmount(archive.c_str()));
  EXPECT_TRUE(path.Unmount(folder.c_str()));
  EXPECT_EQ(ReadWhole(a), "still here");
  EXPECT_EQ(ReadWhole(b), "me too");
  // Nothing is left mounted.
  EXPECT_TRUE(path.Open("a").IsNull());
  EXPECT_FALSE(path.Exists("a"));
  EXPECT_EQ(path.GetSize("a"), -1);
  EXPECT_TRUE(path.List("").empty());
}

TEST_F(SearchPathTest, StreamsAreReadOnly) {
  const std::string folder = MakeFolder("f");
  WriteAll(folder + "/b", std::string("data"));
  ASSERT_TRUE(path.Mount(folder.c_str(), "", true));
  Pointer<KYFile> file = path.Open("b");
  EXPECT_FALSE(Thrown([&] { file->WriteData("x", 1, 1); }).empty());
  EXPECT_EQ(ReadAll(folder + "/b"), BytesOf("data"));
}

TEST_F(SearchPathTest, ModuleResourcesAreFilesNamedTypeSlashName) {
  const std::string module = std::string(RXMFILES_TEST_MODULES) + "/resources-x86_64.dll";
  ASSERT_TRUE(path.Mount(module.c_str(), "res", true));
  EXPECT_EQ(Read("res/RCDATA/MYDATA"), "0123456789");
  EXPECT_EQ(Read("res/rcdata/mydata"), "0123456789");
  EXPECT_EQ(Read("res/RCDATA/#123"), "by id");
  EXPECT_EQ(Read("res/RCDATA/123"), "by name");
  EXPECT_EQ(Read("res/RCDATA/LANGS1"), "neutral");
  EXPECT_EQ(Read("res/MYTYPE/CUSTOM"), "custom type");
  EXPECT_EQ(Read("res/#500/#77"), "numeric type");
  EXPECT_EQ(path.GetSize("res/RCDATA/EMPTY"), 0);
  EXPECT_EQ(path.List("res"), (std::vector<std::string>{"#500", "MYTYPE", "RCDATA"}));
  Pointer<KYFile> kept = path.Open("res/RCDATA/MYDATA");
  ASSERT_TRUE(path.Unmount(module.c_str()));
  EXPECT_EQ(ReadWhole(kept), "0123456789");
}

// Hostile names: none may reach the file beside the mounted folder, nor
// anything else. (A NUL cannot be part of a String; CheckSafeName's own tests
// cover it.)
class HostileNameTest : public SearchPathTest, public testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    MakeFolder("outside");
    WriteAll(dir.Path("outside/secret"), std::string("secret"));
    WriteAll(dir.Path("secret"), std::string("secret"));
    const std::string mounted = dir.Path("mounted");
    MakeFolder("mounted/sub");
    WriteAll(mounted + "/inside", std::string("inside"));
#if !defined(_WIN32)
    fs::create_symlink(dir.Path("outside/secret"), mounted + "/link");
    fs::create_directory_symlink("../outside", mounted + "/linked");
    fs::create_directory_symlink("../../outside", mounted + "/sub/up");
    ASSERT_EQ(::mkfifo((mounted + "/fifo").c_str(), 0600), 0);
#endif
    ASSERT_TRUE(path.Mount(mounted.c_str(), "", true));
    ASSERT_EQ(Read("inside"), "inside");
  }
};

TEST_P(HostileNameTest, ReachesNothing) {
  const char* name = GetParam();
  EXPECT_TRUE(path.Open(name).IsNull());
  EXPECT_FALSE(path.Exists(name));
  EXPECT_EQ(path.GetSize(name), -1);
  if (*name == '\0') {  // the root folder, listed without its links and FIFO
    EXPECT_EQ(path.List(name), (std::vector<std::string>{"inside", "sub"}));
    return;
  }
  for (const std::string& listed : path.List(name)) {
    ADD_FAILURE() << "listed " << listed;
  }
}

INSTANTIATE_TEST_SUITE_P(Names, HostileNameTest,
                         testing::Values("../secret", "../outside/secret", "/abs", "/",
                                         "a/../../secret", "sub/../../secret", "./inside",
                                         "sub//inside", "C:secret", "c:/secret",
                                         "sub\\..\\..\\secret", "..\\secret", "in\x01side", "\x1f",
                                         "in\x7fside", "inside\n", "", "link", "linked/secret",
                                         "linked", "sub/up/secret", "fifo"));

}  // namespace
