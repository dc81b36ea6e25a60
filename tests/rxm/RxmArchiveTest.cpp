// rxm::Archive and rxm::Stream: the modern face's reading of archives.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "multifile/ArchiveBytes.h"
#include "multifile/HostileCorpus.h"
#include "rxm/RxmFailure.h"

namespace {

using testing_support::Bytes;
using Code = RXM::ErrorCode;
using testing_support::Failure;
using testing_support::TempDir;
using testing_support::Written;

std::string Text(const std::vector<std::byte>& bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

class RxmArchiveTest : public testing::Test {
 protected:
  // Three entries, their data back to back after the three records (at 248).
  std::string Game() {
    return Written(dir, "game.kymf",
                   testing_support::Archive(
                       {{"Levels/One.map", "dragon"}, {"text/intro.txt", "hello"}, {"b", "12"}}));
  }
  TempDir dir;
};

TEST_F(RxmArchiveTest, RangeForVisitsTheEntriesInDirectoryOrder) {
  const rxm::Archive archive = rxm::Archive::open(Game());
  std::vector<std::string> seen;
  for (const rxm::Entry& e : archive) {
    seen.push_back(e.name + " " + std::to_string(e.size) + " " + std::to_string(e.offset));
  }
  EXPECT_EQ(seen,
            (std::vector<std::string>{"Levels/One.map 6 248", "text/intro.txt 5 254", "b 2 259"}));
  EXPECT_EQ(archive.size(), 3u);
  EXPECT_FALSE(archive.empty());
}

TEST_F(RxmArchiveTest, AnArchiveWithoutEntriesIsAnEmptyRange) {
  const rxm::Archive archive = rxm::Archive::open(
      std::filesystem::path(Written(dir, "none.kymf", testing_support::Header(0))));
  EXPECT_TRUE(archive.empty());
  EXPECT_EQ(archive.begin(), archive.end());
}

TEST_F(RxmArchiveTest, FindIgnoresAsciiCaseAndGivesTheStoredRecord) {
  const rxm::Archive archive = rxm::Archive::open(Game());
  const std::optional<rxm::Entry> found = archive.find("LEVELS/one.MAP");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->name, "Levels/One.map");
  EXPECT_EQ(found->size, 6u);
  EXPECT_EQ(found->offset, 248u);
  EXPECT_FALSE(archive.find("Levels/One.ma").has_value());
  EXPECT_FALSE(archive.find(std::string_view("b\0x", 3)).has_value());
}

TEST_F(RxmArchiveTest, ReadGivesTheWholeEntryAsBytesAndAsText) {
  const rxm::Archive archive = rxm::Archive::open(Game());
  EXPECT_EQ(Text(archive.read("TEXT/INTRO.TXT")), "hello");
  EXPECT_EQ(archive.read_text("levels/one.map"), "dragon");
  EXPECT_EQ(archive.read_text("b"), "12");
}

TEST_F(RxmArchiveTest, AMissingEntryNamesTheArchiveAndTheName) {
  const std::string path = Game();
  const rxm::Archive archive = rxm::Archive::open(path);
  EXPECT_EQ(Failure([&] { archive.read("nope.txt"); }),
            std::make_pair(Code::kNoSuchEntry, path + ": nope.txt: no such entry"));
  EXPECT_EQ(Failure([&] { archive.open_entry(std::string_view("b\0x", 3)); }),
            std::make_pair(Code::kNoSuchEntry, path + ": b\\0x: no such entry"));
  EXPECT_EQ(Failure([&] { archive.at(3); }).first, Code::kNoSuchEntry);
}

TEST_F(RxmArchiveTest, OpenFailuresCarryTheLibrarysReason) {
  const std::string text = Written(dir, "text.kymf", testing_support::BytesOf("plain text here"));
  EXPECT_EQ(Failure([&] { rxm::Archive::open(text); }),
            std::make_pair(Code::kNotAnArchive, text + ": not a KYMF archive"));
  EXPECT_EQ(Failure([&] { rxm::Archive::open(dir.Path("missing.kymf")); }).first,
            Code::kNoSuchFile);
  EXPECT_EQ(Failure([&] { rxm::Archive::open(dir.Path("")); }).first, Code::kIsAFolder);
  // The name up to the NUL must not be opened in its place.
  const std::string game = Game();
  EXPECT_EQ(Failure([&] { rxm::Archive::open(game + std::string(1, '\0') + "x"); }).first,
            Code::kCannotOpen);
}

TEST_F(RxmArchiveTest, AMovedFromArchiveIsEmptyAndRefusesReads) {
  rxm::Archive archive = rxm::Archive::open(Game());
  const rxm::Archive moved = std::move(archive);
  EXPECT_EQ(moved.read_text("b"), "12");
  EXPECT_EQ(archive.size(), 0u);  // NOLINT(bugprone-use-after-move): its state is the contract
  EXPECT_EQ(Failure([&] { archive.read("b"); }).first, Code::kNotOpen);
}

// Every hostile archive of the corpus: refused at open with its code, or each
// entry read whole as the other readers read it, or refused with theirs.
class RxmHostileArchiveTest : public testing::TestWithParam<testing_support::Hostile> {};

TEST_P(RxmHostileArchiveTest, OpensAndReadsAsTheLibraryDoes) {
  const testing_support::Hostile& hostile = GetParam();
  TempDir dir;
  const std::string path = Written(dir, "hostile.kymf", hostile.bytes);
  if (hostile.open != Code::kOk) {
    const auto failure = Failure([&] { rxm::Archive::open(path); });
    EXPECT_EQ(failure.first, hostile.open);
    EXPECT_EQ(failure.second.rfind(path + ": ", 0), 0u) << failure.second;
    return;
  }
  const rxm::Archive archive = rxm::Archive::open(path);
  ASSERT_EQ(archive.size(), hostile.entries.size());
  for (std::size_t i = 0; i < archive.size(); ++i) {
    const std::string name = archive.at(i).name;
    const Code refusal = testing_support::RefusalOf(hostile.entries[i]);
    const auto failure = Failure([&] { EXPECT_EQ(archive.read_text(name), hostile.reads[i]); });
    EXPECT_EQ(failure.first, refusal) << name;
    if (refusal != Code::kOk) {
      EXPECT_EQ(failure.second.rfind(path + ": " + name + ": ", 0), 0u) << failure.second;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, RxmHostileArchiveTest, testing::ValuesIn(testing_support::kCorpus),
                         testing_support::CaseName<testing_support::Hostile>);

TEST_F(RxmArchiveTest, AStreamReadsInPiecesAndSeeks) {
  rxm::Stream stream = rxm::Archive::open(Game()).open_entry("levels/one.map");
  EXPECT_EQ(stream.size(), 6u);
  char piece[4] = {};
  EXPECT_EQ(stream.read(piece, 4), 4u);
  EXPECT_EQ(std::string(piece, 4), "drag");
  EXPECT_EQ(stream.read(piece, 4), 2u);
  EXPECT_EQ(std::string(piece, 2), "on");
  EXPECT_TRUE(stream.at_end());
  EXPECT_EQ(stream.read(piece, 4), 0u);
  stream.seek(2);
  EXPECT_EQ(stream.position(), 2u);
  EXPECT_EQ(Text(stream.read_all()), "agon");
  stream.seek(100);
  EXPECT_EQ(stream.position(), 6u);
}

TEST_F(RxmArchiveTest, AnArchiveThatShrinksUnderAReadIsATruncation) {
  const std::string path = Game();
  const rxm::Archive archive = rxm::Archive::open(path);
  rxm::Stream stream = archive.open_entry("text/intro.txt");
  std::filesystem::resize_file(path, 256);  // two of intro.txt's five bytes left
  const auto failure = Failure([&] { archive.read("text/intro.txt"); });
  EXPECT_EQ(failure.first, Code::kTruncated);
  EXPECT_EQ(failure.second.rfind(path + ": text/intro.txt: ", 0), 0u) << failure.second;
  char bytes[5] = {};
  EXPECT_EQ(Failure([&] { stream.read(bytes, 5); }).first, Code::kTruncated);
  EXPECT_EQ(std::string(bytes, 2), "he");
  EXPECT_TRUE(stream.at_end());
}

}  // namespace
