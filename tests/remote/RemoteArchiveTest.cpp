// Archives read over HTTP: opened through an HttpFile, mounted in a search
// path, read from many threads at once, and damaged as the hostile corpus is.
#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <thread>
#include <vector>

#include "multifile/HostileCorpus.h"
#include "remote/RemoteServers.h"

namespace {

using namespace testing_support;

std::vector<Entry> Entries(int count, std::size_t size) {
  std::vector<Entry> entries;
  for (int i = 0; i < count; ++i) {
    std::string data(size + static_cast<std::size_t>(i % 7), '\0');
    for (std::size_t b = 0; b < data.size(); ++b) {
      data[b] = static_cast<char>('a' + (i + b) % 26);
    }
    entries.push_back({"dir/entry" + std::to_string(i), data});
  }
  return entries;
}

std::string ReadWhole(KYFile& file) {
  std::string read;
  char buffer[4096];
  unsigned int got = 0;
  while ((got = file.ReadData(buffer, 1, sizeof buffer)) > 0) {
    read.append(buffer, got);
  }
  return read;
}

bool OpenRemote(MultiFile& archive, const std::string& url, const RemoteServers& servers) {
  auto* file = new HttpFile();
  RXM::RemoteOptions options;
  options.caFile = servers.CaFile();
  file->SetOptions(options);
  return archive.OpenMultiFile(Pointer<KYFile>(file), url.c_str());
}

// The directory of 10 entries lies in the first 64 KiB; that of 2,000 (160
// KB) does not and takes one more request, whole. The last entry, beyond
// the first block, then costs one.
struct Opening {
  int entries;
  std::size_t size;
  int requests;
};

// Printed by what names the case: googletest would dump its bytes, unset
// padding among them.
void PrintTo(const Opening& c, std::ostream* out) {
  *out << c.entries << " entries";
}

class RemoteArchiveOpenTest : public testing::TestWithParam<Opening> {};

TEST_P(RemoteArchiveOpenTest, OpensInAsFewRequestsAsTheDirectoryNeeds) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("archive") + ".kymf";
  const std::vector<Entry> entries = Entries(GetParam().entries, GetParam().size);
  servers->Serve(name, Archive(entries));
  MultiFile archive;
  ASSERT_TRUE(OpenRemote(archive, servers->Url(RemoteServers::kHttp, name), *servers))
      << archive.GetStatus().GetText();
  EXPECT_EQ(servers->Requests(name, GetParam().requests), GetParam().requests);
  ASSERT_EQ(archive.GetDirectory().GetCount(), GetParam().entries);
  const Entry& last = entries.back();
  const Pointer<KYFile> stream = archive.OpenEntry(last.name.c_str());
  ASSERT_FALSE(stream.IsNull());
  EXPECT_EQ(ReadWhole(*stream), last.data);
  EXPECT_EQ(servers->Requests(name, GetParam().requests + 1), GetParam().requests + 1);
}

INSTANTIATE_TEST_SUITE_P(Directories, RemoteArchiveOpenTest,
                         testing::Values(Opening{10, 40000, 1}, Opening{2000, 4096, 2}));

// Eight threads read every entry through their own streams, each in another
// order, through one object and its cache.
TEST(RemoteArchiveTest, EntryStreamsReadFromManyThreadsAtOnce) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("threads") + ".kymf";
  const std::vector<Entry> entries = Entries(64, 100000);
  servers->Serve(name, Archive(entries));
  MultiFile archive;
  ASSERT_TRUE(OpenRemote(archive, servers->Url(RemoteServers::kTrusted, name), *servers));
  std::vector<int> wrong(8, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[(i * 5 + static_cast<std::size_t>(t) * 8) % entries.size()];
        const Pointer<KYFile> stream = archive.OpenEntry(entry.name.c_str());
        wrong[static_cast<std::size_t>(t)] += stream.IsNull() || ReadWhole(*stream) != entry.data;
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(wrong, std::vector<int>(8, 0));
}

TEST(RemoteArchiveTest, SearchPathMountsAUrlAsAnArchive) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("mounted") + ".kymf";
  const std::vector<Entry> entries = Entries(5, 1000);
  servers->Serve(name, Archive(entries));
  RemoteServers::SetEnvironment("RXMFILES_CA_FILE", servers->CaFile());
  SearchPath path;
  const std::string url = servers->Url(RemoteServers::kTrusted, name);
  ASSERT_TRUE(path.Mount(url.c_str(), "remote", true));
  EXPECT_EQ(path.List("remote/dir").size(), entries.size());
  const Pointer<KYFile> file = path.Open(("remote/" + entries[3].name).c_str());
  ASSERT_FALSE(file.IsNull());
  EXPECT_EQ(ReadWhole(*file), entries[3].data);
  EXPECT_FALSE(path.Mount(servers->Url(RemoteServers::kTrusted, "missing.kymf").c_str(), "", true));
  EXPECT_TRUE(path.Unmount(url.c_str()));
}

// Each damaged archive, served, gives what it gives on disk: the same open
// reason (named by the URL), the same findings, the same bytes per entry.
class RemoteHostileArchiveTest : public testing::TestWithParam<Hostile> {};

TEST_P(RemoteHostileArchiveTest, GivesTheSameReasonsAsOnDisk) {
  RXMFILES_NEED_SERVERS(servers);
  const Hostile& hostile = GetParam();
  const std::string name = RemoteServers::Unique("hostile") + ".kymf";
  servers->Serve(name, hostile.bytes);
  const std::string path = servers->Www() + "/" + name;
  const std::string url = servers->Url(RemoteServers::kHttp, name);
  DebuggerCapture debugger;
  MultiFile onDisk;
  MultiFile remote;
  const bool opened = onDisk.OpenMultiFile(Pointer<KYFile>(), path.c_str());
  ASSERT_EQ(OpenRemote(remote, url, *servers), opened) << remote.GetStatus().GetText();
  EXPECT_EQ(remote.GetStatus().GetCode(), onDisk.GetStatus().GetCode());
  const std::string diskText = onDisk.GetStatus().GetText();
  EXPECT_EQ(remote.GetStatus().GetText(), opened ? "" : url + diskText.substr(path.size()));
  if (!opened) {
    return;
  }
  EXPECT_EQ(remote.CheckArchive().size(), onDisk.CheckArchive().size());
  for (int i = 0; i < onDisk.GetDirectory().GetCount(); ++i) {
    const String entry(onDisk.GetDirectory().GetAt(i)->name);
    EXPECT_EQ(remote.CheckEntry(entry).GetCode(), onDisk.CheckEntry(entry).GetCode()) << i;
    RXM::Status remoteWhy;
    RXM::Status diskWhy;
    const Pointer<KYFile> remoteStream = remote.OpenEntry(entry, remoteWhy);
    const Pointer<KYFile> diskStream = onDisk.OpenEntry(entry, diskWhy);
    ASSERT_EQ(remoteStream.IsNull(), diskStream.IsNull()) << i;
    EXPECT_EQ(remoteWhy.GetCode(), diskWhy.GetCode()) << i;
    EXPECT_EQ(remoteWhy.GetText(), diskWhy.IsOk() ? "" : url + (diskWhy.GetText() + path.size()))
        << i;
    if (!diskStream.IsNull()) {
      EXPECT_EQ(ReadWhole(*remoteStream), ReadWhole(*diskStream)) << i;
    }
    ASSERT_EQ(remote.OpenFile(entry, "rb"), onDisk.OpenFile(entry, "rb"));
    if (onDisk.IsFileOpened()) {
      EXPECT_EQ(ReadWhole(remote), ReadWhole(onDisk)) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, RemoteHostileArchiveTest, testing::ValuesIn(kCorpus),
                         CaseName<Hostile>);

}  // namespace
