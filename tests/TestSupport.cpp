#include "TestSupport.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace testing_support {
namespace {

__attribute__((format(printf, 1, 0))) std::string Vformat(const char* format, va_list arguments) {
  char buffer[4096];
  std::vsnprintf(buffer, sizeof buffer, format, arguments);
  return buffer;
}

}  // namespace

// The first free name in order: create_directory is false when a name is
// taken (by another test program too), so that only means the next one.
TempDir::TempDir() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int n = 0; n < 100000; ++n) {
    const std::filesystem::path folder = base / ("rxmfiles-" + std::to_string(n));
    std::error_code error;
    if (std::filesystem::create_directory(folder, error)) {
      path = folder.generic_string();
      return;
    }
  }
  std::abort();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes LittleEndian(std::uint32_t value, int width) {
  Bytes bytes(static_cast<std::size_t>(width));
  for (int i = 0; i < width; ++i) {
    bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  return bytes;
}

void Put(Bytes& bytes, std::size_t at, const Bytes& patch) {
  bytes.resize(std::max(bytes.size(), at + patch.size()));
  std::copy(patch.begin(), patch.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

void RecordingDebugger::Print(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  printed.push_back(Vformat(format, arguments));
  va_end(arguments);
}

void RecordingDebugger::PrintError(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  errors.push_back(Vformat(format, arguments));
  va_end(arguments);
}

bool MemoryFile::OpenFile(String name, String mode) {
  calls.push_back(std::string("OpenFile(") + name.GetText() + "," + mode.GetText() + ")");
  open = !refuseOpen;
  position = 0;
  return open;
}

unsigned int MemoryFile::ReadData(void* buffer, unsigned int size, unsigned int count) {
  calls.push_back("ReadData(" + std::to_string(size) + "," + std::to_string(count) + ")");
  if (!open || size == 0) {
    return 0;
  }
  const std::int64_t available = std::max<std::int64_t>(0, Size() - position);
  const std::int64_t copied = std::min<std::int64_t>(std::int64_t{size} * count, available);
  if (copied > 0) {
    std::memcpy(buffer, content.data() + position, static_cast<std::size_t>(copied));
  }
  position += copied;
  return static_cast<unsigned int>(copied / size);
}

bool MemoryFile::Seek(long offset, int origin) {
  calls.push_back("Seek(" + std::to_string(offset) + "," + std::to_string(origin) + ")");
  const std::int64_t bases[] = {0, position, Size()};
  if (!open || refuseSeek || origin < 0 || origin > 2 || bases[origin] + offset < 0) {
    return false;
  }
  position = bases[origin] + offset;
  return true;
}

std::string ReadRest(KYFile& file) {
  std::string data(file.GetFileSize(), '\0');
  const unsigned int got =
      file.ReadData(data.data(), 1, static_cast<unsigned int>(data.size() - file.GetPosition()));
  data.resize(got);
  return data;
}

}  // namespace testing_support
