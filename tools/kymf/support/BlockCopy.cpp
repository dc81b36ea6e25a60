#include "support/BlockCopy.h"

#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#elif defined(__linux__)
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace kymf {

CopyResult CopyBlocks(const ReadBlock& read, const WriteBlock& write) {
  std::vector<char> buffer(std::size_t{1} << 16);
  CopyResult result;
  for (;;) {
    const std::size_t got = read(buffer.data(), buffer.size());
    if (got == 0) {
      return result;
    }
    if (!write(buffer.data(), got)) {
      result.written = false;
      return result;
    }
    result.copied += got;
  }
}

CopyResult CopyStream(KYFile& from, const WriteBlock& write) {
  return CopyBlocks(
      [&from](char* buffer, std::size_t size) {
        return static_cast<std::size_t>(from.ReadData(buffer, 1, static_cast<unsigned int>(size)));
      },
      write);
}

WriteBlock WriteTo(std::FILE* stream) {
  return [stream](const char* data, std::size_t size) {
    return std::fwrite(data, 1, size, stream) == size;
  };
}

ReadBlock ReadFrom(RXM::sys::System& system, std::FILE* stream) {
  return [&system, stream](char* buffer, std::size_t size) {
    return system.read(buffer, 1, size, stream);
  };
}

void WidenPipe(std::FILE* stream, std::size_t bytes) {
#if defined(__linux__) && defined(F_SETPIPE_SZ)
  struct stat info {};
  const int descriptor = ::fileno(stream);
  if (::fstat(descriptor, &info) == 0 && S_ISFIFO(info.st_mode)) {
    ::fcntl(descriptor, F_SETPIPE_SZ, static_cast<int>(bytes));  // a refusal changes nothing
  }
#else
  (void)stream;
  (void)bytes;
#endif
}

void BinaryMode(std::FILE* stream) {
#if defined(_WIN32)
  _setmode(_fileno(stream), _O_BINARY);
#else
  (void)stream;
#endif
}

}  // namespace kymf
