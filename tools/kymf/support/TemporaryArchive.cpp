#include "support/TemporaryArchive.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "support/BlockCopy.h"
#include "support/Reporter.h"

namespace fs = std::filesystem;

namespace kymf {
namespace {

using RXM::ErrorCode;
using RXM::Status;

void BinaryMode(std::FILE* stream) {
#if defined(_WIN32)
  _setmode(_fileno(stream), _O_BINARY);
#else
  (void)stream;
#endif
}

// Copies `from` to `to` in blocks; Ok or the side that failed.
Status Copy(std::FILE* from, const std::string& fromName, std::FILE* to,
            const std::string& toName) {
  const CopyResult copy = CopyBlocks(
      [from](char* buffer, std::size_t size) { return std::fread(buffer, 1, size, from); },
      WriteTo(to));
  if (!copy.written) {
    return Status(ErrorCode::kWriteFailed, toName + ": " + SystemReason(errno));
  }
  if (std::ferror(from)) {
    return Status(ErrorCode::kReadFailed, fromName + ": " + RXM::Describe(ErrorCode::kReadFailed));
  }
  if (std::fflush(to) != 0) {
    return Status(ErrorCode::kWriteFailed, toName + ": " + SystemReason(errno));
  }
  return Status::Ok();
}

}  // namespace

TemporaryArchive::~TemporaryArchive() {
  if (!folder.empty()) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
}

Status TemporaryArchive::Make() {
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  if (error) {
    return Status(ErrorCode::kCannotOpen, "temporary folder: " + error.message());
  }
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("kymf-" + std::to_string(random()));
    if (fs::create_directory(candidate, error)) {
      folder = candidate.string();
      path = (candidate / "archive.kymf").string();
      return Status::Ok();
    }
    if (error) {
      return Status(ErrorCode::kCannotOpen, candidate.string() + ": " + error.message());
    }
  }
  return Status(ErrorCode::kCannotOpen, base.string() + ": no free temporary name");
}

Status TemporaryArchive::FromStandardInput() {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    return Status(ErrorCode::kCannotOpen, path + ": " + std::generic_category().message(errno));
  }
  BinaryMode(stdin);
  Status status = Copy(stdin, "-", out, path);
  if (std::fclose(out) != 0 && status.IsOk()) {
    status = Status(ErrorCode::kWriteFailed, path + ": " + std::generic_category().message(errno));
  }
  return status;
}

Status TemporaryArchive::ToStandardOutput() const {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    return Status(ErrorCode::kReadFailed, path + ": " + std::generic_category().message(errno));
  }
  BinaryMode(stdout);
  const Status status = Copy(in, path, stdout, "-");
  std::fclose(in);
  return status;
}

}  // namespace kymf
