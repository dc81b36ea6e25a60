#include "files/Status.h"

#include "files/Url.h"

#include <cerrno>

namespace RXM {

const char* Describe(ErrorCode code) {
  switch (code) {
    case ErrorCode::kOk:
      return "success";
    case ErrorCode::kNoSuchFile:
      return "no such file";
    case ErrorCode::kIsAFolder:
      return "is a folder";
    case ErrorCode::kCannotOpen:
      return "cannot be opened";
    case ErrorCode::kNotAnArchive:
      return "not a KYMF archive";
    case ErrorCode::kCountBeyondFile:
      return "entry count beyond the file";
    case ErrorCode::kShortRecord:
      return "directory record cut short";
    case ErrorCode::kUnterminatedName:
      return "entry name without its NUL";
    case ErrorCode::kTruncated:
      return "truncated";
    case ErrorCode::kImpossibleRange:
      return "impossible data range";
    case ErrorCode::kNoSuchEntry:
      return "no such entry";
    case ErrorCode::kNotOpen:
      return "not open";
    case ErrorCode::kNameTooLong:
      return "name longer than 69 bytes";
    case ErrorCode::kNameRefused:
      return "name refused";
    case ErrorCode::kAlreadyExists:
      return "already exists";
    case ErrorCode::kEmptyInput:
      return "empty input";
    case ErrorCode::kInputChanged:
      return "input changed while it was copied";
    case ErrorCode::kTooLarge:
      return "archive would exceed 2,147,483,647 bytes";
    case ErrorCode::kReadFailed:
      return "read failed";
    case ErrorCode::kWriteFailed:
      return "write failed";
    case ErrorCode::kReplaceFailed:
      return "cannot replace the archive";
    case ErrorCode::kNoMemory:
      return "not enough memory";
    case ErrorCode::kBusy:
      return "locked by another writer";
    case ErrorCode::kReadOnly:
      return "read-only; not changed";
    case ErrorCode::kChanged:
      return "changed by another writer since it was opened";
    case ErrorCode::kNotAModule:
      return "not a Windows module";
    case ErrorCode::kDamagedModule:
      return "damaged Windows module";
    case ErrorCode::kNoSuchResource:
      return "no such resource";
    case ErrorCode::kDamagedEntry:
      return "damaged entry";
    case ErrorCode::kRemoteNotFound:
      return "not found on the server";
    case ErrorCode::kRemoteForbidden:
      return "access refused by the server";
    case ErrorCode::kRemoteChanged:
      return "changed on the server while open";
    case ErrorCode::kRangeIgnored:
      return "the server ignores range requests";
    case ErrorCode::kRemoteFailed:
      return "the server failed";
    case ErrorCode::kNetworkFailed:
      return "network failure";
    case ErrorCode::kSecureFailed:
      return "secure connection failed";
    case ErrorCode::kNotARegularFile:
      return "not a regular file";
    case ErrorCode::kDamaged:
      return "damaged: its bytes do not match its sum";
    case ErrorCode::kRemoteTimedOut:
      return "the server answered too slowly";
  }
  return "unknown error";
}

Status OpenFailure(const std::string& path, int error) {
  const std::string file = RedactUrl(path);  // a path that reads as a URL may hold a password
  if (error == ENOENT || error == ENOTDIR) {
    return Status(ErrorCode::kNoSuchFile, file + ": " + Describe(ErrorCode::kNoSuchFile), error);
  }
  if (error == EISDIR) {
    return Status(ErrorCode::kIsAFolder, file + ": " + Describe(ErrorCode::kIsAFolder), error);
  }
  const std::string reason = error == 0 ? Describe(ErrorCode::kCannotOpen) : SystemReason(error);
  return Status(ErrorCode::kCannotOpen, file + ": " + reason, error);
}

Status NotARegularFile(const std::string& file) {
  return Status(ErrorCode::kNotARegularFile, file + ": " + Describe(ErrorCode::kNotARegularFile));
}

Status NotASource(const std::string& source) {
  return Status(
      ErrorCode::kNotAModule,
      RedactUrl(source) + ": cannot be mounted (not a folder, a KYMF archive or a Windows module)");
}

}  // namespace RXM
