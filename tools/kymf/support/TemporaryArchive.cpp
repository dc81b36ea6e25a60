#include "support/TemporaryArchive.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "multifile/ArchiveFormat.h"
#include "support/BlockCopy.h"
#include "support/Reporter.h"
#include "support/SignalCleanup.h"

namespace fs = std::filesystem;

namespace kymf {
namespace {

using RXM::ErrorCode;
using RXM::Status;

// Copies `from` to `to` in blocks; Ok or the side that failed.
Status Copy(std::FILE* from, const std::string& fromName, std::FILE* to,
            const std::string& toName) {
  const CopyResult copy = CopyBlocks(
      [from](char* buffer, std::size_t size) { return std::fread(buffer, 1, size, from); },
      WriteTo(to));
  if (!copy.written) {
    const int error = errno;
    return Status(ErrorCode::kWriteFailed, toName + ": " + SystemReason(error), error);
  }
  if (std::ferror(from)) {
    return Status(ErrorCode::kReadFailed, fromName + ": " + RXM::Describe(ErrorCode::kReadFailed));
  }
  if (std::fflush(to) != 0) {
    const int error = errno;
    return Status(ErrorCode::kWriteFailed, toName + ": " + SystemReason(error), error);
  }
  return Status::Ok();
}

// Reads up to `size` bytes, more than one read where the source gives
// fewer (a pipe): the bytes read, fewer only at the end.
std::size_t ReadFully(const ReadBlock& read, char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const std::size_t part = read(buffer + got, size - got);
    if (part == 0) {
      break;
    }
    got += part;
  }
  return got;
}

}  // namespace

Status SpoolArchive(const ReadBlock& read, const std::string& inputName, const WriteBlock& write,
                    const std::string& outputName, std::uint64_t limit,
                    const std::function<bool()>& readFailed) {
  const auto failedWrite = [&outputName] {
    const int error = errno;
    return Status(ErrorCode::kWriteFailed, outputName + ": " + SystemReason(error), error);
  };
  char magic[sizeof RXM::multifile::kMagic];
  const std::size_t got = ReadFully(read, magic, sizeof magic);
  if (readFailed && readFailed()) {
    return Status(ErrorCode::kReadFailed, inputName + ": " + RXM::Describe(ErrorCode::kReadFailed));
  }
  if (got != sizeof magic || std::memcmp(magic, RXM::multifile::kMagic, sizeof magic) != 0) {
    return Status(ErrorCode::kNotAnArchive,
                  inputName + ": " + RXM::Describe(ErrorCode::kNotAnArchive));
  }
  if (!write(magic, sizeof magic)) {
    return failedWrite();
  }
  std::uint64_t taken = sizeof magic;
  bool tooLarge = false;
  const CopyResult copy = CopyBlocks(
      [&](char* buffer, std::size_t size) -> std::size_t {
        // One byte past the limit is enough to know.
        const std::uint64_t room = taken > limit ? 0 : limit - taken + 1;
        const std::size_t part = read(buffer, room < size ? static_cast<std::size_t>(room) : size);
        taken += part;
        tooLarge = taken > limit;
        return tooLarge ? 0 : part;
      },
      write);
  if (tooLarge) {
    return Status(ErrorCode::kTooLarge, inputName + ": more than " + std::to_string(limit) +
                                            " bytes, the most an archive can hold");
  }
  if (!copy.written) {
    return failedWrite();
  }
  if (readFailed && readFailed()) {
    return Status(ErrorCode::kReadFailed, inputName + ": " + RXM::Describe(ErrorCode::kReadFailed));
  }
  return Status::Ok();
}

// Made for this process alone: on POSIX with mode 0700, so that no one else
// may read the archive inside or put a file of theirs there.
bool MakePrivateFolder(const fs::path& folder, std::error_code& error) {
#if defined(_WIN32)
  return fs::create_directory(folder, error);
#else
  if (::mkdir(folder.c_str(), 0700) == 0) {
    error.clear();
    return true;
  }
  if (errno != EEXIST) {
    error = std::error_code(errno, std::generic_category());
  } else {
    error.clear();
  }
  return false;
#endif
}

TemporaryArchive::~TemporaryArchive() {
  if (!folder.empty()) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  SignalCleanup::Drop(fileSlot);
  SignalCleanup::Drop(folderSlot);
}

Status TemporaryArchive::Make() {
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  if (error) {
    return Status(ErrorCode::kCannotOpen, "temporary folder: " + error.message(), error.value());
  }
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("kymf-" + std::to_string(random()));
    if (MakePrivateFolder(candidate, error)) {
      folder = candidate.string();
      path = (candidate / "archive.kymf").string();
      folderSlot = SignalCleanup::Add(SignalCleanup::kPath, folder.c_str(), true);
      fileSlot = SignalCleanup::Add(SignalCleanup::kPath, path.c_str());
      return Status::Ok();
    }
    if (error) {
      return Status(ErrorCode::kCannotOpen, candidate.string() + ": " + error.message(),
                    error.value());
    }
  }
  return Status(ErrorCode::kCannotOpen, base.string() + ": no free temporary name");
}

Status TemporaryArchive::FromStandardInput() {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    const int error = errno;
    return Status(ErrorCode::kCannotOpen, path + ": " + SystemReason(error), error);
  }
  BinaryMode(stdin);
  Status status = SpoolArchive(
      [](char* buffer, std::size_t size) { return std::fread(buffer, 1, size, stdin); }, "-",
      WriteTo(out), path, static_cast<std::uint64_t>(RXM::multifile::kLargestArchive),
      [] { return std::ferror(stdin) != 0; });
  if (status.IsOk() && std::fflush(out) != 0) {
    const int error = errno;
    status = Status(ErrorCode::kWriteFailed, path + ": " + SystemReason(error), error);
  }
  if (std::fclose(out) != 0 && status.IsOk()) {
    const int error = errno;
    status = Status(ErrorCode::kWriteFailed, path + ": " + SystemReason(error), error);
  }
  return status;
}

Status TemporaryArchive::ToStandardOutput() const {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    const int error = errno;
    return Status(ErrorCode::kReadFailed, path + ": " + SystemReason(error), error);
  }
  BinaryMode(stdout);
  Status status = Copy(in, path, stdout, "-");
  (void)std::fclose(in);  // read only: its close loses nothing
  return status;
}

}  // namespace kymf
