#include "backends/System.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "backends/OperatingSystem.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#include <sys/mman.h>
#endif

namespace RXM {
namespace sys {

// Never destroyed: file objects that outlive main (static ones) may still
// close their files through it.
System& System::Default() {
  static System* const real = new OperatingSystem();
  return *real;
}

System::~System() = default;

int OpenError(System& system, const char* path, int error) {
  FileInfo info;
  if (system.inspect(path, &info) != 0) {
    return info.error != 0 ? info.error : error;
  }
  if (info.kind == FileKind::kMissing) {
    return ENOENT;
  }
  return info.kind == FileKind::kFolder ? EISDIR : error;
}

// Joined lexically (std::filesystem's operator/ asks nothing of the disk),
// so that the current folder is the system's, not the process's.
int MakeAbsolute(System& system, const std::string& path, std::string* absolute) {
  if (std::filesystem::path(path).is_absolute()) {
    *absolute = path;
    return 0;
  }
  std::string current;
  const int error = system.currentFolder(&current);
  if (error != 0) {
    return error;
  }
  *absolute = path.empty() ? current : (std::filesystem::path(current) / path).string();
  return 0;
}

bool StoppedShort(std::FILE* stream) {
  return std::ferror(stream) != 0 || std::feof(stream) == 0;
}

#if defined(__linux__) && defined(MADV_HUGEPAGE)
// Only the whole huge pages inside the block: its ends may share their pages
// with other blocks of the heap.
void AdviseLargeBlock(void* memory, std::size_t size) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto start = reinterpret_cast<std::uintptr_t>(memory);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (start + size) & ~(kHugePage - 1);
  if (end > first) {
    madvise(static_cast<char*>(memory) + (first - start), end - first, MADV_HUGEPAGE);
  }
}
#else
void AdviseLargeBlock(void* /*memory*/, std::size_t /*size*/) {}
#endif

unsigned ProcessorLanes() {
  constexpr unsigned kMostLanes = 64;
  static const unsigned lanes = [] {
    const unsigned processors = std::thread::hardware_concurrency();
    return processors == 0 ? 1u : (processors < kMostLanes ? processors : kMostLanes);
  }();
  return lanes;
}

unsigned ProcessorLane() {
#if defined(_WIN32)
  const unsigned processor = static_cast<unsigned>(GetCurrentProcessorNumber());
#elif defined(__linux__)
  const int number = sched_getcpu();  // the vDSO or rseq: no system call
  const unsigned processor = number < 0 ? 0 : static_cast<unsigned>(number);
#else
  const unsigned processor = 0;
#endif
  return processor % ProcessorLanes();
}

}  // namespace sys
}  // namespace RXM
