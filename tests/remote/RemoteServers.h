// The local servers that tests/remote/servers.py started for the remote
// tests (a CTest fixture): where they listen, their files, their request log.
#ifndef RXMFILES_TESTS_REMOTE_REMOTESERVERS_H
#define RXMFILES_TESTS_REMOTE_REMOTESERVERS_H

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "TestSupport.h"

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace testing_support {

class RemoteServers {
 public:
  enum Server { kHttp, kHttps, kProxy, kPlain };
  // TLS with the servers' own CA file: WinHTTP trusts the Windows store only
  // (see docs/windows.md), so the Windows builds read these cases over HTTP.
#if defined(_WIN32)
  static constexpr Server kTrusted = kHttp;
#else
  static constexpr Server kTrusted = kHttps;
#endif

  static void SetEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
  }

  // The servers of RXMFILES_TEST_SERVERS (servers.json); the test is skipped
  // when none were started.
  static const RemoteServers* Get() {
    static const RemoteServers servers;
    return servers.json.empty() ? nullptr : &servers;
  }

  // "http://127.0.0.1:PORT/path" ("https" for kHttps).
  std::string Url(Server server, const std::string& path) const {
    static const char* const kNames[] = {"http", "https", "proxy", "plain"};
    return std::string(server == kHttps ? "https" : "http") +
           "://127.0.0.1:" + Field(kNames[server]) + "/" + path;
  }
  // A name no other test uses, for files and fault counters. CTest runs
  // each case in a process of its own, two at once, and two processes
  // started in the same millisecond share Google Test's seed and may read
  // the same coarse clock: the process's number tells them apart.
  static std::string Unique(const std::string& stem) {
    static std::atomic<int> next{0};
#if defined(_WIN32)
    const int process = _getpid();
#else
    const int process = static_cast<int>(::getpid());
#endif
    return stem + "-" + std::to_string(process) + "-" + std::to_string(next++) + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  }
  // Puts `bytes` on the servers as `name` (replacing what was there in one
  // step, with a modification time of its own).
  void Serve(const std::string& name, const Bytes& bytes, int ageSeconds = 0) const {
    const std::string path = Field("www") + "/" + name;
    WriteAll(path + ".new", bytes);
    std::filesystem::last_write_time(path + ".new", std::filesystem::file_time_type::clock::now() -
                                                        std::chrono::hours(1) +
                                                        std::chrono::seconds(ageSeconds));
    std::filesystem::rename(path + ".new", path);
  }
  // Requests nginx logged for `name`, once it has logged `expected` of them
  // (it writes a line as it finishes a request, which may be just after the
  // client has its answer) or 3 s have passed; a moment later still, so that
  // a request too many shows.
  int Requests(const std::string& name, int expected) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (Logged(name) < expected && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return Logged(name);
  }
  std::string CaFile() const {
    return Field("ca");
  }
  std::string Www() const {
    return Field("www");
  }

 private:
  int Logged(const std::string& name) const {
    std::ifstream log(Field("log"));
    std::string line;
    int count = 0;
    while (std::getline(log, line)) {
      count += line.compare(0, name.size() + 2, "/" + name + " ") == 0 ? 1 : 0;
    }
    return count;
  }

 private:
  RemoteServers() {
    // Every request goes to 127.0.0.1 straight, whatever proxy the
    // environment names.
    SetEnvironment("no_proxy", "*");
    const char* file = std::getenv("RXMFILES_TEST_SERVERS");
    if (file != nullptr) {
      std::stringstream text;
      text << std::ifstream(file).rdbuf();
      json = text.str();
    }
  }
  // The value of "name" in the flat JSON object, without quotes.
  std::string Field(const std::string& name) const {
    std::size_t at = json.find("\"" + name + "\":");
    at = json.find_first_not_of(" \"", at + name.size() + 3);
    return json.substr(at, json.find_first_of(",}\"", at) - at);
  }

  std::string json;
};

#define RXMFILES_NEED_SERVERS(servers)                                      \
  const testing_support::RemoteServers* servers = RemoteServers::Get();     \
  if (servers == nullptr) {                                                 \
    GTEST_SKIP() << "RXMFILES_TEST_SERVERS is not set (run through ctest)"; \
  }

}  // namespace testing_support

#endif  // RXMFILES_TESTS_REMOTE_REMOTESERVERS_H
