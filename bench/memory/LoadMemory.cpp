// The peak memory of opening an archive of 10^6 entries, against its
// records' bytes (after the open, and once lookups have built its name
// index), then the time of the open beside one fread of those bytes into
// fresh memory (the median of 5 rounds of each, wall clock, the release of
// either left out). Plain C++ with no benchmark library, so that every build
// has it: the 32-bit Windows build runs it under wine32, the platform where
// an element is smallest.
//   rxmfiles_load_memory [FOLDER]   (the archive is written there and removed; /tmp)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
// windows.h first: psapi.h needs its types.
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <RXMFiles.h>

#include "LargeArchive.h"

namespace {

// The largest the process has been, in bytes.
double PeakBytes() {
#if defined(_WIN32)
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<double>(counters.PeakWorkingSetSize);
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) * 1024.0;
#endif
}

using Clock = std::chrono::steady_clock;

// The median time of 5 runs of `work`, in ms; what each run returns is
// released after its time is taken.
template <class Work>
double MedianMs(Work work) {
  std::vector<double> times;
  for (int round = 0; round < 5; ++round) {
    const Clock::time_point start = Clock::now();
    const auto held = work();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// Open, and one fread of the records into fresh memory; both timed.
bool PrintTimes(const std::string& path) {
  bool opened = true;
  const double open = MedianMs([&] {
    auto archive = std::make_unique<MultiFile>();
    opened = opened && archive->OpenMultiFile(Pointer<KYFile>(), path.c_str());
    return archive;
  });
  const double read = MedianMs([&] {
    std::unique_ptr<void, void (*)(void*)> records(std::malloc(bench::kLargeArchiveRecordBytes),
                                                   std::free);
    opened = opened && records != nullptr && bench::ReadLargeArchiveRecords(path, records.get());
    return records;
  });
  std::printf("open %.1f ms, one fread of the records into fresh memory %.1f ms (%.2fx)\n", open,
              read, open / read);
  return opened;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = std::string(argc > 1 ? argv[1] : "/tmp") + "/rxmfiles-memory-1m.kymf";
  if (!bench::WriteLargeArchive(path)) {
    std::fprintf(stderr, "rxmfiles_load_memory: cannot write %s\n", path.c_str());
    return 1;
  }
  const double before = PeakBytes();
  double opened = 0;
  {
    MultiFile archive;
    if (!archive.OpenMultiFile(Pointer<KYFile>(), path.c_str())) {
      std::fprintf(stderr, "rxmfiles_load_memory: %s\n", archive.GetStatus().GetText());
      return 1;
    }
    opened = PeakBytes() - before;
    bench::LookUpLargeArchiveEntries(archive);
  }
  const double indexed = PeakBytes() - before;
  const auto records = static_cast<double>(bench::kLargeArchiveRecordBytes);
  std::printf(
      "%d-bit build: records %.1f MiB, peak growth while opening %.1f MiB (%.3fx), "
      "with the name index %.1f MiB (%.3fx)\n",
      static_cast<int>(8 * sizeof(void*)), records / 1048576.0, opened / 1048576.0,
      opened / records, indexed / 1048576.0, indexed / records);
  const bool timed = PrintTimes(path);
  std::remove(path.c_str());
  if (!timed) {
    std::fprintf(stderr, "rxmfiles_load_memory: cannot read %s\n", path.c_str());
    return 1;
  }
  return 0;
}
