// Reading archives over HTTP through a link with added latency (bench/remote
// starts nginx and a proxy that adds the round-trip time): requests made and
// time taken, printed as the rows of bench/remote.md.
//
//   rxmfiles_bench_remote BASE_URL WWW_DIR
//
// BASE_URL reaches WWW_DIR through the slow link; the archives are written
// into WWW_DIR when missing.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <RXMFiles.h>

#include "multifile/ArchiveFormat.h"
#include "remote/RangeClient.h"
#include "remote/Transport.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string EntryName(std::int32_t i) {
  return "dir" + std::to_string(i % 100) + "/entry" + std::to_string(i);
}

// `count` entries; entry i holds sizeOf(i) bytes of a pattern of its own.
template <class Size>
void WriteArchive(const std::string& path, std::int32_t count, Size sizeOf) {
  if (std::filesystem::exists(path)) {
    return;
  }
  std::FILE* file = std::fopen((path + ".new").c_str(), "wb");
  std::uint8_t bytes[80];
  std::fwrite("KYMF", 1, 4, file);
  RXM::multifile::EncodeInt32(count, bytes);
  std::fwrite(bytes, 1, 4, file);
  std::int64_t at = RXM::multifile::DirectoryEnd(count);
  for (std::int32_t i = 0; i < count; ++i) {
    DirectoryRecord record = RXM::multifile::NewRecord(EntryName(i).c_str());
    record.dataStart = static_cast<std::int32_t>(at);
    at += sizeOf(i);
    record.dataEnd = static_cast<std::int32_t>(at - 1);
    RXM::multifile::EncodeRecord(record, bytes);
    std::fwrite(bytes, 1, sizeof bytes, file);
  }
  std::vector<char> data;
  for (std::int32_t i = 0; i < count; ++i) {
    data.assign(static_cast<std::size_t>(sizeOf(i)), static_cast<char>('a' + i % 26));
    std::fwrite(data.data(), 1, data.size(), file);
  }
  std::fclose(file);
  std::filesystem::rename(path + ".new", path);
}

struct Remote {
  HttpFile* file = nullptr;  // owned by the archive
  MultiFile archive;
};

bool Open(Remote& remote, const std::string& url) {
  remote.file = new HttpFile();
  return remote.archive.OpenMultiFile(Pointer<KYFile>(remote.file), url.c_str());
}

// Reads the entry whole through its own stream, `piece` bytes a call.
std::uint64_t ReadEntry(const MultiFile& archive, const std::string& name, unsigned piece) {
  const Pointer<KYFile> stream = archive.OpenEntry(name.c_str());
  std::vector<char> buffer(piece);
  std::uint64_t total = 0;
  unsigned got = 0;
  while (!stream.IsNull() && (got = stream->ReadData(buffer.data(), 1, piece)) > 0) {
    total += got;
  }
  return total;
}

template <class Work>
double InThreads(int threads, int items, Work work) {
  std::atomic<int> next{0};
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> running;
  for (int t = 0; t < threads; ++t) {
    running.emplace_back([&] {
      for (int i = next++; i < items; i = next++) {
        work(i);
      }
    });
  }
  for (std::thread& thread : running) {
    thread.join();
  }
  return Seconds(start);
}

void OpenAndReadOne(const std::string& base) {
  const Clock::time_point start = Clock::now();
  Remote remote;
  if (!Open(remote, base + "/many.kymf")) {
    std::printf("open failed: %s\n", remote.archive.GetStatus().GetText());
    return;
  }
  const double opened = Seconds(start);
  const std::uint64_t read = ReadEntry(remote.archive, EntryName(77777), 4096);
  std::printf(
      "| open 10^5 entries, read one 4 KiB entry | %llu requests | %.0f ms (open %.0f ms) "
      "| %llu bytes read |\n",
      static_cast<unsigned long long>(remote.file->GetRequests()), Seconds(start) * 1000,
      opened * 1000, static_cast<unsigned long long>(read));
}

void ReadEveryEntry(const std::string& base) {
  Remote remote;
  if (!Open(remote, base + "/large.kymf")) {
    return;
  }
  std::atomic<std::uint64_t> bytes{0};
  const double took =
      InThreads(8, 256, [&](int i) { bytes += ReadEntry(remote.archive, EntryName(i), 1 << 20); });
  std::printf("| every 1 MiB entry of 256 MiB, 8 threads | %llu requests | %.2f s | %.1f MiB/s |\n",
              static_cast<unsigned long long>(remote.file->GetRequests()), took,
              static_cast<double>(bytes) / (1 << 20) / took);
}

std::vector<std::int32_t> RandomEntries() {
  std::mt19937 random(7);
  std::uniform_int_distribution<std::int32_t> pick(0, 19999);
  std::vector<std::int32_t> entries(2000);
  for (std::int32_t& entry : entries) {
    entry = pick(random);
  }
  return entries;
}

// Entries read in 1 KiB pieces, as a parser might: the stream's first read
// fetches its entry whole.
void RandomReads(const std::string& base, int threads, double& single) {
  Remote remote;
  if (!Open(remote, base + "/random.kymf")) {
    return;
  }
  const std::uint64_t before = remote.file->GetRequests();
  const std::vector<std::int32_t> entries = RandomEntries();
  const double took = InThreads(threads, 2000, [&](int i) {
    ReadEntry(remote.archive, EntryName(entries[static_cast<std::size_t>(i)]), 1024);
  });
  single = threads == 1 ? took : single;
  std::printf(
      "| 2000 random 4 KiB entries, %d thread%s | %llu requests | %.2f s | %.1fx one thread |\n",
      threads, threads == 1 ? "" : "s",
      static_cast<unsigned long long>(remote.file->GetRequests() - before), took, single / took);
}

// The same reads through a client with no cache: one request per 1 KiB read.
void CachelessReads(const std::string& base, int threads) {
  Remote remote;
  if (!Open(remote, base + "/random.kymf")) {
    return;
  }
  RXM::RemoteOptions options;
  RXM::RangeClient client(RXM::http::MakeTransport(options), base + "/random.kymf", options);
  RXM::RangeClient::Opening opening;
  client.Open(opening);
  const std::vector<std::int32_t> entries = RandomEntries();
  const auto& directory = remote.archive.GetDirectory();
  const double took = InThreads(threads, 2000, [&](int i) {
    const MultiFileElement& element = *directory.Peek(entries[static_cast<std::size_t>(i)]);
    std::uint8_t buffer[1024];
    for (std::int64_t at = element.dataStart; at <= element.dataEnd; at += 1024) {
      client.Read(static_cast<std::uint64_t>(at), sizeof buffer, buffer);
    }
  });
  std::printf(
      "| the same, one request per 1 KiB read (no cache), %d thread%s | %llu requests | "
      "%.2f s | |\n",
      threads, threads == 1 ? "" : "s", static_cast<unsigned long long>(client.GetRequests() - 1),
      took);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: rxmfiles_bench_remote BASE_URL WWW_DIR\n");
    return 2;
  }
  const std::string base = argv[1];
  const std::string www = argv[2];
  WriteArchive(www + "/many.kymf", 100000, [](std::int32_t i) { return i == 77777 ? 4096 : 64; });
  WriteArchive(www + "/large.kymf", 256, [](std::int32_t) { return 1 << 20; });
  WriteArchive(www + "/random.kymf", 20000, [](std::int32_t) { return 4096; });
  std::printf("| work | requests | time | |\n|---|---:|---:|---:|\n");
  OpenAndReadOne(base);
  ReadEveryEntry(base);
  double single = 0;
  for (int threads : {1, 2, 8, 32}) {
    RandomReads(base, threads, single);
  }
  for (int threads : {8, 32}) {
    CachelessReads(base, threads);
  }
  return 0;
}
