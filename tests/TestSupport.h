// Helpers shared by the tests: temporary folders, file I/O, a recording
// debugger, and a logging in-memory KYFile.
#ifndef RXMFILES_TESTS_TESTSUPPORT_H
#define RXMFILES_TESTS_TESTSUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "RXMFiles.h"

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder, removed with its contents at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Path(const std::string& name) const { return path + "/" + name; }

 private:
  std::string path;
};

inline Bytes BytesOf(const std::string& text) {
  return Bytes(text.begin(), text.end());
}
Bytes ReadAll(const std::string& path);
void WriteAll(const std::string& path, const Bytes& bytes);
inline void WriteAll(const std::string& path, const std::string& text) {
  WriteAll(path, BytesOf(text));
}
inline bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

// Binary images made byte by byte: `value`'s low `width` bytes, least
// significant first; `patch` written over `bytes` at `at`, which grow to hold
// it; and a copy of `bytes` so patched.
Bytes LittleEndian(std::uint32_t value, int width = 4);
void Put(Bytes& bytes, std::size_t at, const Bytes& patch);
inline Bytes With(Bytes bytes, std::size_t at, const Bytes& patch) {
  Put(bytes, at, patch);
  return bytes;
}

// A parameterised case's name for GoogleTest: its `label` with every
// character other than a letter or digit made '_'.
template <class Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
  std::string name(info.param.label);
  for (char& c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    c = plain ? c : '_';
  }
  return name;
}

// Runs `action`, which must throw the library's Exception*; returns its
// message (and deletes it), or fails the test if nothing was thrown.
template <class F>
std::string Thrown(F action) {
  try {
    action();
  } catch (Exception* e) {
    std::string text = e->GetText();
    delete e;
    return text;
  }
  ADD_FAILURE() << "nothing was thrown";
  return "";
}

// Collects what the library prints, and installs itself for its lifetime.
class RecordingDebugger : public Debugger {
 public:
  void Print(const char* format, ...) override RXMFILES_PRINTF(2, 3);
  void PrintError(const char* format, ...) override RXMFILES_PRINTF(2, 3);
  std::vector<std::string> printed;
  std::vector<std::string> errors;
};

class DebuggerCapture {
 public:
  DebuggerCapture() { RXM::SetDebugger(CTPointer<Debugger>(debugger.Get())); }
  ~DebuggerCapture() { RXM::SetDebugger(CTPointer<Debugger>()); }
  RecordingDebugger& operator*() const { return *debugger; }
  RecordingDebugger* operator->() const { return debugger.Get(); }

 private:
  Pointer<RecordingDebugger> debugger = new RecordingDebugger();
};

// A KYFile over bytes in memory that logs the calls it receives, as
// "OpenFile(name,mode)", "ReadData(size,count)", "Seek(offset,origin)", ...
// Reads follow fread: a partial last item is consumed. A `claimedSize` of 0
// or more is what GetFileSize says instead of the true size.
class MemoryFile : public KYFile {
 public:
  explicit MemoryFile(Bytes initial = {}, std::int64_t sizeToClaim = -1)
      : content(std::move(initial)), claimedSize(sizeToClaim) {}
  bool OpenFile(String name, String mode) override;
  bool CloseFile() override {
    calls.emplace_back("CloseFile");
    return std::exchange(open, false);
  }
  bool IsFileOpened() override { return open; }
  unsigned int ReadData(void* buffer, unsigned int size, unsigned int count) override;
  unsigned int WriteData(const void*, unsigned int size, unsigned int count) override {
    calls.push_back("WriteData(" + std::to_string(size) + "," + std::to_string(count) + ")");
    return 0;
  }
  unsigned int GetFileSize() override {
    calls.emplace_back("GetFileSize");
    return static_cast<unsigned int>(claimedSize >= 0 ? claimedSize : Size());
  }
  bool EndOfFile() override { return position >= Size(); }
  bool Seek(long offset, int origin) override;
  long GetPosition() override { return static_cast<long>(position); }
  std::int64_t Size() const { return static_cast<std::int64_t>(content.size()); }

  Bytes content;
  std::int64_t position = 0;
  bool open = false;
  bool refuseOpen = false;
  bool refuseSeek = false;  // every Seek fails, the file staying open
  std::int64_t claimedSize;
  std::vector<std::string> calls;
};

// What `file` gives from its position to its end, asked for in one read.
std::string ReadRest(KYFile& file);

}  // namespace testing_support

#endif  // RXMFILES_TESTS_TESTSUPPORT_H
