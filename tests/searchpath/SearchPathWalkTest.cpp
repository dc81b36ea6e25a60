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

}  // namespace
