// MemorySystem behaves as a file system where the library relies on one: an
// archive made, inserted into, rewritten and read through it is byte for byte
// the archive the disk gives, and each call answers as its POSIX counterpart.
#include "backends/MemorySystem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "backends/DiskFile.h"

namespace {

using namespace testing_support;
using RXM::sys::FileInfo;
using RXM::sys::FileKind;
using RXM::sys::Handle;
using RXM::sys::kNoHandle;
using RXM::sys::System;

void WriteThrough(System& system, const std::string& path, const std::string& text) {
  DiskFile file(system);
  ASSERT_TRUE(file.OpenFile(path.c_str(), "wb"));
  ASSERT_EQ(file.WriteData(text.data(), static_cast<unsigned int>(text.size()), 1), 1u);
  ASSERT_TRUE(file.CloseFile());
}

Bytes ReadThrough(System& system, const std::string& path) {
  DiskFile file(system);
  if (!file.OpenFile(path.c_str(), "rb")) {
    return Bytes();
  }
  Bytes bytes(file.GetFileSize());
  if (!bytes.empty() &&
      file.ReadData(bytes.data(), static_cast<unsigned int>(bytes.size()), 1) != 1) {
    return Bytes();
  }
  return bytes;
}

Bytes ReadWhole(KYFile& file) {
  Bytes bytes(file.GetFileSize());
  if (!bytes.empty()) {
    EXPECT_EQ(file.ReadData(bytes.data(), static_cast<unsigned int>(bytes.size()), 1), 1u);
  }
  return bytes;
}

// What a run of the library's whole life cycle of an archive in `folder`
// leaves: the archive's bytes, each entry as OpenEntry reads it, and one
// entry as ExtractToFile writes it.
struct Outcome {
  Bytes archive;
  std::vector<Bytes> entries;
  Bytes extracted;
};

Outcome LifeCycle(System& system, const std::string& folder) {
  Outcome out;
  const std::string name = folder + "/game.kymf";
  EXPECT_TRUE(MultiFile::CreateEmptyMultiFile(name.c_str(), system));
  MultiFile archive(system);
  EXPECT_TRUE(archive.OpenMultiFile(Pointer<KYFile>(), name.c_str()));
  WriteThrough(system, folder + "/one.txt", "the first file");
  WriteThrough(system, folder + "/two.txt", "2");
  EXPECT_TRUE(archive.InsertFile(Pointer<KYFile>(), (folder + "/one.txt").c_str(), "one"));
  EXPECT_TRUE(archive.InsertFile(Pointer<KYFile>(), (folder + "/two.txt").c_str(), "two"));
  archive.CloseMultiFile();
  {
    MultiFileWriter writer(system, name.c_str(), true);
    writer.AddBytes("three", "third!", 6);
    writer.AddFile("four", (folder + "/one.txt").c_str());
    EXPECT_TRUE(writer.RenameExisting("one", "uno"));
    EXPECT_TRUE(writer.Commit()) << writer.GetError();
  }
  EXPECT_TRUE(archive.OpenMultiFile(Pointer<KYFile>(), name.c_str()));
  EXPECT_TRUE(archive.CheckArchive().empty());
  for (const char* entry : {"uno", "two", "three", "four"}) {
    Pointer<KYFile> stream = archive.OpenEntry(entry);
    EXPECT_FALSE(stream.IsNull()) << entry;
    out.entries.push_back(stream.IsNull() ? Bytes() : ReadWhole(*stream));
  }
  EXPECT_TRUE(archive.OpenFile("three", "rb"));
  EXPECT_TRUE(archive.ExtractToFile((folder + "/extracted").c_str()));
  archive.CloseMultiFile();
  out.archive = ReadThrough(system, name);
  out.extracted = ReadThrough(system, folder + "/extracted");
  return out;
}

TEST(MemorySystemTest, AnArchiveMadeInsertedIntoRewrittenAndReadGivesTheDisksBytes) {
  TempDir dir;
  const Outcome disk = LifeCycle(System::Default(), dir.Path(""));
  MemorySystem memory;
  ASSERT_TRUE(memory.makeFolder("/work"));
  const Outcome inMemory = LifeCycle(memory, "/work");

  EXPECT_EQ(inMemory.entries, (std::vector<Bytes>{BytesOf("the first file"), BytesOf("2"),
                                                  BytesOf("third!"), BytesOf("the first file")}));
  EXPECT_EQ(inMemory.extracted, BytesOf("third!"));
  EXPECT_EQ(inMemory.archive.size(), 8u + 4 * 80 + 14 + 1 + 6 + 14);
  EXPECT_EQ(inMemory.archive, disk.archive);
  EXPECT_EQ(inMemory.entries, disk.entries);
  EXPECT_EQ(inMemory.extracted, disk.extracted);
  // Nothing left open, no temporary file left beside the archive.
  EXPECT_EQ(memory.openStreams(), 0u);
  EXPECT_EQ(memory.openHandles(), 0u);
  EXPECT_EQ(memory.files(), (std::vector<std::string>{"/work/extracted", "/work/game.kymf",
                                                      "/work/one.txt", "/work/two.txt"}));
}

TEST(MemorySystemTest, AMissingNameIsENOENTAndAFolderEISDIR) {
  MemorySystem memory;
  ASSERT_TRUE(memory.makeFolder("/work"));
  errno = 0;
  EXPECT_EQ(memory.open("/work/none", "rb"), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(memory.openForReading("/work/none"), kNoHandle);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(memory.open("/nowhere/new", "wb"), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(memory.open("/work", "rb"), nullptr);
  EXPECT_EQ(errno, EISDIR);
  FileInfo info;
  ASSERT_EQ(memory.inspect("/work/none", &info), 0);
  EXPECT_EQ(info.kind, FileKind::kMissing);
  ASSERT_EQ(memory.inspect("/work", &info), 0);
  EXPECT_EQ(info.kind, FileKind::kFolder);
  EXPECT_NE(memory.replace("/work/none", "/work/other"), 0);
  EXPECT_EQ(errno, ENOENT);

  DebuggerCapture debugger;
  MultiFile archive(memory);
  EXPECT_FALSE(archive.OpenMultiFile(Pointer<KYFile>(), "/work/none"));
  EXPECT_EQ(archive.GetStatus().GetCode(), RXM::ErrorCode::kNoSuchFile);
  EXPECT_FALSE(archive.OpenMultiFile(Pointer<KYFile>(), "/work"));
  EXPECT_EQ(archive.GetStatus().GetCode(), RXM::ErrorCode::kIsAFolder);
}

// As on POSIX: the next open sees the new file, one already open keeps the
// old bytes.
TEST(MemorySystemTest, AReplaceIsSeenByTheNextOpenAndNotByOneAlreadyOpen) {
  MemorySystem memory;
  ASSERT_TRUE(memory.put("old", "old bytes", 9));
  ASSERT_TRUE(memory.put("new", "new", 3));
  const Handle before = memory.openForReading("old");
  ASSERT_NE(before, kNoHandle);
  ASSERT_EQ(memory.replace("new", "old"), 0);

  EXPECT_EQ(ReadThrough(memory, "old"), BytesOf("new"));
  EXPECT_EQ(ReadThrough(memory, "new"), Bytes());
  char kept[16] = {};
  EXPECT_EQ(memory.readAt(before, kept, sizeof kept, 4), 5);
  EXPECT_STREQ(kept, "bytes");
  EXPECT_EQ(memory.closeHandle(before), 0);
  EXPECT_EQ(memory.placeNew("old", "old"), EEXIST);
}

TEST(MemorySystemTest, StreamsWriteSeekAppendAndTruncateLikeFiles) {
  MemorySystem memory;
  std::FILE* stream = memory.open("f", "wb");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(memory.write("abc", 1, 3, stream), 3u);
  ASSERT_EQ(std::fseek(stream, 5, SEEK_SET), 0);
  ASSERT_EQ(memory.write("z", 1, 1, stream), 1u);
  ASSERT_EQ(memory.flush(stream), 0);
  FileInfo named, held;
  ASSERT_EQ(memory.inspect("f", &named), 0);
  ASSERT_EQ(memory.inspectHandle(memory.handleOf(stream), &held), 0);
  EXPECT_EQ(named.size, 6u);
  EXPECT_EQ(held.node, named.node);
  EXPECT_EQ(memory.close(stream), 0);
  EXPECT_EQ(ReadThrough(memory, "f"), (Bytes{'a', 'b', 'c', 0, 0, 'z'}));

  stream = memory.open("f", "ab");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(memory.write("!", 1, 1, stream), 1u);
  ASSERT_EQ(memory.close(stream), 0);
  EXPECT_EQ(ReadThrough(memory, "f"), (Bytes{'a', 'b', 'c', 0, 0, 'z', '!'}));
  EXPECT_EQ(memory.open("f", "wbx"), nullptr);
  EXPECT_EQ(errno, EEXIST);

  stream = memory.open("f", "wb");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(memory.inspect("f", &held), 0);
  EXPECT_EQ(held.size, 0u);
  EXPECT_EQ(held.node, named.node);  // truncated in place
  const Handle from = memory.openForReading("f");
  ASSERT_TRUE(memory.put("source", "0123456789", 10));
  const Handle source = memory.openForReading("source");
  EXPECT_EQ(memory.copyRange(source, 3, 4, stream), 4u);
  EXPECT_EQ(memory.copyRange(source, 8, 5, stream), 2u);  // ends early
  EXPECT_EQ(memory.close(stream), 0);
  EXPECT_EQ(ReadThrough(memory, "f"), BytesOf("345689"));
  EXPECT_EQ(memory.closeHandle(from), 0);
  EXPECT_EQ(memory.closeHandle(source), 0);
  EXPECT_EQ(memory.closeHandle(source), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST(MemorySystemTest, ALockBelongsToOneHandleAndGoesWithIt) {
  MemorySystem memory;
  ASSERT_TRUE(memory.put("archive", "x", 1));
  const Handle first = memory.openLock("archive");
  const Handle second = memory.openLock("archive");
  EXPECT_EQ(memory.tryLock(first), 0);
  EXPECT_EQ(memory.tryLock(second), EWOULDBLOCK);
  EXPECT_EQ(memory.closeHandle(first), 0);
  EXPECT_EQ(memory.tryLock(second), 0);
  EXPECT_EQ(memory.unlock(second), 0);
  EXPECT_EQ(memory.closeHandle(second), 0);
  EXPECT_EQ(memory.openLock("none"), kNoHandle);
  EXPECT_EQ(errno, ENOENT);

  // A temporary file is locked while its writer has it open.
  std::string name;
  std::FILE* temporary = memory.createTemporary("archive.tmp-", &name);
  ASSERT_NE(temporary, nullptr);
  EXPECT_EQ(name.size(), std::strlen("archive.tmp-") + 6);
  EXPECT_NE(memory.removeAbandoned(name.c_str()), 0);
  ASSERT_EQ(memory.close(temporary), 0);
  EXPECT_EQ(memory.removeAbandoned(name.c_str()), 0);
  EXPECT_EQ(memory.files(), std::vector<std::string>{"archive"});
}

TEST(MemorySystemTest, FoldersAreWalkedCreatedListedAndChangedByName) {
  MemorySystem memory;
  ASSERT_TRUE(memory.makeFolder("/root"));
  RXM::sys::WalkStop stop;
  EXPECT_EQ(memory.openFolderBelow("/root", "a/b", false, &stop), kNoHandle);
  EXPECT_EQ(stop.error, ENOENT);
  const Handle folder = memory.openFolderBelow("/root", "a/b", true, &stop);
  ASSERT_NE(folder, kNoHandle);
  std::FILE* stream = memory.createIn(folder, "file");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(memory.close(stream), 0);
  EXPECT_EQ(memory.createIn(folder, "file"), nullptr);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(memory.renameIn(folder, "file", "renamed", false), 0);
  FileInfo info;
  ASSERT_EQ(memory.inspectIn(folder, "renamed", &info), 0);
  EXPECT_EQ(info.kind, FileKind::kFile);
  EXPECT_FALSE(info.link);

  std::vector<std::string> listed;
  EXPECT_EQ(memory.listBelow(
                "/root", "a",
                [](const char* name, FileKind kind, void* context) {
                  static_cast<std::vector<std::string>*>(context)->push_back(
                      std::string(name) + (kind == FileKind::kFolder ? "/" : ""));
                },
                &listed),
            1);
  EXPECT_EQ(listed, std::vector<std::string>{"b/"});
  EXPECT_EQ(memory.openFolderBelow("/root", "a/b/renamed/c", true, &stop), kNoHandle);
  EXPECT_EQ(stop.found, FileKind::kFile);
  EXPECT_EQ(stop.at, std::strlen("a/b/"));
  const Handle file = memory.openBelow("/root", "a/b/renamed");
  EXPECT_NE(file, kNoHandle);
  EXPECT_EQ(memory.closeHandle(file), 0);
  EXPECT_EQ(memory.removeIn(folder, "renamed"), 0);
  EXPECT_EQ(memory.removeIn(folder, "renamed"), ENOENT);
  EXPECT_EQ(memory.closeHandle(folder), 0);
  EXPECT_EQ(memory.openHandles(), 0u);
}

TEST(MemorySystemTest, APrivateFolderIsMadeOnlyUnderAFreeNameInAFolder) {
  MemorySystem memory;
  ASSERT_TRUE(memory.put("/file", "x", 1));
  EXPECT_EQ(memory.makePrivateFolder("/own"), 0);
  EXPECT_EQ(memory.makePrivateFolder("/own"), EEXIST);
  EXPECT_EQ(memory.makePrivateFolder("/file"), EEXIST);
  EXPECT_EQ(memory.makePrivateFolder("/missing/own"), ENOENT);
  EXPECT_EQ(memory.makePrivateFolder("/file/own"), ENOTDIR);
  ASSERT_TRUE(memory.put("/own/archive", "x", 1));
  EXPECT_NE(memory.remove("/own"), 0);
  EXPECT_EQ(memory.remove("/own/archive"), 0);
  EXPECT_EQ(memory.remove("/own"), 0);
  EXPECT_EQ(memory.makePrivateFolder("/own"), 0);
}

}  // namespace
