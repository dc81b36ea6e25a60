// An archive whose name is given to another file while it is being opened
// or read: every reader keeps reading the file it opened, whose directory it
// holds, so no name ever gives bytes that were stored under another.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "backends/FaultySystem.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

// Two versions of one archive: the same names, other sizes and bytes, so a
// directory of one with the bytes of the other shows in every read.
const std::vector<Entry> kFirst = {{"x", "first x, version one"}, {"y", "1111"}};
const std::vector<Entry> kSecond = {{"x", "2nd"}, {"y", "second y, version two, longer"}};

std::string ReadWhole(KYFile& file) {
  std::string read;
  char buffer[7];  // small, so that each stream is read in several calls
  unsigned int got = 0;
  while ((got = file.ReadData(buffer, 1, sizeof buffer)) > 0) {
    read.append(buffer, got);
  }
  return read;
}

// Windows refuses to put a file in the place of one held open, so none of
// this can happen there; the second handle itself is tested with the
// system's calls (OperatingSystemTest).
class ArchiveSnapshotTest : public testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    GTEST_SKIP() << "an open file cannot be replaced on Windows";
#endif
  }

  // Puts the second version under the archive's name right after the first
  // stream open of it (the moment a reader has the first version open), the
  // way every writer of ours replaces an archive.
  void ReplaceAfterFirstOpen() {
    WriteAll(next, Archive(kSecond));
    system.afterOpen = [this](const char* opened) {
      if (opened == path && !replaced) {
        replaced = true;
        ASSERT_EQ(std::rename(next.c_str(), path.c_str()), 0);
      }
    };
  }

  TempDir dir;
  const std::string path = Written(dir, "game.kymf", Archive(kFirst));
  const std::string next = dir.Path("next.kymf");
  FaultySystem system;
  bool replaced = false;
};

TEST_F(ArchiveSnapshotTest, EntryStreamsReadTheFileTheDirectoryCameFrom) {
  ReplaceAfterFirstOpen();
  MultiFile archive(system);
  ASSERT_TRUE(archive.OpenMultiFile(Pointer<KYFile>(), path.c_str()));
  ASSERT_TRUE(replaced);
  for (const Entry& entry : kFirst) {
    SCOPED_TRACE(entry.name);
    const Pointer<KYFile> stream = archive.OpenEntry(entry.name.c_str());
    ASSERT_FALSE(stream.IsNull());
    EXPECT_EQ(ReadWhole(*stream), entry.data);
    ASSERT_TRUE(archive.OpenFile(entry.name.c_str(), "rb"));
    EXPECT_EQ(ReadWhole(archive), entry.data);
  }
  // Opened again, the archive is the one now under its name.
  ASSERT_TRUE(archive.OpenMultiFile(Pointer<KYFile>(), path.c_str()));
  EXPECT_EQ(ReadWhole(*archive.OpenEntry("x")), kSecond[0].data);
}

TEST_F(ArchiveSnapshotTest, TheSearchPathReadsTheArchiveItMounted) {
  ReplaceAfterFirstOpen();
  SearchPath searchPath(system);
  ASSERT_TRUE(searchPath.Mount(path.c_str(), "", true));
  ASSERT_TRUE(replaced);
  for (const Entry& entry : kFirst) {
    const Pointer<KYFile> stream = searchPath.Open(entry.name.c_str());
    ASSERT_FALSE(stream.IsNull()) << entry.name;
    EXPECT_EQ(ReadWhole(*stream), entry.data);
  }
}

// A writer keeping entries copies them from the file whose records it
// read; the archive it writes holds the first version's bytes under the
// first version's names.
TEST_F(ArchiveSnapshotTest, AWriterCopiesKeptEntriesFromTheFileItRead) {
  ReplaceAfterFirstOpen();
  MultiFileWriter writer(system, path.c_str(), true);
  writer.AddBytes("z", "added", 5);
  ASSERT_TRUE(writer.Commit()) << writer.GetStatus().GetText();
  ASSERT_TRUE(replaced);
  MultiFile archive(path.c_str());
  for (const Entry& entry : kFirst) {
    EXPECT_EQ(ReadWhole(*archive.OpenEntry(entry.name.c_str())), entry.data) << entry.name;
  }
  EXPECT_EQ(ReadWhole(*archive.OpenEntry("z")), "added");
}

// A system that gives no second handle: entries are then read through the
// archive's own file, still the one opened.
TEST_F(ArchiveSnapshotTest, WithoutASecondHandleEntriesAreReadThroughTheOpenedFile) {
  class NoSecondHandle : public FaultySystem {
   public:
    RXM::sys::Handle duplicateForReading(std::FILE*) override { return RXM::sys::kNoHandle; }
  } refusing;
  refusing.afterOpen = [this](const char* opened) {
    if (opened == path && !replaced) {
      replaced = true;
      WriteAll(next, Archive(kSecond));
      ASSERT_EQ(std::rename(next.c_str(), path.c_str()), 0);
    }
  };
  MultiFile archive(refusing);
  ASSERT_TRUE(archive.OpenMultiFile(Pointer<KYFile>(), path.c_str()));
  for (const Entry& entry : kFirst) {
    const Pointer<KYFile> stream = archive.OpenEntry(entry.name.c_str());
    ASSERT_FALSE(stream.IsNull()) << entry.name;
    EXPECT_EQ(ReadWhole(*stream), entry.data);
  }
}

// Readers opening the archive and reading every entry while a writer puts
// one version and then the other in its place, as fast as it can: every
// read gives whole the bytes of one version, the one whose size the
// directory gave.
TEST(ArchiveSnapshotStressTest, ReadersOfAnArchiveBeingReplacedGetWholeVersions) {
  TempDir dir;
  const std::string path = Written(dir, "game.kymf", Archive(kFirst));
  const std::vector<Bytes> versions = {Archive(kFirst), Archive(kSecond)};
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int round = 0; !done; ++round) {
      const std::string staged = dir.Path("staged");
      WriteAll(staged, versions[static_cast<std::size_t>(round % 2)]);
      std::rename(staged.c_str(), path.c_str());
    }
  });
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 2; ++t) {
    readers.emplace_back([&] {
      for (int round = 0; round < 300; ++round) {
        MultiFile archive(path.c_str());
        const Pointer<KYFile> x = archive.OpenEntry("x");
        const Pointer<KYFile> y = archive.OpenEntry("y");
        if (x.IsNull() || y.IsNull()) {
          ++wrong;
          continue;
        }
        const std::string read = ReadWhole(*x) + "|" + ReadWhole(*y);
        if (read != kFirst[0].data + "|" + kFirst[1].data &&
            read != kSecond[0].data + "|" + kSecond[1].data) {
          ++wrong;
        }
      }
    });
  }
  for (std::thread& reader : readers) {
    reader.join();
  }
  done = true;
  writer.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
