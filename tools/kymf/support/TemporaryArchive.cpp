#include "support/TemporaryArchive.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "multifile/ArchiveFormat.h"
#include "support/BlockCopy.h"
#include "support/Reporter.h"
#include "support/SignalCleanup.h"

namespace fs = std::filesystem;

namespace kymf {
namespace {

using RXM::ErrorCode;
using RXM::Status;

// Adds each name `listBelow` visits to the vector of names at `context`.
void CollectName(const char* name, RXM::sys::FileKind /*kind*/, void* context) {
  static_cast<std::vector<std::string>*>(context)->emplace_back(name);
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

// The archive first, then whatever else came into the folder (a file the
// library made beside the archive, as a writer's lock on Windows), then the
// folder: an archive whose removal fails is taken again by the listing.
TemporaryArchive::~TemporaryArchive() {
  if (!folder.empty()) {
    (void)system.remove(path.c_str());
    std::vector<std::string> names;
    if (system.listBelow(folder.c_str(), "", CollectName, &names) > 0) {
      for (const std::string& name : names) {
        (void)system.remove((fs::path(folder) / name).string().c_str());
      }
    }
    (void)system.remove(folder.c_str());
  }
  SignalCleanup::Drop(fileSlot);
  SignalCleanup::Drop(folderSlot);
}

// Made for this process alone (System::makePrivateFolder: mode 0700 on
// POSIX), so that no one else may read the archive inside or put a file of
// theirs there; a name someone already has, a link too, is passed over.
Status TemporaryArchive::Make() {
  std::string folderName;
  const int error = system.temporaryFolder(&folderName);
  if (error != 0) {
    return Status(ErrorCode::kCannotOpen,
                  "temporary folder " + folderName + ": " + SystemReason(error), error);
  }
  const fs::path base(folderName);
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = (base / ("kymf-" + std::to_string(random()))).string();
    const int made = system.makePrivateFolder(candidate.c_str());
    if (made == 0) {
      folder = candidate;
      path = (fs::path(candidate) / "archive.kymf").string();
      folderSlot = SignalCleanup::Add(SignalCleanup::kPath, folder.c_str(), true);
      fileSlot = SignalCleanup::Add(SignalCleanup::kPath, path.c_str());
      return Status::Ok();
    }
    if (made != EEXIST) {
      return Status(ErrorCode::kCannotOpen, candidate + ": " + SystemReason(made), made);
    }
  }
  return Status(ErrorCode::kCannotOpen, base.string() + ": no free temporary name");
}

Status TemporaryArchive::FromStandardInput() {
  BinaryMode(stdin);
  return FromInput(
      [](char* buffer, std::size_t size) { return std::fread(buffer, 1, size, stdin); },
      [] { return std::ferror(stdin) != 0; });
}

Status TemporaryArchive::FromInput(const ReadBlock& read, const std::function<bool()>& readFailed) {
  std::FILE* out = system.open(path.c_str(), "wb");
  if (out == nullptr) {
    const int error = errno;
    return Status(ErrorCode::kCannotOpen, path + ": " + SystemReason(error), error);
  }
  RXM::sys::System& calls = system;
  Status status = SpoolArchive(
      read, "-",
      [&calls, out](const char* data, std::size_t size) {
        return calls.write(data, 1, size, out) == size;
      },
      path, static_cast<std::uint64_t>(RXM::multifile::kLargestArchive), readFailed);
  if (status.IsOk() && system.flush(out) != 0) {
    const int error = errno;
    status = Status(ErrorCode::kWriteFailed, path + ": " + SystemReason(error), error);
  }
  if (system.close(out) != 0 && status.IsOk()) {
    const int error = errno;
    status = Status(ErrorCode::kWriteFailed, path + ": " + SystemReason(error), error);
  }
  return status;
}

}  // namespace kymf
