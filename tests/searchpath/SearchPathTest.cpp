#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "backends/FaultySystem.h"
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
  // The archive `name` of `entries`, appended at `at`; its path.
  std::string Mounted(const std::string& name, const std::vector<Entry>& entries,
                      const char* at = "") {
    WriteAll(dir.Path(name), Archive(entries));
    EXPECT_TRUE(path.Mount(dir.Path(name).c_str(), at, true)) << name;
    return dir.Path(name);
  }
  // The folder `name` holding `files` (each a path below it and its text).
  std::string Folder(const std::string& name, const std::vector<Entry>& files) {
    for (const Entry& file : files) {
      fs::create_directories(fs::path(dir.Path(name + "/" + file.name)).parent_path());
      WriteAll(dir.Path(name + "/" + file.name), file.data);
    }
    return dir.Path(name);
  }
  std::string Read(const char* name) const { return ReadWhole(path.Open(name)); }

  TempDir dir;
  DebuggerCapture debugger;
  SearchPath path;
};

TEST_F(SearchPathTest, PrependedSourcesOverrideAppendedOnesAreSearchedLast) {
  Mounted("base.kymf", {{"a", "base"}, {"only-base", "b"}, {"config/game.ini", "archived"}});
  const std::string patch = Mounted("patch.kymf", {{"A", "patch"}});
  EXPECT_EQ(Read("a"), "base");
  EXPECT_EQ(path.GetSize("a"), 4);
  EXPECT_EQ(Read("CONFIG/Game.ini"), "archived");  // archive names fold
  ASSERT_TRUE(path.Unmount(patch.c_str()));
  ASSERT_TRUE(path.Mount(patch.c_str(), "", false));
  EXPECT_EQ(Read("a"), "patch");
  EXPECT_EQ(path.GetSize("a"), 5);
  EXPECT_EQ(Read("only-base"), "b");
  ASSERT_TRUE(path.Mount(Folder("override", {{"config/game.ini", "loose"}}).c_str(), "", false));
  EXPECT_EQ(Read("config/game.ini"), "loose");
#if !defined(_WIN32)
  EXPECT_EQ(Read("CONFIG/game.ini"), "archived");  // folder names match as the file system's do
#endif
}

TEST_F(SearchPathTest, AnArchiveMountsWithItsVolumesTheLastSearchedFirstAndUnmountsWithThem) {
  Mounted("other.kymf", {{"c", "other"}, {"e", "other"}});
  WriteAll(dir.Path("set.kymf"), Archive({{"a", "one"}, {"b", "one"}}));
  WriteAll(dir.Path("set.2.kymf"), Archive({{"c", "two"}, {"A", "two"}}));
  WriteAll(dir.Path("set.3.kymf"), Archive({{"d/x", "three"}}));
  WriteAll(dir.Path("set.5.kymf"), Archive({{"stray", "five"}}));  // after a missing volume
  const std::string set = dir.Path("set.kymf");
  ASSERT_TRUE(path.Mount(set.c_str(), "", false));
  EXPECT_EQ(Read("a"), "two");  // the later volume's, as in one archive
  EXPECT_EQ(Read("b"), "one");
  EXPECT_EQ(Read("c"), "two");  // the set, mounted first, before other.kymf
  EXPECT_EQ(Read("d/x"), "three");
  EXPECT_EQ(Read("e"), "other");
  EXPECT_TRUE(path.Open("stray").IsNull());
  EXPECT_EQ(path.List(""), (std::vector<std::string>{"A", "a", "b", "c", "d", "e"}));
  EXPECT_TRUE(path.Mount(set.c_str(), "", true));  // mounted already: stays where it is
  EXPECT_EQ(Read("c"), "two");
  EXPECT_FALSE(path.Unmount(dir.Path("set.2.kymf").c_str()));  // a volume is not a source
  ASSERT_TRUE(path.Unmount(set.c_str()));
  EXPECT_EQ(Read("c"), "other");
  EXPECT_TRUE(path.Open("a").IsNull());
  EXPECT_TRUE(path.Open("d/x").IsNull());
  EXPECT_FALSE(path.Unmount(set.c_str()));
}

TEST_F(SearchPathTest, ASetWithAVolumeThatIsNoArchiveMountsNothing) {
  WriteAll(dir.Path("set.kymf"), Archive({{"a", "one"}}));
  WriteAll(dir.Path("set.2.kymf"), std::string("not an archive"));
  RXM::Status why;
  EXPECT_FALSE(path.Mount(dir.Path("set.kymf").c_str(), "", true, why));
  EXPECT_EQ(why.GetCode(), RXM::ErrorCode::kNotAnArchive);
  EXPECT_NE(std::string(why.GetText()).find("set.2.kymf"), std::string::npos) << why.GetText();
  EXPECT_TRUE(path.Open("a").IsNull());
}

TEST_F(SearchPathTest, MountPointsPlaceSourcesInsideTheNamespaceAndListingsMergeThem) {
  Mounted("music.bin", {{"intro.ogg", "la"}, {"sub/x", "x"}}, "data/music");
  EXPECT_EQ(Read("data/music/intro.ogg"), "la");
  EXPECT_EQ(Read("data/music/sub/x"), "x");
  EXPECT_TRUE(path.Open("intro.ogg").IsNull());
  EXPECT_TRUE(path.Open("data/musicintro.ogg").IsNull());
  EXPECT_EQ(path.List(""), std::vector<std::string>{"data"});
  EXPECT_EQ(path.List("data"), std::vector<std::string>{"music"});
  EXPECT_EQ(path.List("data/music"), (std::vector<std::string>{"intro.ogg", "sub"}));
  EXPECT_EQ(path.List("data/music/sub"), std::vector<std::string>{"x"});
  // A listing merges every source, each name once.
  Mounted("one", {{"a", "1"}, {"shared", "1"}, {"dir/b", "1"}});
  const std::string two = Folder("two", {{"shared", "2"}, {"c", "2"}, {"dir/d", "2"}});
  ASSERT_TRUE(path.Mount(two.c_str(), "", true));
  EXPECT_EQ(path.List(""), (std::vector<std::string>{"a", "c", "data", "dir", "shared"}));
  EXPECT_EQ(path.List("dir"), (std::vector<std::string>{"b", "d"}));
}

TEST_F(SearchPathTest, AnArchivesFoldersAreFoundIgnoringCaseAtEveryDepthAndListOnlyTheirChildren) {
  Mounted("tree.kymf", {{"Levels/1.map", "1"},
                        {"levels/2.map", "2"},
                        {"LEVELS/deep/Er/3.map", "3"},
                        {"levels2/x", "x"},
                        {"levels/../escape", "e"},  // never a safe name: never listed
                        {"top", "t"}});
  EXPECT_EQ(path.List(""),
            (std::vector<std::string>{"LEVELS", "Levels", "levels", "levels2", "top"}));
  for (const char* spelling : {"levels", "LEVELS", "Levels"}) {
    EXPECT_EQ(path.List(spelling), (std::vector<std::string>{"1.map", "2.map", "deep"}))
        << spelling;
  }
  EXPECT_EQ(path.List("levels/DEEP/er"), std::vector<std::string>{"3.map"});
  EXPECT_TRUE(path.List("levels/deep/er/3.map").empty());  // a file lists nothing
  EXPECT_TRUE(path.List("level").empty());                 // a prefix is no folder
  EXPECT_TRUE(path.List("levels/..").empty());
}

TEST_F(SearchPathTest, ArchivesAreKnownByTheirMagicAndUnmountingLeavesOpenStreamsReadable) {
  const std::string archive = Mounted("pictures.zip", {{"a", "still here"}});
  WriteAll(dir.Path("fake.kymf"), std::string("not an archive at all"));
  EXPECT_FALSE(path.Mount(dir.Path("fake.kymf").c_str(), "", true));
  EXPECT_FALSE(path.Mount(dir.Path("missing").c_str(), "", true));
  EXPECT_FALSE(path.Mount(archive.c_str(), "../up", true));
  const std::string folder = Folder("f", {{"b", "me too"}});
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

TEST_F(SearchPathTest, FoldersAreTheRootMountPointsAndEachSourcesOwn) {
  Mounted("music.bin", {{"intro.ogg", "la"}, {"Sub/x", "x"}}, "data/music");
  fs::create_directories(dir.Path("loose/empty"));
  ASSERT_TRUE(path.Mount(Folder("loose", {{"levels/1.map", "1"}}).c_str(), "", true));
  for (const char* folder : {"", "data", "data/music", "data/music/sub", "levels", "empty"}) {
    EXPECT_TRUE(path.IsFolder(folder)) << folder;
  }
  for (const char* other : {"dat", "data/music/intro.ogg", "data/music/none", "levels/1.map",
                            "missing", "../loose", "data/"}) {
    EXPECT_FALSE(path.IsFolder(other)) << other;
  }
}

TEST_F(SearchPathTest, SizesAndListingsSayWhyTheyFoundNothing) {
  Mounted("a.kymf", {{"a", "abc"}});
  RXM::Status why;
  EXPECT_EQ(path.GetSize("a", why), 3);
  EXPECT_TRUE(why.IsOk());
  EXPECT_EQ(path.GetSize("b", why), -1);
  EXPECT_EQ(why.GetCode(), RXM::ErrorCode::kNoSuchEntry);
  EXPECT_EQ(std::string(why.GetText()),
            "search path (" + dir.Path("a.kymf") + "): b: no such entry");
  EXPECT_EQ(path.GetSize("../a", why), -1);
  EXPECT_EQ(why.GetCode(), RXM::ErrorCode::kNameRefused);
  EXPECT_EQ(std::string(why.GetText()),
            "search path (" + dir.Path("a.kymf") + "): ../a: name refused: has a \"..\" component");
  EXPECT_TRUE(path.List("/x", why).empty());
  EXPECT_EQ(why.GetCode(), RXM::ErrorCode::kNameRefused);
  EXPECT_EQ(path.List("", why), std::vector<std::string>{"a"});
  EXPECT_TRUE(why.IsOk());
}

// Why a source cannot be mounted, as the one description of a failed open,
// the archive reader and the module reader say it.
TEST_F(SearchPathTest, AFailedMountSaysWhy) {
  WriteAll(dir.Path("neither"), std::string("neither an archive nor a module"));
  Bytes cut = Archive({{"a", "cut short"}});
  cut.resize(20);
  WriteAll(dir.Path("cut.kymf"), cut);
  const struct {
    std::string source;
    const char* point;
    RXM::ErrorCode code;
  } cases[] = {{dir.Path("missing"), "", RXM::ErrorCode::kNoSuchFile},
               {dir.Path("neither"), "", RXM::ErrorCode::kNotAModule},
               {dir.Path("cut.kymf"), "", RXM::ErrorCode::kCountBeyondFile},
               {dir.Path("neither"), "../up", RXM::ErrorCode::kNameRefused}};
  for (const auto& c : cases) {
    RXM::Status why;
    EXPECT_FALSE(path.Mount(c.source.c_str(), c.point, true, why)) << c.source;
    EXPECT_EQ(why.GetCode(), c.code) << why.GetText();
  }
  RXM::Status why;
  path.Mount(dir.Path("missing").c_str(), "", true, why);
  EXPECT_STREQ(why.GetText(), RXM::OpenFailure(dir.Path("missing"), ENOENT).GetText());
}

// Every message names where it looked and what for, in one form: "<source>:
// <name>: <reason>" for a name, "<source>: <reason>" for a source; the search
// path is named by its sources, in search order.
TEST_F(SearchPathTest, MessagesNameTheSourceAndTheName) {
  RXM::Status why;
  EXPECT_TRUE(path.Open("nope.txt", why).IsNull());
  EXPECT_STREQ(why.GetText(), "search path (nothing mounted): nope.txt: no such entry");
  const std::string base = Mounted("base.kymf", {{"a", "a"}});
  const std::string patch = Mounted("patch.kymf", {{"b", "b"}});
  const std::string folder = Folder("loose", {{"c", "c"}});
  path.Mount(folder.c_str(), "", false);  // searched first
  WriteAll(dir.Path("notes.txt"), std::string("plain text"));
  const std::string shown = "search path (" + folder + ", " + base + ", " + patch + ")";
  const struct {
    std::function<bool(RXM::Status&)> fails;
    RXM::ErrorCode code;
    std::string text;
  } cases[] = {
      {[&](RXM::Status& w) { return path.Open("nope.txt", w).IsNull(); },
       RXM::ErrorCode::kNoSuchEntry, shown + ": nope.txt: no such entry"},
      {[&](RXM::Status& w) { return path.GetSize("dir/../x", w) < 0; },
       RXM::ErrorCode::kNameRefused, shown + ": dir/../x: name refused: has a \"..\" component"},
      {[&](RXM::Status& w) { return !path.Mount(dir.Path("notes.txt").c_str(), "", true, w); },
       RXM::ErrorCode::kNotAModule,
       dir.Path("notes.txt") + ": cannot be mounted (not a folder, a KYMF archive or a Windows "
                               "module)"},
      {[&](RXM::Status& w) { return !path.Mount(base.c_str(), "/abs", true, w); },
       RXM::ErrorCode::kNameRefused, base + ": /abs: name refused: is absolute"}};
  for (const auto& c : cases) {
    RXM::Status w;
    EXPECT_TRUE(c.fails(w)) << c.text;
    EXPECT_EQ(w.GetCode(), c.code) << c.text;
    EXPECT_EQ(std::string(w.GetText()), c.text);
  }
}

// A module is read through the System the path was given, so a refused open
// of its file is said as every refused open is.
TEST_F(SearchPathTest, AModuleIsReadThroughThePathsSystem) {
#if defined(_WIN32)
  GTEST_SKIP() << "on Windows the system's loader opens the module";
#else
  const std::string module = std::string(RXMFILES_TEST_MODULES) + "/resources-x86_64.dll";
  FaultySystem system;
  system.refuseOpen = [&module](const char* opened) { return module == opened ? EBUSY : 0; };
  const RXM::Status busy = RXM::OpenFailure(module, EBUSY);
  RXM::Status why;
  EXPECT_EQ(RXM::LoadResourceModule(module.c_str(), why, system), nullptr);
  EXPECT_STREQ(why.GetText(), busy.GetText());
  SearchPath refused(system);
  EXPECT_FALSE(refused.Mount(module.c_str(), "", true, why));
  EXPECT_EQ(why.GetCode(), busy.GetCode());
  EXPECT_STREQ(why.GetText(), busy.GetText());
#endif
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
    Folder("", {{"secret", "secret"}, {"outside/secret", "secret"}});
    const std::string mounted = Folder("mounted", {{"inside", "inside"}});
    fs::create_directory(mounted + "/sub");
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
