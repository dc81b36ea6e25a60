// The one walk of a search path's tree: what each name is, and which folders
// it enters.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "multifile/ArchiveBytes.h"
#include "searchpath/SearchPathWalk.h"

namespace {

using namespace testing_support;

std::string Said(const RXM::PathEntry& entry) {
  switch (entry.kind) {
    case RXM::PathKind::kFile:
      return entry.name + "=" + std::to_string(entry.size);
    case RXM::PathKind::kRefusedFile:
      return entry.name + " refused";
    case RXM::PathKind::kFolder:
      return entry.name + "/";
    case RXM::PathKind::kUnsafeName:
      return entry.name + " unsafe";
  }
  return "?";
}

TEST(SearchPathWalkTest, SaysWhatEachNameIsAndEntersTheFoldersItIsToldTo) {
  TempDir dir;
  std::filesystem::create_directories(dir.Path("tree/skip"));
  std::filesystem::create_directories(dir.Path("tree/data"));
  WriteAll(dir.Path("tree/skip/hidden.txt"), "never seen");
  WriteAll(dir.Path("tree/data/a.txt"), "abc");
#if !defined(_WIN32)
  WriteAll(dir.Path("tree/data/back\\slash"), "x");  // no safe name
#endif
  // In front: an archive whose "data/cut" lies past its end, and whose
  // "data/a.txt" hides the folder's file of that name.
  const std::string archive =
      Written(dir, "front.kymf", Raw({{"data/cut", 168, 267}, {"data/a.txt", 168, 169}}, "hi"));
  SearchPath path;
  RXM::Status why;
  ASSERT_TRUE(path.Mount(dir.Path("tree").c_str(), "", true, why)) << why.GetText();
  ASSERT_TRUE(path.Mount(archive.c_str(), "", false, why)) << why.GetText();

  std::vector<std::string> seen;
  EXPECT_TRUE(RXM::WalkSearchPath(path, "", [&](const RXM::PathEntry& entry) {
                seen.push_back(Said(entry));
                return entry.name != "skip";
              }).IsOk());
  std::vector<std::string> expected{"data/", "data/a.txt=2"};
#if !defined(_WIN32)
  expected.push_back("data/back\\slash unsafe");
#endif
  expected.insert(expected.end(), {"data/cut refused", "skip/"});
  EXPECT_EQ(seen, expected);

  seen.clear();
  const RXM::Status refused = RXM::WalkSearchPath(path, "../up", [&](const RXM::PathEntry& entry) {
    seen.push_back(Said(entry));
    return true;
  });
  EXPECT_EQ(refused.GetCode(), RXM::ErrorCode::kNameRefused);
  EXPECT_TRUE(seen.empty());
}

// What each name of a folder is comes from the sources' listings: an archive
// holding "a" and "a/b" makes "a" both, a file in one source and a folder in
// another make a name both, and a link is nothing.
TEST(SearchPathWalkTest, ListingsSayWhatEachNameIsOverEverySource) {
  TempDir dir;
  std::filesystem::create_directories(dir.Path("tree/d"));
  std::filesystem::create_directories(dir.Path("elsewhere"));
  WriteAll(dir.Path("elsewhere/e"), "e");
  WriteAll(dir.Path("tree/c"), "disk");
#if !defined(_WIN32)
  std::filesystem::create_directory_symlink(dir.Path("elsewhere"), dir.Path("tree/link"));
#endif
  const std::string archive = Written(dir, "front.kymf",
                                      Raw({{"a", 408, 408},
                                           {"a/b", 409, 409},
                                           {"C/x", 410, 410},
                                           {"d", 411, 411},
                                           {"cut", 408, 999}},
                                          "wxyz"));
  SearchPath path;
  RXM::Status why;
  ASSERT_TRUE(path.Mount(dir.Path("tree").c_str(), "", true, why)) << why.GetText();
  ASSERT_TRUE(path.Mount(archive.c_str(), "", false, why)) << why.GetText();
  ASSERT_TRUE(path.Mount(dir.Path("elsewhere").c_str(), "m/n", true, why)) << why.GetText();

  std::vector<std::string> listed;
  for (const RXM::ListedName& name : path.ListKinds("", why)) {
    listed.push_back(name.name + (name.file ? " file" : "") + (name.folder ? " folder" : ""));
  }
  EXPECT_TRUE(why.IsOk());
  EXPECT_EQ(listed, (std::vector<std::string>{"C folder", "a file folder", "c file", "cut file",
                                              "d file folder", "m folder"}));
  EXPECT_TRUE(path.IsFolder("a"));
  EXPECT_TRUE(path.IsFolder("c"));  // the archive's "C", letters folded
  EXPECT_FALSE(path.IsFolder("link"));
  EXPECT_EQ(path.GetSize("d"), 1);  // the archive's file hides the folder's folder

  std::vector<std::string> seen;
  RXM::WalkSearchPath(path, "", [&](const RXM::PathEntry& entry) {
    seen.push_back(Said(entry));
    return true;
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"C/", "C/x=1", "a=1", "c=4", "cut refused", "d=1", "m/",
                                            "m/n/", "m/n/e=1"}));
}

}  // namespace
