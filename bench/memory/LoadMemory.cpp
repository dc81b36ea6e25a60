// The peak memory of opening an archive of 10^6 entries, against its records'
// bytes. Plain C++ with no benchmark library, so that every build has it: the
// 32-bit Windows build runs it under wine32, the platform where an element is
// smallest.
//   rxmfiles_load_memory [FOLDER]   (the archive is written there once; /tmp)
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

namespace {

constexpr std::int32_t kEntries = 1000000;

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

// Entries of one byte each, named "dir<k>/entry<i>.dat", written a record at a
// time so that writing raises the peak by no more than the stream's buffer.
bool Write(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  std::uint8_t bytes[80];
  std::fwrite("KYMF", 1, 4, file);
  RXM::kymf::EncodeInt32(kEntries, bytes);
  std::fwrite(bytes, 1, 4, file);
  const std::int64_t dataStart = RXM::kymf::DirectoryEnd(kEntries);
  for (std::int32_t i = 0; i < kEntries; ++i) {
    const std::string entry =
        "dir" + std::to_string(i % 1000) + "/entry" + std::to_string(i) + ".dat";
    DirectoryRecord record = RXM::kymf::NewRecord(entry.c_str());
    record.dataStart = static_cast<std::int32_t>(dataStart + i);
    record.dataEnd = record.dataStart;
    RXM::kymf::EncodeRecord(record, bytes);
    std::fwrite(bytes, 1, 80, file);
  }
  for (std::int32_t i = 0; i < kEntries; ++i) {
    std::fputc('x', file);
  }
  return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = std::string(argc > 1 ? argv[1] : "/tmp") + "/rxmfiles-memory-1m.kymf";
  if (!Write(path)) {
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
  const double records = 80.0 * kEntries;
  std::printf("%d-bit build: records %.1f MiB, peak growth while opening %.1f MiB (%.3fx)\n",
              static_cast<int>(8 * sizeof(void*)), records / 1048576.0, grown / 1048576.0,
              grown / records);
  std::remove(path.c_str());
  return 0;
}
