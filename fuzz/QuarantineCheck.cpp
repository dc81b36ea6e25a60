// Whether the fuzz targets' sanitizer defaults (SanitizerOptions.cpp) still
// catch a use after free when several runs' worth of memory has been freed
// since: a block is freed, 512 KiB more are allocated and freed in blocks of
// the sizes a run frees, and then the first block is read. AddressSanitizer
// must report it; scripts/fuzz fails when this program ends any other way.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Where each block is left, so that no allocation can be optimised away.
char* volatile sink = nullptr;

}  // namespace

int main() {
  constexpr std::size_t kFreedSince = 512 * 1024;
  sink = static_cast<char*>(std::malloc(96));
  char* const victim = sink;
  std::memset(victim, 1, 96);
  std::free(victim);
  std::size_t freed = 0;
  for (std::size_t size = 24; freed < kFreedSince; size = size * 7 % 4093 + 16) {
    sink = static_cast<char*>(std::malloc(size));
    std::memset(sink, 2, size);
    std::free(sink);
    freed += size;
  }
  const volatile char* const read = victim;
  std::printf("%d\n", read[0]);  // NOLINT(clang-analyzer-unix.Malloc): the point
  std::puts("the freed block was handed out again: the quarantine is too small");
  return 0;
}
