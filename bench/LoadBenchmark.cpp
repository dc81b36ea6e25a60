// Opening an archive of 10^6 entries against one fread of its records' bytes,
// in one run, with the memory each needs at its peak.
//
// The archive is written once into RXMFILES_BENCH_DATA (default /tmp) and
// kept: it is read from the page cache by both, so the comparison is of the
// work done per record, not of the disk.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <RXMFiles.h>

#include "LargeArchive.h"

namespace {

std::string ArchivePath() {
  const char* folder = std::getenv("RXMFILES_BENCH_DATA");
  return std::string(folder != nullptr ? folder : "/tmp") + "/rxmfiles-load-1m.kymf";
}

const std::string& Archive() {
  static const std::string path = [] {
    const std::string name = ArchivePath();
    bench::WriteLargeArchive(name);
    return name;
  }();
  return path;
}

// What a case leaves behind (the records read, or the open archive), released
// outside the timing: each case is timed up to the moment its bytes or its
// directory can be used.
using Held = std::shared_ptr<void>;

// The growth of the peak resident memory while `work` runs, in a child
// process of its own; in MiB. Measured before any benchmark runs: a child of
// a process whose C heap already holds freed memory would reuse it unseen.
template <class Work>
double PeakGrowth(Work work) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) {
    return -1;
  }
  const pid_t child = fork();
  if (child == 0) {
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const Held held = work();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const double grown = static_cast<double>(after.ru_maxrss - before.ru_maxrss) / 1024.0;
    (void)!write(pipe_ends[1], &grown, sizeof grown);
    _exit(0);
  }
  double grown = -1;
  (void)!read(pipe_ends[0], &grown, sizeof grown);
  waitpid(child, nullptr, 0);
  close(pipe_ends[0]);
  close(pipe_ends[1]);
  return grown;
}

void ReadRecordsInto(void* records) {
  benchmark::DoNotOptimize(bench::ReadLargeArchiveRecords(Archive(), records));
}

// Into fresh memory (neither zeroed nor touched before the read), as the
// directory's own memory is fresh at every open.
Held ReadRecords() {
  Held records(std::malloc(bench::kLargeArchiveRecordBytes), std::free);
  ReadRecordsInto(records.get());
  return records;
}

// Into fresh memory asked for in huge pages, as the library asks for its
// large blocks: what the page faults cost either way.
Held ReadRecordsIntoHugePages() {
  const std::size_t size = bench::kLargeArchiveRecordBytes;
  Held records(std::malloc(size), std::free);
  const auto start = reinterpret_cast<std::uintptr_t>(records.get());
  const std::uintptr_t huge = std::uintptr_t{2} << 20;
  const std::uintptr_t first = (start + huge - 1) & ~(huge - 1);
  madvise(reinterpret_cast<void*>(first), (start + size - first) & ~(huge - 1), MADV_HUGEPAGE);
  ReadRecordsInto(records.get());
  return records;
}

Held OpenArchive() {
  auto archive = std::make_shared<MultiFile>();
  benchmark::DoNotOptimize(archive->OpenMultiFile(Pointer<KYFile>(), Archive().c_str()));
  return archive;
}

// The open, then lookups until the name index is built: what a program that
// opens many entries pays before its first lookup that the index answers.
Held OpenArchiveAndIndexIt() {
  auto archive = std::make_shared<MultiFile>();
  benchmark::DoNotOptimize(archive->OpenMultiFile(Pointer<KYFile>(), Archive().c_str()) &&
                           bench::LookUpLargeArchiveEntries(*archive));
  return archive;
}

double gFreadPeak = -1;
double gHugeFreadPeak = -1;
double gOpenPeak = -1;
double gOpenIndexedPeak = -1;

// `work` timed, each time into fresh memory, with its peak beside it.
void TimeFresh(benchmark::State& state, Held (*work)(), double peak) {
  Archive();
  for (auto _ : state) {
    Held held = work();
    state.PauseTiming();
    held.reset();
    state.ResumeTiming();
  }
  state.counters["peak_MiB"] = peak;
  state.counters["peak_per_record_bytes"] = peak * 1024 * 1024 / bench::kLargeArchiveRecordBytes;
}

void BM_FreadOfTheRecords(benchmark::State& state) {
  TimeFresh(state, ReadRecords, gFreadPeak);
}
BENCHMARK(BM_FreadOfTheRecords)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_FreadOfTheRecordsIntoHugePages(benchmark::State& state) {
  TimeFresh(state, ReadRecordsIntoHugePages, gHugeFreadPeak);
}
BENCHMARK(BM_FreadOfTheRecordsIntoHugePages)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Into one buffer reused by every iteration: the copy alone, no page faults.
void BM_FreadOfTheRecordsIntoAWarmBuffer(benchmark::State& state) {
  Archive();
  std::vector<std::uint8_t> records(bench::kLargeArchiveRecordBytes);
  for (auto _ : state) {
    ReadRecordsInto(records.data());
  }
}
BENCHMARK(BM_FreadOfTheRecordsIntoAWarmBuffer)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_OpenArchiveOf1MEntries(benchmark::State& state) {
  TimeFresh(state, OpenArchive, gOpenPeak);
}
BENCHMARK(BM_OpenArchiveOf1MEntries)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_OpenArchiveOf1MEntriesAndIndexIt(benchmark::State& state) {
  TimeFresh(state, OpenArchiveAndIndexIt, gOpenIndexedPeak);
}
BENCHMARK(BM_OpenArchiveOf1MEntriesAndIndexIt)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  Archive();
  gFreadPeak = PeakGrowth(ReadRecords);
  gHugeFreadPeak = PeakGrowth(ReadRecordsIntoHugePages);
  gOpenPeak = PeakGrowth(OpenArchive);
  gOpenIndexedPeak = PeakGrowth(OpenArchiveAndIndexIt);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
