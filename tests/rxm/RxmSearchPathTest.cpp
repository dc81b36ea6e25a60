// rxm::SearchPath: the modern face's one tree over folders, archives and
// modules.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "multifile/ArchiveBytes.h"
#include "rxm/RxmFailure.h"

namespace {

using Code = RXM::ErrorCode;
using testing_support::Failure;
using testing_support::TempDir;
using testing_support::WriteAll;
using testing_support::Written;
using Names = std::vector<std::string>;

// A folder mounted before an archive: the folder's file wins.
class RxmSearchPathTest : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir.Path("mods/levels"));
    std::filesystem::create_directories(dir.Path("mods/empty"));
    WriteAll(dir.Path("mods/levels/1.map"), "modded");
    archive = Written(dir, "base.kymf",
                      testing_support::Archive({{"levels/1.map", "base one"},
                                                {"levels/2.map", "base two"},
                                                {"text/intro.txt", "hello"}}));
    path.mount(archive);
    path.mount(std::filesystem::path(dir.Path("mods")), "", false);
  }
  TempDir dir;
  std::string archive;
  rxm::SearchPath path;
};

TEST_F(RxmSearchPathTest, ReadsFromTheFirstSourceThatHasTheName) {
  EXPECT_EQ(path.read_text("levels/1.map"), "modded");
  EXPECT_EQ(path.read_text("LEVELS/2.MAP"), "base two");  // the archive folds case
  EXPECT_EQ(path.read("text/intro.txt").size(), 5u);
  EXPECT_TRUE(path.exists("levels/2.map"));
  EXPECT_FALSE(path.exists("levels/3.map"));
  EXPECT_FALSE(path.exists("../base.kymf"));
  rxm::Stream stream = path.open("levels/2.map");
  stream.seek(5);
  EXPECT_EQ(stream.read_all().size(), 3u);
}

TEST_F(RxmSearchPathTest, ListsAndWalksEveryFileOnce) {
  EXPECT_EQ(path.list(), (Names{"empty", "levels", "text"}));
  EXPECT_EQ(path.list("levels"), (Names{"1.map", "2.map"}));
  EXPECT_EQ(path.walk(), (Names{"levels/1.map", "levels/2.map", "text/intro.txt"}));
  EXPECT_EQ(path.walk("text"), (Names{"text/intro.txt"}));
  EXPECT_EQ(path.walk("empty"), Names{});
}

TEST_F(RxmSearchPathTest, StatTellsFilesFromFolders) {
  const auto kindAndSize = [&](const std::string& name) -> std::string {
    const std::optional<rxm::Stat> stat = path.stat(name);
    if (!stat) {
      return "none";
    }
    return (stat->kind == rxm::Kind::file ? "file " : "folder ") + std::to_string(stat->size);
  };
  EXPECT_EQ(kindAndSize("levels/1.map"), "file 6");
  EXPECT_EQ(kindAndSize("text/intro.txt"), "file 5");
  EXPECT_EQ(kindAndSize("levels"), "folder 0");
  EXPECT_EQ(kindAndSize("TEXT"), "folder 0");   // an archive's folder, case folded
  EXPECT_EQ(kindAndSize("empty"), "folder 0");  // a folder on disk with nothing in it
  EXPECT_EQ(kindAndSize(""), "folder 0");
  EXPECT_EQ(kindAndSize("levels/3.map"), "none");
  EXPECT_EQ(kindAndSize("text/intro.txt/x"), "none");
}

TEST_F(RxmSearchPathTest, MountPointsAreFolders) {
  const std::string copy = dir.Path("copy.kymf");
  std::filesystem::copy_file(archive, copy);
  path.mount(archive, "data/base");  // mounted already: stays where it is
  EXPECT_FALSE(path.stat("data").has_value());
  path.mount(copy, "data/base");
  EXPECT_EQ(path.stat("data")->kind, rxm::Kind::folder);
  EXPECT_EQ(path.stat("data/base")->kind, rxm::Kind::folder);
  EXPECT_EQ(path.list("data"), Names{"base"});
  EXPECT_EQ(path.walk("data"), (Names{"data/base/levels/1.map", "data/base/levels/2.map",
                                      "data/base/text/intro.txt"}));
  EXPECT_TRUE(path.unmount(copy));
  EXPECT_FALSE(path.unmount(copy));
  EXPECT_FALSE(path.stat("data").has_value());
}

TEST_F(RxmSearchPathTest, FailuresCarryTheCodeAndNameTheName) {
  EXPECT_EQ(Failure([&] { path.read("levels/3.map"); }),
            std::make_pair(Code::kNoSuchEntry, "search path (" + dir.Path("mods") + ", " + archive +
                                                   "): levels/3.map: no such entry"));
  EXPECT_EQ(
      Failure([&] { path.read("../x"); }),
      std::make_pair(Code::kNameRefused, "search path (" + dir.Path("mods") + ", " + archive +
                                             "): ../x: name refused: has a \"..\" component"));
  EXPECT_EQ(Failure([&] { path.list("/abs"); }).first, Code::kNameRefused);
  EXPECT_EQ(Failure([&] { path.walk("a//b"); }).first, Code::kNameRefused);
  EXPECT_EQ(Failure([&] { path.stat("a\\b"); }).first, Code::kNameRefused);
  EXPECT_EQ(Failure([&] { path.read(std::string_view("levels/1.map\0", 13)); }).first,
            Code::kNameRefused);
  EXPECT_EQ(Failure([&] { path.mount(dir.Path("missing")); }).first, Code::kNoSuchFile);
  EXPECT_EQ(Failure([&] { path.mount(archive, "../up"); }).first, Code::kNameRefused);
  const std::string text = Written(dir, "plain.txt", testing_support::BytesOf("plain"));
  EXPECT_EQ(Failure([&] { path.mount(text); }),
            std::make_pair(Code::kNotAModule,
                           text + ": cannot be mounted (not a folder, a KYMF archive or a Windows "
                                  "module)"));
}

TEST(RxmSearchPathRefusals, AnEntryItsArchiveCannotHoldIsRefusedAndHidesTheRest) {
  TempDir dir;
  const std::string cut =
      Written(dir, "cut.kymf", testing_support::Raw({{"levels/1.map", 88, 200}}, "abc"));
  std::filesystem::create_directories(dir.Path("base/levels"));
  WriteAll(dir.Path("base/levels/1.map"), "base");
  rxm::SearchPath path;
  path.mount(cut);
  path.mount(dir.Path("base"));
  const auto failure = Failure([&] { path.read("levels/1.map"); });
  EXPECT_EQ(failure.first, Code::kTruncated);
  EXPECT_EQ(failure.second.rfind(cut + ": levels/1.map: ", 0), 0u) << failure.second;
  EXPECT_EQ(Failure([&] { path.stat("levels/1.map"); }).first, Code::kTruncated);
  EXPECT_EQ(path.walk(), Names{"levels/1.map"});  // listed: read() says why
}

TEST(RxmSearchPathModules, AModulesResourcesAreFilesInTypeFolders) {
  const std::string module = std::string(RXMFILES_TEST_MODULES) + "/resources-x86_64.dll";
  rxm::SearchPath path;
  path.mount(module, "res");
  EXPECT_EQ(path.read_text("res/RCDATA/MYDATA"), "0123456789");
  EXPECT_EQ(path.stat("res/rcdata")->kind, rxm::Kind::folder);
  EXPECT_EQ(path.stat("res/RCDATA/MYDATA")->size, 10u);
  EXPECT_EQ(path.list("res"), (Names{"#500", "MYTYPE", "RCDATA"}));
  const Names files = path.walk("res/MYTYPE");
  EXPECT_EQ(files, Names{"res/MYTYPE/CUSTOM"});
}

}  // namespace
