// rxm::Archive and rxm::SearchPath over HTTP, against the tests' own servers.
#include <gtest/gtest.h>

#include <string>

#include "multifile/ArchiveBytes.h"
#include "remote/RemoteServers.h"
#include "rxm/RxmFailure.h"

namespace {

using testing_support::Failure;
using testing_support::RemoteServers;

TEST(RxmRemoteTest, AnArchiveAtAUrlIsReadAsOneOnDisk) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("rxm") + ".kymf";
  servers->Serve(name, testing_support::Archive({{"levels/1.map", "dragon"}, {"b", "12"}}));
  const std::string url = servers->Url(RemoteServers::kHttp, name);
  const rxm::Archive archive = rxm::Archive::open(url);
  EXPECT_EQ(archive.size(), 2u);
  EXPECT_EQ(archive.read_text("LEVELS/1.MAP"), "dragon");
  EXPECT_EQ(Failure([&] { archive.read("nope"); }),
            std::make_pair(RXM::ErrorCode::kNoSuchEntry, url + ": nope: no such entry"));
  rxm::SearchPath path;
  path.mount(url, "base");
  EXPECT_EQ(path.read_text("base/b"), "12");
  EXPECT_EQ(
      Failure([&] { rxm::Archive::open(servers->Url(RemoteServers::kHttp, "none.kymf")); }).first,
      RXM::ErrorCode::kRemoteNotFound);
}

// An entry beyond the first block is read after the archive was replaced on
// the server: the read fails with the transfer's reason, naming the entry.
TEST(RxmRemoteTest, AnArchiveReplacedWhileOpenFailsTheReadWithRemoteChanged) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("rxm-replaced") + ".kymf";
  const std::string big(200000, 'b');
  servers->Serve(name, testing_support::Archive({{"small", "s"}, {"big", big}}));
  const rxm::Archive archive = rxm::Archive::open(servers->Url(RemoteServers::kHttp, name));
  servers->Serve(
      name, testing_support::Archive({{"small", "t"}, {"big", std::string(200000, 'c')}}), 100);
  const auto failure = Failure([&] { archive.read("big"); });
  EXPECT_EQ(failure.first, RXM::ErrorCode::kRemoteChanged) << failure.second;
  EXPECT_EQ(failure.second.rfind(archive.source() + ": big: ", 0), 0u) << failure.second;
}

}  // namespace
