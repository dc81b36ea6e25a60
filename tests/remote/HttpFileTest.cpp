// HttpFile against real servers on 127.0.0.1: nginx (HTTP and TLS), the fault
// proxy in front of it, and Python's http.server, which ignores Range.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "remote/RemoteServers.h"

namespace {

using namespace testing_support;
using Code = RXM::ErrorCode;

Bytes Pattern(std::size_t size, unsigned seed = 1) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>((i * 131 + seed * 7 + (i >> 11)) & 0xFF);
  }
  return bytes;
}

RXM::RemoteOptions Options(const RemoteServers& servers) {
  RXM::RemoteOptions options;
  options.caFile = servers.CaFile();
  options.retryDelayMs = 10;
  return options;
}

Bytes ReadRange(HttpFile& file, long at, unsigned size) {
  Bytes bytes(size);
  EXPECT_TRUE(file.Seek(at, 0));
  bytes.resize(file.ReadData(bytes.data(), 1, size));
  return bytes;
}

class HttpFileSchemeTest : public testing::TestWithParam<RemoteServers::Server> {};

// Small reads through the cache, a large one straight through, seeks from
// every origin: the bytes on disk, over either scheme.
TEST_P(HttpFileSchemeTest, ReadsTheBytesServedAtEveryOffset) {
  RXMFILES_NEED_SERVERS(servers);
  if (GetParam() != RemoteServers::kTrusted && GetParam() == RemoteServers::kHttps) {
    GTEST_SKIP() << "WinHTTP adds no CA file";
  }
  const std::string name = RemoteServers::Unique("object") + ".bin";
  const Bytes bytes = Pattern(3 * 1024 * 1024 + 17);
  servers->Serve(name, bytes);
  HttpFile file;
  file.SetOptions(Options(*servers));
  ASSERT_TRUE(file.OpenFile(servers->Url(GetParam(), name).c_str(), "rb"))
      << file.GetStatus().GetText();
  EXPECT_EQ(file.GetFileSize(), bytes.size());
  for (const auto& [at, size] : std::vector<std::pair<long, unsigned>>{
           {0, 10}, {65530, 20}, {1000000, 70000}, {5, 1u << 21}, {3145700, 200}}) {
    const std::size_t end = std::min<std::size_t>(bytes.size(), at + size);
    EXPECT_EQ(ReadRange(file, at, size), Bytes(bytes.begin() + at, bytes.begin() + end)) << at;
  }
  EXPECT_TRUE(file.EndOfFile());
  EXPECT_TRUE(file.Seek(-4, 2));
  EXPECT_EQ(file.GetPosition(), static_cast<long>(bytes.size() - 4));
  unsigned char item[8];
  EXPECT_EQ(file.ReadData(item, 8, 1), 0u);  // whole items only
  EXPECT_EQ(file.ReadData(item, 2, 4), 2u);
  EXPECT_FALSE(file.Seek(-1, 0));  // as fseek: before the start is refused
  EXPECT_EQ(file.GetPosition(), static_cast<long>(bytes.size()));
}

INSTANTIATE_TEST_SUITE_P(Schemes, HttpFileSchemeTest,
                         testing::Values(RemoteServers::kHttp, RemoteServers::kHttps));

TEST(HttpFileTest, RefusesEveryModeButRbAndWritesNothing) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("modes") + ".bin";
  servers->Serve(name, Pattern(100));
  HttpFile file;
  for (const char* mode : {"wb", "r+b", "ab", "r", "w", ""}) {
    EXPECT_FALSE(file.OpenFile(servers->Url(RemoteServers::kHttp, name).c_str(), mode)) << mode;
    EXPECT_EQ(file.GetStatus().GetCode(), Code::kCannotOpen);
  }
  EXPECT_EQ(servers->Requests(name, 0), 0);
  ASSERT_TRUE(file.OpenFile(servers->Url(RemoteServers::kHttp, name).c_str(), "rb"));
  EXPECT_EQ(file.WriteData("x", 1, 1), 0u);
  EXPECT_EQ(ReadRange(file, 0, 100), Pattern(100));
}

// Opening reads the first 64 KiB; reads inside it cost nothing more, and
// sequential reading fetches ever further ahead.
TEST(HttpFileTest, OpensWithOneRequestAndReadsSequentiallyAhead) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("ahead") + ".bin";
  const Bytes bytes = Pattern(4 * 1024 * 1024);
  servers->Serve(name, bytes);
  HttpFile file;
  file.SetOptions(Options(*servers));
  ASSERT_TRUE(file.OpenFile(servers->Url(RemoteServers::kHttp, name).c_str(), "rb"));
  EXPECT_EQ(ReadRange(file, 100, 60000), Bytes(bytes.begin() + 100, bytes.begin() + 60100));
  EXPECT_EQ(servers->Requests(name, 1), 1);
  Bytes read;
  Bytes piece(16384);
  file.Seek(0, 0);
  while (file.ReadData(piece.data(), 1, 16384) == 16384) {
    read.insert(read.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(read, bytes);
  // 64 blocks: the first, then 2, 4, 8, 16, 32 and the last 1.
  EXPECT_EQ(servers->Requests(name, 7), 7);
  EXPECT_EQ(file.GetRequests(), 7u);
}

// Builds a URL from a table's path: "%" is the served file's name, "#" a
// fault counter of this test's own, a leading "@" puts credentials in the URL.
std::string UrlOf(const RemoteServers& servers, RemoteServers::Server server, std::string path,
                  const std::string& name) {
  const bool credentials = !path.empty() && path[0] == '@';
  if (credentials) {
    path.erase(0, 1);
  }
  for (const auto& [mark, text] : {std::pair<char, std::string>{'%', name},
                                   std::pair<char, std::string>{'#', RemoteServers::Unique("f")}}) {
    const std::size_t at = path.find(mark);
    if (at != std::string::npos) {
      path.replace(at, 1, text);
    }
  }
  if (path.find("://") != std::string::npos) {
    return path;
  }
  std::string url = servers.Url(server, path);
  if (credentials) {
    url.insert(url.find("//") + 2, "user:secret-password@");
  }
  return url;
}

struct Refusal {
  std::string label;
  RemoteServers::Server server;
  std::string path;
  Code code;
  // Limits small enough that the slow servers below fail in seconds. Where
  // the least rate must end a case, a deadline too long to end it first;
  // where the deadline must, a window that a steady 2 KiB a second passes.
  std::uint32_t deadlineMs = 3000;
  std::uint32_t stallTimeoutMs = 1000;
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
  *out << refusal.label;
}

class HttpFileRefusalTest : public testing::TestWithParam<Refusal> {};

TEST_P(HttpFileRefusalTest, SaysWhyItCannotOpen) {
#if defined(_WIN32)
  // WinHTTP's receive timeout bounds each wait, not the head as a whole, and
  // Wine's applies none while the head is awaited (docs/windows.md).
  if (GetParam().path.find("/head") != std::string::npos) {
    GTEST_SKIP() << "WinHTTP bounds no wait for the head as a whole";
  }
#endif
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("refused") + ".bin";
  servers->Serve(name, Pattern(200000));
  HttpFile file;
  RXM::RemoteOptions options = Options(*servers);
  options.wholeObjectLimit = 100000;
  options.attempts = 2;
  options.stallTimeoutMs = GetParam().stallTimeoutMs;
  options.deadlineMs = GetParam().deadlineMs;
  if (GetParam().label == "untrusted certificate") {
    options.caFile.clear();
  }
  file.SetOptions(options);
  const std::string url = UrlOf(*servers, GetParam().server, GetParam().path, name);
  EXPECT_FALSE(file.OpenFile(url.c_str(), "rb"));
  EXPECT_FALSE(file.IsFileOpened());
  EXPECT_EQ(file.GetStatus().GetCode(), GetParam().code) << file.GetStatus().GetText();
  EXPECT_EQ(std::string(file.GetStatus().GetText()).find("secret-password"), std::string::npos)
      << file.GetStatus().GetText();
}

const Refusal kRefusals[] = {
    {"missing", RemoteServers::kHttp, "no-such-file.bin", Code::kRemoteNotFound},
    {"gone", RemoteServers::kHttp, "gone/%", Code::kRemoteNotFound},
    {"forbidden", RemoteServers::kHttp, "private/%", Code::kRemoteForbidden},
    {"no authorization", RemoteServers::kHttp, "secret/%", Code::kRemoteForbidden},
    {"credentials in the URL", RemoteServers::kTrusted, "@private/%", Code::kRemoteForbidden},
    {"redirect loop", RemoteServers::kHttp, "loop/%", Code::kRemoteFailed},
    {"untrusted certificate", RemoteServers::kHttps, "%", Code::kSecureFailed},
    {"range ignored, object too large", RemoteServers::kPlain, "%", Code::kRangeIgnored},
    {"503 every time", RemoteServers::kProxy, "f/#/503/%", Code::kRemoteFailed},
    {"reset every time", RemoteServers::kProxy, "f/#/reset/%", Code::kNetworkFailed},
    {"truncated every time", RemoteServers::kProxy, "f/#/truncate/%", Code::kNetworkFailed},
    {"Content-Range beyond the range asked for", RemoteServers::kProxy, "f/#/hugerange/%",
     Code::kRemoteFailed},
    {"Content-Length not that of its Content-Range", RemoteServers::kProxy, "f/#/shortlength/%",
     Code::kRemoteFailed},
    {"a trickling body", RemoteServers::kProxy, "f/#/trickle/%", Code::kRemoteTimedOut, 60000},
    {"steady but past the deadline", RemoteServers::kProxy, "f/#/slow/%", Code::kRemoteTimedOut,
     3000, 3000},
    {"no head at all", RemoteServers::kProxy, "f/#/headstall/%", Code::kRemoteTimedOut},
    {"a trickling head", RemoteServers::kProxy, "f/#/headtrickle/%", Code::kRemoteTimedOut, 60000},
    {"nothing listening", RemoteServers::kHttp, "http://127.0.0.1:1/x", Code::kNetworkFailed},
    {"not http", RemoteServers::kHttp, "ftp://127.0.0.1/x", Code::kCannotOpen},
};

INSTANTIATE_TEST_SUITE_P(Faults, HttpFileRefusalTest, testing::ValuesIn(kRefusals),
                         CaseName<Refusal>);

// Faults that pass: the proxy misbehaves on one request (or the first few),
// the reader retries, resuming a broken body where it broke.
class HttpFileRetryTest : public testing::TestWithParam<std::string> {};

TEST_P(HttpFileRetryTest, ReadsEveryByteDespiteTheFault) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("retried") + ".bin";
  const Bytes bytes = Pattern(3 * 1024 * 1024, 5);
  servers->Serve(name, bytes);
  HttpFile file;
  RXM::RemoteOptions options = Options(*servers);
  options.stallTimeoutMs = 1000;
  file.SetOptions(options);
  const std::string url = UrlOf(*servers, RemoteServers::kProxy, "f/#/" + GetParam() + "/%", name);
  ASSERT_TRUE(file.OpenFile(url.c_str(), "rb")) << file.GetStatus().GetText();
  EXPECT_EQ(ReadRange(file, 1, 2u << 20), Bytes(bytes.begin() + 1, bytes.begin() + 1 + (2 << 20)))
      << file.GetStatus().GetText();
  EXPECT_EQ(ReadRange(file, 3000000, 1000),
            Bytes(bytes.begin() + 3000000, bytes.begin() + 3001000));
  EXPECT_TRUE(file.GetStatus().IsOk()) << file.GetStatus().GetText();
}

// "-N": the first N requests; "@N": the Nth (2: the first read after opening).
INSTANTIATE_TEST_SUITE_P(Faults, HttpFileRetryTest,
                         testing::Values("503-3", "429-1", "reset@1", "reset@2", "truncate@2",
                                         "stall@2"),
                         [](const testing::TestParamInfo<std::string>& param) {
                           std::string label = param.param;
                           label[label.find_first_of("-@")] = '_';
                           return label;
                         });

// The object replaced between two reads: the second fails, with nothing of
// the new version, and so does every later one. Served straight, the guard
// headers refuse it; through a proxy that drops them, the ETag in the
// answer; with no ETag, the Last-Modified date guards.
class HttpFileReplacedTest : public testing::TestWithParam<std::string> {};

TEST_P(HttpFileReplacedTest, FailsWithRemoteChanged) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("replaced") + ".bin";
  const Bytes before = Pattern(1 << 20, 1);
  servers->Serve(name, before);
  HttpFile file;
  file.SetOptions(Options(*servers));
  const std::string path = GetParam().empty() ? "%" : "f/#/" + GetParam() + "/%";
  const RemoteServers::Server server =
      GetParam().empty() ? RemoteServers::kHttp : RemoteServers::kProxy;
  ASSERT_TRUE(file.OpenFile(UrlOf(*servers, server, path, name).c_str(), "rb"));
  servers->Serve(name, Pattern(1 << 20, 2), 100);  // same size, another date
  unsigned char buffer[4096];
  file.Seek(500000, 0);
  EXPECT_EQ(file.ReadData(buffer, 4096, 1), 0u);
  EXPECT_EQ(file.GetStatus().GetCode(), Code::kRemoteChanged) << file.GetStatus().GetText();
  file.Seek(10, 0);
  EXPECT_EQ(file.ReadData(buffer, 10, 1), 0u);  // even where the cache has the old bytes
  EXPECT_EQ(file.GetStatus().GetCode(), Code::kRemoteChanged);
}

INSTANTIATE_TEST_SUITE_P(Guards, HttpFileReplacedTest, testing::Values("", "unguard", "noetag"),
                         [](const testing::TestParamInfo<std::string>& param) {
                           return param.param.empty() ? std::string("straight") : param.param;
                         });

TEST(HttpFileTest, AnEmptyObjectOpensWithSizeZero) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("empty") + ".bin";
  servers->Serve(name, Bytes());
  HttpFile file;
  ASSERT_TRUE(file.OpenFile(servers->Url(RemoteServers::kHttp, name).c_str(), "rb"))
      << file.GetStatus().GetText();  // nginx answers 416 to the first range
  EXPECT_EQ(file.GetFileSize(), 0u);
  EXPECT_TRUE(file.EndOfFile());
}

TEST(HttpFileTest, TakesASmallObjectWholeFromAServerThatIgnoresRange) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("whole") + ".bin";
  const Bytes bytes = Pattern(300000);
  servers->Serve(name, bytes);
  HttpFile file;
  ASSERT_TRUE(file.OpenFile(servers->Url(RemoteServers::kPlain, name).c_str(), "rb"))
      << file.GetStatus().GetText();
  EXPECT_EQ(ReadRange(file, 70000, 200000), Bytes(bytes.begin() + 70000, bytes.begin() + 270000));
  EXPECT_EQ(file.GetRequests(), 1u);
}

TEST(HttpFileTest, FollowsARedirectOnceAndSendsLaterRangesToItsTarget) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("moved") + ".bin";
  const Bytes bytes = Pattern(1 << 20);
  servers->Serve(name, bytes);
  HttpFile file;
  ASSERT_TRUE(file.OpenFile(servers->Url(RemoteServers::kHttp, "moved/" + name).c_str(), "rb"));
  EXPECT_EQ(ReadRange(file, 900000, 100), Bytes(bytes.begin() + 900000, bytes.begin() + 900100));
  EXPECT_EQ(servers->Requests("moved/" + name, 1), 1);
  EXPECT_EQ(servers->Requests(name, 2), 2);
}

// Only the opening may be redirected: a later range that is redirected
// elsewhere fails, and no byte from there is taken.
TEST(HttpFileTest, RefusesARedirectOnALaterRange) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("later") + ".bin";
  servers->Serve(name, Pattern(1 << 20));
  HttpFile file;
  file.SetOptions(Options(*servers));
  ASSERT_TRUE(
      file.OpenFile(UrlOf(*servers, RemoteServers::kProxy, "f/#/redirect@2/%", name).c_str(), "rb"))
      << file.GetStatus().GetText();
  unsigned char buffer[100];
  file.Seek(900000, 0);
  EXPECT_EQ(file.ReadData(buffer, 100, 1), 0u);
  EXPECT_EQ(file.GetStatus().GetCode(), Code::kRemoteFailed) << file.GetStatus().GetText();
  EXPECT_EQ(servers->Requests(name, 1), 1);  // the opening only: nothing read from the target
}

// A later range whose answer is not the range asked for fails at its head,
// with no retry (the opening and that one request): another total size (the
// object changed), or a Content-Length that is not the Content-Range's.
class HttpFileLaterAnswerTest : public testing::TestWithParam<std::pair<std::string, Code>> {};

TEST_P(HttpFileLaterAnswerTest, RefusesAnAnswerThatIsNotTheRangeAskedFor) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("unasked") + ".bin";
  servers->Serve(name, Pattern(1 << 20));
  HttpFile file;
  file.SetOptions(Options(*servers));
  const std::string path = "f/#/" + GetParam().first + "@2/%";
  ASSERT_TRUE(file.OpenFile(UrlOf(*servers, RemoteServers::kProxy, path, name).c_str(), "rb"))
      << file.GetStatus().GetText();
  unsigned char buffer[100];
  file.Seek(900000, 0);
  EXPECT_EQ(file.ReadData(buffer, 100, 1), 0u);
  EXPECT_EQ(file.GetStatus().GetCode(), GetParam().second) << file.GetStatus().GetText();
  EXPECT_EQ(file.GetRequests(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Faults, HttpFileLaterAnswerTest,
                         testing::Values(std::make_pair("hugerange", Code::kRemoteChanged),
                                         std::make_pair("shortlength", Code::kRemoteFailed)),
                         [](const testing::TestParamInfo<std::pair<std::string, Code>>& param) {
                           return param.param.first;
                         });

// Credentials from the URL (a password with a raw "/" and "#": all up to the
// last "@" is user information) or from the options reach the server as
// Basic authorization, and no message shows them.
class HttpFileCredentialsTest : public testing::TestWithParam<std::string> {};

TEST_P(HttpFileCredentialsTest, SendsBasicAuthorizationAndNeverShowsIt) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("basic") + ".bin";
  const Bytes bytes = Pattern(300000);
  servers->Serve(name, bytes);
  HttpFile file;
  RXM::RemoteOptions options = Options(*servers);
  std::string url = servers->Url(RemoteServers::kHttp, "basic/" + name);
  if (GetParam() == "url") {
    url.insert(url.find("//") + 2, "alice:s3/cr#et@");
  } else {
    options.credentials = "alice:s3/cr#et";
  }
  file.SetOptions(options);
  ASSERT_TRUE(file.OpenFile(url.c_str(), "rb")) << file.GetStatus().GetText();
  EXPECT_EQ(ReadRange(file, 299990, 10), Bytes(bytes.end() - 10, bytes.end()));
  HttpFile refused;
  options.credentials = "alice:wrong";
  refused.SetOptions(options);
  EXPECT_FALSE(refused.OpenFile((url + "-missing").c_str(), "rb"));
  EXPECT_EQ(std::string(refused.GetStatus().GetText()).find("s3/cr"), std::string::npos)
      << refused.GetStatus().GetText();
}

INSTANTIATE_TEST_SUITE_P(From, HttpFileCredentialsTest, testing::Values("url", "options"));

TEST(HttpFileTest, SendsTheAuthorizationHeader) {
  RXMFILES_NEED_SERVERS(servers);
  const std::string name = RemoteServers::Unique("secret") + ".bin";
  const Bytes bytes = Pattern(100000);
  servers->Serve(name, bytes);
  HttpFile file;
  RXM::RemoteOptions options = Options(*servers);
  options.authorization = "Bearer s3cret";
  file.SetOptions(options);
  ASSERT_TRUE(file.OpenFile(servers->Url(RemoteServers::kTrusted, "secret/" + name).c_str(), "rb"))
      << file.GetStatus().GetText();
  EXPECT_EQ(ReadRange(file, 99990, 10), Bytes(bytes.end() - 10, bytes.end()));
}

}  // namespace
