// What the fuzz targets share: a KYFile over the input bytes, a folder in
// memory-backed storage for the targets that must go through the disk, with
// the library's debug output silenced.
#ifndef RXMFILES_FUZZ_FUZZSUPPORT_H
#define RXMFILES_FUZZ_FUZZSUPPORT_H

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "RXMFiles.h"

namespace fuzzing {

// A read-only file over bytes in memory; reads follow fread (a partial last
// item is consumed), seeks follow fseek.
class BytesFile : public KYFile {
 public:
  BytesFile(const std::uint8_t* bytes, std::size_t length) : data(bytes), size(length) {}
  bool OpenFile(String, String) override {
    open = true;
    position = 0;
    return true;
  }
  bool CloseFile() override {
    const bool was = open;
    open = false;
    return was;
  }
  bool IsFileOpened() override { return open; }
  unsigned int ReadData(void* buffer, unsigned int itemSize, unsigned int count) override {
    if (!open || itemSize == 0 || position >= size)
      return 0;
    const std::uint64_t wanted = static_cast<std::uint64_t>(itemSize) * count;
    const std::uint64_t copied = wanted < size - position ? wanted : size - position;
    std::memcpy(buffer, data + position, static_cast<std::size_t>(copied));
    position += static_cast<std::size_t>(copied);
    return static_cast<unsigned int>(copied / itemSize);
  }
  unsigned int WriteData(const void*, unsigned int, unsigned int) override { return 0; }
  unsigned int GetFileSize() override { return static_cast<unsigned int>(size); }
  bool EndOfFile() override { return position >= size; }
  bool Seek(long offset, int origin) override {
    std::int64_t base = origin == 0   ? 0
                        : origin == 1 ? static_cast<std::int64_t>(position)
                                      : static_cast<std::int64_t>(size);
    if (!open || origin < 0 || origin > 2 || base + offset < 0)
      return false;
    position = static_cast<std::size_t>(base + offset);
    return true;
  }
  long GetPosition() override { return static_cast<long>(position); }

 private:
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position = 0;
  bool open = false;
};

// A folder of this process in memory-backed storage where there is one.
inline const std::string& Scratch() {
  static const std::string folder = [] {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string path = std::string(base) + "/rxmfiles-fuzz-" + std::to_string(getpid());
    mkdir(path.c_str(), 0700);
    RXM::SetDebugger(CTPointer<Debugger>(new NullDebugger()));
    return path;
  }();
  return folder;
}

inline void WriteFile(const std::string& path, const std::uint8_t* bytes, std::size_t length) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    return;
  if (length > 0)
    std::fwrite(bytes, 1, length, file);
  std::fclose(file);
}

}  // namespace fuzzing

#endif  // RXMFILES_FUZZ_FUZZSUPPORT_H
