// rxm::ArchiveWriter: the modern face's building and changing of archives.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "multifile/ArchiveBytes.h"
#include "rxm/RxmFailure.h"

namespace {

using Code = RXM::ErrorCode;
using testing_support::Failure;
using testing_support::TempDir;

// "name=text" for each entry, in directory order.
std::vector<std::string> Contents(const std::string& path) {
  const rxm::Archive archive = rxm::Archive::open(path);
  std::vector<std::string> contents;
  for (const rxm::Entry& e : archive) {
    contents.push_back(e.name + "=" + archive.read_text(e.name));
  }
  return contents;
}

class RxmArchiveWriterTest : public testing::Test {
 protected:
  std::string Base() {
    const std::string path = dir.Path("game.kymf");
    testing_support::WriteAll(dir.Path("intro.txt"), "hello");
    rxm::ArchiveWriter writer(path);
    writer.add_file("text/intro.txt", dir.Path("intro.txt"));
    writer.add_bytes("a.bin", "\x01\x02", 2);
    writer.add_bytes("version", std::string_view("1.0"));
    writer.commit();
    return path;
  }
  TempDir dir;
};

TEST_F(RxmArchiveWriterTest, CommitWritesTheEntriesInTheOrderAdded) {
  const std::string path = Base();
  EXPECT_EQ(Contents(path),
            (std::vector<std::string>{"text/intro.txt=hello", "a.bin=\x01\x02", "version=1.0"}));
  EXPECT_TRUE(testing_support::Leftovers(dir).empty());
}

TEST_F(RxmArchiveWriterTest, KeepingTheArchiveRemovesRenamesAndAdds) {
  const std::string path = Base();
  rxm::ArchiveWriter writer(std::filesystem::path(path), true);
  writer.remove("A.BIN");
  writer.rename("version", "VERSION.txt");
  writer.add_bytes("new", std::string_view("n"));
  writer.commit();
  EXPECT_EQ(Contents(path),
            (std::vector<std::string>{"text/intro.txt=hello", "VERSION.txt=1.0", "new=n"}));
}

TEST_F(RxmArchiveWriterTest, NothingIsWrittenBeforeCommit) {
  const std::string path = Base();
  {
    rxm::ArchiveWriter writer(path, true);
    writer.remove("version");
    writer.add_bytes("new", std::string_view("n"));
  }
  EXPECT_EQ(Contents(path).size(), 3u);
}

TEST_F(RxmArchiveWriterTest, RefusalsThrowTheWritersReason) {
  const std::string path = Base();
  rxm::ArchiveWriter keeping(path, true);
  EXPECT_EQ(Failure([&] { keeping.remove("nope"); }).first, Code::kNoSuchEntry);
  EXPECT_EQ(Failure([&] { keeping.remove(std::string_view("version\0", 8)); }).first,
            Code::kNoSuchEntry);
  EXPECT_EQ(Failure([&] { keeping.rename("version", "a.bin"); }).first, Code::kAlreadyExists);
  EXPECT_EQ(Failure([&] { keeping.rename("version", "../up"); }).first, Code::kNameRefused);

  rxm::ArchiveWriter fresh(dir.Path("new.kymf"));
  EXPECT_EQ(Failure([&] { fresh.remove("version"); }).first, Code::kNotOpen);
  fresh.add_bytes("empty", std::string_view());
  const auto empty = Failure([&] { fresh.commit(); });
  EXPECT_EQ(empty.first, Code::kEmptyInput);
  EXPECT_FALSE(testing_support::Exists(dir.Path("new.kymf")));
  fresh.allow_empty(true);
  fresh.commit();
  EXPECT_EQ(Contents(dir.Path("new.kymf")), (std::vector<std::string>{"empty="}));
}

// Names that no record may hold are refused when added, with nothing added.
struct BadName {
  const char* label;
  std::string name;
  Code code;
};

void PrintTo(const BadName& name, std::ostream* out) {
  *out << name.label;
}

class RxmArchiveWriterNameTest : public testing::TestWithParam<BadName> {};

TEST_P(RxmArchiveWriterNameTest, IsRefusedWhenAdded) {
  TempDir dir;
  const std::string path = dir.Path("names.kymf");
  rxm::ArchiveWriter writer(path);
  const auto failure = Failure([&] { writer.add_bytes(GetParam().name, std::string_view("x")); });
  EXPECT_EQ(failure.first, GetParam().code);
  EXPECT_EQ(failure.second.rfind(path + ": ", 0), 0u) << failure.second;
  writer.add_bytes("kept", std::string_view("k"));
  writer.commit();
  EXPECT_EQ(Contents(path), (std::vector<std::string>{"kept=k"}));
}

INSTANTIATE_TEST_SUITE_P(Names, RxmArchiveWriterNameTest,
                         testing::Values(BadName{"nul", std::string("a\0b", 3), Code::kNameRefused},
                                         BadName{"parent", "../x", Code::kNameRefused},
                                         BadName{"empty", "", Code::kNameRefused},
                                         BadName{"seventy", std::string(70, 'n'),
                                                 Code::kNameTooLong}),
                         testing_support::CaseName<BadName>);

TEST_F(RxmArchiveWriterTest, ReplaceExistingLetsAnAddedEntryTakeAKeptOnesName) {
  const std::string path = Base();
  rxm::ArchiveWriter writer(path, true);
  writer.add_bytes("VERSION", std::string_view("2.0"));
  EXPECT_EQ(Failure([&] { writer.commit(); }).first, Code::kAlreadyExists);
  writer.replace_existing(true);
  writer.commit();
  EXPECT_EQ(Contents(path),
            (std::vector<std::string>{"text/intro.txt=hello", "a.bin=\x01\x02", "VERSION=2.0"}));
}

}  // namespace
