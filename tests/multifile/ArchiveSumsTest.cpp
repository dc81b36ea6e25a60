// The sums file beside an archive: its text is sha256sum's, every changed
// byte of an entry is caught, writers keep it current (reusing kept entries'
// sums), and a sums file left behind by a replacement is told apart from
// damage.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "backends/FaultySystem.h"
#include "files/Sha256.h"
#include "multifile/ArchiveBytes.h"
#include "multifile/ArchiveDigest.h"
#include "multifile/ArchiveSums.h"

namespace {

using namespace testing_support;
using RXM::EntrySum;

RXM::sys::System& Real() {
  return RXM::sys::System::Default();
}

std::vector<EntrySum> Computed(const std::string& archive) {
  std::vector<EntrySum> sums;
  const RXM::Status status = RXM::ComputeSums(Real(), archive, {}, &sums);
  EXPECT_TRUE(status.IsOk()) << status.GetText();
  return sums;
}

std::vector<EntrySum> Read(const std::string& archive) {
  std::vector<EntrySum> sums;
  const RXM::Status status = RXM::ReadSums(Real(), RXM::SumsPathOf(archive), &sums);
  EXPECT_TRUE(status.IsOk()) << status.GetText();
  return sums;
}

// An archive of three entries written with its sums file.
std::string WithSums(const TempDir& dir) {
  const std::string path = dir.Path("s.kymf");
  MultiFileWriter writer(path.c_str());
  writer.SetWriteSums(true);
  writer.AddBytes("a.txt", "alpha", 5);
  writer.AddBytes("dir/b.bin", "\x01\x02\x03\x04", 4);
  writer.AddBytes("c", "gamma!", 6);
  EXPECT_TRUE(writer.Commit()) << writer.GetError();
  return path;
}

void FlipInPlace(const std::string& path, std::size_t at) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekg(static_cast<std::streamoff>(at));
  const char byte = static_cast<char>(file.get() ^ 0x20);
  file.seekp(static_cast<std::streamoff>(at));
  file.put(byte);
}

TEST(Sha256Test, GivesTheKnownDigests) {
  EXPECT_EQ(RXM::Sha256::HexOf("", 0),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(RXM::Sha256::HexOf("abc", 3),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  RXM::Sha256 pieces;  // the same bytes in pieces, and the object reused after Finish
  pieces.Update("a", 1);
  pieces.Update("bc", 2);
  EXPECT_EQ(RXM::Sha256::Hex(pieces.Finish()), RXM::Sha256::HexOf("abc", 3));
  pieces.Update("", 0);
  EXPECT_EQ(RXM::Sha256::Hex(pieces.Finish()), RXM::Sha256::HexOf("", 0));
}

struct NameCase {
  const char* label;
  std::string name;
  std::string line;  // as sha256sum writes it, after the digest
};

// Printed by its label: googletest would otherwise dump the object's bytes,
// unset ones of the strings' inner buffers among them (valgrind objects).
void PrintTo(const NameCase& c, std::ostream* out) {
  *out << c.label;
}

class SumsLineTest : public testing::TestWithParam<NameCase> {};

TEST_P(SumsLineTest, WritesAndReadsNamesAsSha256sumDoes) {
  const NameCase& c = GetParam();
  const std::string hex(64, 'a');
  const std::string text = RXM::FormatSums({{c.name, hex}});
  EXPECT_EQ(text, c.line);
  std::vector<EntrySum> back;
  ASSERT_TRUE(RXM::ParseSums(text, "x.sha256", &back).IsOk());
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].name, c.name);
  EXPECT_EQ(back[0].hex, hex);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SumsLineTest,
    testing::Values(NameCase{"plain", "dir/a b.txt", std::string(64, 'a') + "  dir/a b.txt\n"},
                    NameCase{"backslash", "a\\b", "\\" + std::string(64, 'a') + "  a\\\\b\n"},
                    NameCase{"newline", "a\nb", "\\" + std::string(64, 'a') + "  a\\nb\n"},
                    NameCase{"star", "*a", std::string(64, 'a') + "  *a\n"}),
    CaseName<NameCase>);

TEST(SumsParseTest, RefusesWhatIsNoSumAndTakesTheBinaryMarker) {
  std::vector<EntrySum> sums;
  const std::string hex(64, 'F');
  EXPECT_TRUE(RXM::ParseSums(hex + " *bin\n", "x", &sums).IsOk());
  EXPECT_EQ(sums.at(0).name, "bin");
  EXPECT_EQ(sums.at(0).hex, std::string(64, 'f'));
  for (const std::string& bad : {std::string("short  a\n"), hex + " a\n", hex + "  \n",
                                 std::string(63, 'a') + "g  a\n", "\\" + hex + "  a\\q\n"}) {
    const RXM::Status status = RXM::ParseSums(bad, "x.sha256", &sums);
    EXPECT_EQ(status.GetCode(), RXM::ErrorCode::kNotAnArchive) << bad;
    EXPECT_NE(std::string(status.GetText()).find("x.sha256: line 1"), std::string::npos);
  }
}

// Only a sums file that is not there lets an archive be read unchecked;
// one that is there but cannot be read or trusted fails what needed it.
TEST(SumsParseTest, OnlyAMissingSumsFileMeansNoSums) {
  using RXM::ErrorCode;
  for (const auto& [code, none] :
       std::vector<std::pair<ErrorCode, bool>>{{ErrorCode::kNoSuchFile, true},
                                               {ErrorCode::kRemoteNotFound, true},
                                               {ErrorCode::kOk, false},
                                               {ErrorCode::kCannotOpen, false},
                                               {ErrorCode::kNotARegularFile, false},
                                               {ErrorCode::kNotAnArchive, false},
                                               {ErrorCode::kReadFailed, false}}) {
    EXPECT_EQ(RXM::IsNoSumsFile(RXM::Status(code, "x.kymf.sha256")), none) << RXM::Describe(code);
  }
}

TEST(ArchiveSumsTest, TheWrittenSumsAreThoseOfTheEntriesInDirectoryOrder) {
  TempDir dir;
  const std::string path = WithSums(dir);
  const std::vector<EntrySum> sums = Read(path);
  ASSERT_EQ(sums.size(), 3u);
  EXPECT_EQ(sums[0].name, "a.txt");
  EXPECT_EQ(sums[0].hex, RXM::Sha256::HexOf("alpha", 5));
  EXPECT_EQ(sums[2].name, "c");
  EXPECT_EQ(sums, Computed(path));
  std::vector<EntrySum> together;  // many threads digest the same sums, in the same order
  ASSERT_TRUE(RXM::ComputeSums(Real(), path, {}, &together, 4).IsOk());
  EXPECT_EQ(together, sums);
}

// The sums are those of the file whose directory was read: an archive of
// the same layout put under the name just after the open (as a writer's
// rename would) changes no sum.
TEST(ArchiveSumsTest, SumsAreOfTheFileOpenedNotOfWhatTakesItsNameMeanwhile) {
#if defined(_WIN32)
  GTEST_SKIP() << "an open file cannot be replaced on Windows";
#endif
  TempDir dir;
  const std::string path = WithSums(dir);
  const std::vector<EntrySum> before = Read(path);
  const std::string other = dir.Path("other.kymf");
  {
    MultiFileWriter writer(other.c_str());
    writer.AddBytes("a.txt", "ALPHA", 5);
    writer.AddBytes("dir/b.bin", "\x05\x06\x07\x08", 4);
    writer.AddBytes("c", "GAMMA!", 6);
    ASSERT_TRUE(writer.Commit()) << writer.GetError();
  }
  FaultySystem system;
  bool replaced = false;
  system.afterOpen = [&](const char* opened) {
    if (!replaced && path == opened) {
      replaced = true;
      std::filesystem::rename(other, path);
    }
  };
  std::vector<EntrySum> sums;
  const RXM::Status status = RXM::ComputeSums(system, path, {}, &sums, 2);
  ASSERT_TRUE(status.IsOk()) << status.GetText();
  ASSERT_TRUE(replaced);
  EXPECT_EQ(sums, before);
}

// Every byte of the data region, changed in place, makes exactly the entry
// that holds it differ from its sum; the sums file is then not stale.
TEST(ArchiveSumsTest, EveryFlippedDataByteIsCaughtInItsEntry) {
  TempDir dir;
  const std::string original = WithSums(dir);
  const Bytes bytes = ReadAll(original);
  const std::size_t dataStart = 8 + 3 * 80;
  const std::vector<std::pair<std::size_t, std::size_t>> entries = {{0, 5}, {5, 9}, {9, 15}};
  for (std::size_t at = dataStart; at < bytes.size(); ++at) {
    WriteAll(original, bytes);
    FlipInPlace(original, at);
    const std::vector<EntrySum> expected = Read(original);
    const std::vector<EntrySum> actual = Computed(original);
    ASSERT_EQ(actual.size(), 3u);
    for (std::size_t e = 0; e < entries.size(); ++e) {
      const bool holds = at - dataStart >= entries[e].first && at - dataStart < entries[e].second;
      EXPECT_EQ(actual[e].hex != expected[e].hex, holds) << "byte " << at << ", entry " << e;
    }
#if !defined(_WIN32)  // Windows' creation time: docs/sums.md
    EXPECT_FALSE(RXM::ArchiveNewerThanSums(Real(), original, RXM::SumsPathOf(original)))
        << "a change in place is damage, not a replacement";
#endif
  }
}

TEST(ArchiveSumsTest, AnArchiveReplacedWithoutItsSumsMakesThemStale) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows keeps a creation time across a quick rename (tunneling), and Wine "
                  "moves it with each change: staleness rests on the birth time (docs/sums.md)";
#endif
  TempDir dir;
  const std::string path = WithSums(dir);
  // The sums were written a while ago; the clock's steps could hide less.
  const std::filesystem::path sums = RXM::SumsPathOf(path);
  std::filesystem::last_write_time(
      sums, std::filesystem::last_write_time(sums) - std::chrono::seconds(2));
  const std::string other = dir.Path("other.kymf");
  WriteAll(other, Archive({{"a.txt", "alpha"}}));
  ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);  // as a tool unaware of sums does
  EXPECT_TRUE(RXM::ArchiveNewerThanSums(Real(), path, RXM::SumsPathOf(path)));
}

TEST(ArchiveSumsTest, WritersKeepAnExistingSumsFileCurrentAndWriteNoneUnasked) {
  TempDir dir;
  const std::string path = WithSums(dir);
  {
    MultiFileWriter writer(path.c_str(), true);
    writer.AddBytes("d.txt", "delta", 5);
    writer.RemoveExisting("c");
    writer.RenameExisting("a.txt", "renamed.txt");
    ASSERT_TRUE(writer.Commit()) << writer.GetError();
    EXPECT_TRUE(writer.GetSumsStatus().IsOk());
  }
  EXPECT_EQ(Read(path), Computed(path));
  EXPECT_EQ(Read(path).size(), 3u);
  Pointer<MultiFile> archive(new MultiFile(path.c_str()));
  WriteAll(dir.Path("e.txt"), "epsilon");
  ASSERT_TRUE(archive->InsertFile(Pointer<KYFile>(), dir.Path("e.txt").c_str(), "e.txt"));
  EXPECT_EQ(Read(path), Computed(path)) << "InsertFile left the sums behind";

  const std::string plain = dir.Path("plain.kymf");
  MultiFileWriter writer(plain.c_str());
  writer.AddBytes("x", "x", 1);
  ASSERT_TRUE(writer.Commit());
  EXPECT_FALSE(Exists(RXM::SumsPathOf(plain)));
}

// A kept entry's sum comes from the current sums file, not from its bytes:
// a sums line made different on purpose survives an addition.
TEST(ArchiveSumsTest, KeptEntriesTakeTheirSumsFromACurrentSumsFile) {
  TempDir dir;
  const std::string path = WithSums(dir);
  std::vector<EntrySum> sums = Read(path);
  sums[1].hex = std::string(64, '0');
  ASSERT_TRUE(RXM::WriteSums(Real(), RXM::SumsPathOf(path), path, sums).IsOk());
  MultiFileWriter writer(path.c_str(), true);
  writer.AddBytes("d.txt", "delta", 5);
  ASSERT_TRUE(writer.Commit());
  const std::vector<EntrySum> after = Read(path);
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ(after[1].hex, std::string(64, '0')) << "the kept entry was read again";
  EXPECT_EQ(after[3].hex, RXM::Sha256::HexOf("delta", 5));
}

// Every call of a commit failed in turn: the archive and its sums file end
// as a consistent pair, or with the sums file stale; never a current-looking
// sums file that does not match.
TEST(ArchiveSumsTest, AFailureBetweenTheTwoFilesLeavesTheSumsStaleNeverSilentlyWrong) {
  for (int n = 1;; ++n) {
    TempDir dir;
    const std::string path = WithSums(dir);
    FaultySystem system;
    system.FailCall(n);
    MultiFileWriter writer(system, path.c_str(), true);
    writer.AddBytes("new.txt", "fresh", 5);
    writer.Commit();
    const bool failed = system.failedCall() != nullptr;
    system.Heal();
    const std::string at = "call " + std::to_string(n);
    const bool consistent = Read(path) == Computed(path);
    EXPECT_TRUE(consistent || RXM::ArchiveNewerThanSums(Real(), path, RXM::SumsPathOf(path)))
        << at << ": a sums file that does not match, yet is not stale";
    EXPECT_TRUE(Leftovers(dir).empty()) << at;
    if (!failed) {
      EXPECT_TRUE(consistent);
      break;
    }
  }
}

}  // namespace

namespace {

// The archive of WithSums with the last byte of "dir/b.bin" changed in place.
std::string Damaged(const TempDir& dir) {
  const std::string path = WithSums(dir);
  FlipInPlace(path, 8 + 3 * 80 + 8);
  return path;
}

TEST(CheckedReadTest, ExtractToFileRefusesADamagedEntryOnceSumsAreLoaded) {
  TempDir dir;
  const std::string path = Damaged(dir);
  Pointer<MultiFile> archive(new MultiFile(path.c_str()));
  ASSERT_TRUE(archive->OpenFile("dir/b.bin", "rb"));
  EXPECT_TRUE(archive->ExtractToFile(dir.Path("unchecked").c_str())) << "no check unless asked";
  ASSERT_TRUE(archive->LoadSums().IsOk());
  EXPECT_FALSE(archive->ExtractToFile(dir.Path("checked").c_str()));
  EXPECT_EQ(archive->GetStatus().GetCode(), RXM::ErrorCode::kDamaged);
  EXPECT_FALSE(Exists(dir.Path("checked")));
  ASSERT_TRUE(archive->OpenFile("a.txt", "rb"));
  EXPECT_TRUE(archive->ExtractToFile(dir.Path("a.txt").c_str()));
  EXPECT_EQ(archive->CheckEntrySum("DIR/B.BIN").GetCode(), RXM::ErrorCode::kDamaged);
  EXPECT_TRUE(archive->CheckEntrySum("c").IsOk());
}

TEST(CheckedReadTest, ASearchPathAskedToCheckRefusesADamagedEntryWithItsReason) {
  TempDir dir;
  const std::string path = Damaged(dir);
  SearchPath unchecked;
  ASSERT_TRUE(unchecked.Mount(path.c_str(), "", true));
  EXPECT_FALSE(unchecked.Open("dir/b.bin").IsNull());
  SearchPath checked;
  checked.SetCheckSums(true);
  ASSERT_TRUE(checked.Mount(path.c_str(), "", true));
  RXM::Status why;
  EXPECT_TRUE(checked.Open("dir/b.bin", why).IsNull());
  EXPECT_EQ(why.GetCode(), RXM::ErrorCode::kDamaged);
  EXPECT_NE(std::string(why.GetText()).find("dir/b.bin: damaged"), std::string::npos);
  EXPECT_FALSE(checked.Open("a.txt", why).IsNull());
}

}  // namespace
