// The peak memory of opening an archive of 10^6 entries, against its records'
// bytes. Plain C++ with no benchmark library, so that every build has it: the
// 32-bit Windows build runs it under wine32, the platform where an element is
// smallest.
//   rxmfiles_load_memory [FOLDER]   (the archive is written there and removed; /tmp)
#include <cstdint>
#include <cstdio>
#include <string>

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

}  // namespace

int main(int argc, char** argv) {
  const std::string path = std::string(argc > 1 ? argv[1] : "/tmp") + "/rxmfiles-memory-1m.kymf";
  if (!bench::WriteLargeArchive(path)) {
    std::fprintf(stderr, "rxmfiles_load_memory: cannot write %s\n", path.c_str());
    return 1;
  }
  const double before = PeakBytes();
  {
    MultiFile archive;
    if (!archive.OpenMultiFile(Pointer<KYFile>(), path.c_str())) {
      std::fprintf(stderr, "rxmfiles_load_memory: %s\n", archive.GetStatus().GetText());
      return 1;
    }
  }
  const double grown = PeakBytes() - before;
  const double records = 80.0 * bench::kLargeArchiveEntries;
  std::printf("%d-bit build: records %.1f MiB, peak growth while opening %.1f MiB (%.3fx)\n",
              static_cast<int>(8 * sizeof(void*)), records / 1048576.0, grown / 1048576.0,
              grown / records);
  std::remove(path.c_str());
  return 0;
}
