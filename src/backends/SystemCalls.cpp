#include "backends/SystemCalls.h"

#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <io.h>
#include <share.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace RXM {
namespace sys {
namespace {

std::FILE* Open(const char* path, const char* mode) {
#if defined(_WIN32)
  return _fsopen(path, mode, _SH_DENYNO);
#else
  return std::fopen(path, mode);
#endif
}

int Sync(std::FILE* stream) {
#if defined(_WIN32)
  return _commit(_fileno(stream));
#else
  return fsync(fileno(stream));
#endif
}

int Replace(const char* from, const char* to) {
#if defined(_WIN32)
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
#else
  return std::rename(from, to);
#endif
}

// On Windows MOVEFILE_WRITE_THROUGH has already made the move durable.
int SyncDirectoryOf(const char* path) {
#if defined(_WIN32)
  (void)path;
  return 0;
#else
  std::string directory(path);
  const std::size_t slash = directory.find_last_of('/');
  if (slash == std::string::npos) {
    directory = ".";
  } else if (slash == 0) {
    directory = "/";
  } else {
    directory.resize(slash);
  }
  const int descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
  if (descriptor < 0) {
    return -1;
  }
  const int result = fsync(descriptor);
  ::close(descriptor);
  return result;
#endif
}

int Remove(const char* path) {
  return std::remove(path);
}

void* Allocate(std::size_t size) {
  return std::malloc(size);
}

const SystemCalls kReal = {Open,    std::fwrite,     std::fflush, Sync,    std::fclose,
                           Replace, SyncDirectoryOf, Remove,      Allocate};

}  // namespace

SystemCalls& Calls() {
  static SystemCalls calls = kReal;
  return calls;
}

const SystemCalls& RealCalls() {
  return kReal;
}

}  // namespace sys
}  // namespace RXM
