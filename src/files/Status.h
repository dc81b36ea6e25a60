// Why an operation failed: a code a program can branch on, and a message for
// people that names the file concerned.
//
// Objects that can fail for more than one reason keep the Status of their
// last such operation (MultiFile::GetStatus, MultiFileWriter::GetStatus, ...);
// there is no global error state. The operation's own result (a bool, a
// count, a thrown Exception, a debugger line) is unchanged: the Status is the
// reason beside it. Callers branch on GetCode() and show GetText(); they
// never parse the message.
#ifndef RXMFILES_FILES_STATUS_H
#define RXMFILES_FILES_STATUS_H

#include <cstdint>
#include <string>
#include <system_error>
#include <utility>

#include "framework/Export.h"

namespace RXM {

enum class ErrorCode : int {
  kOk = 0,
  /// Opening a file on disk.
  kNoSuchFile,  ///< nothing exists under the name
  kIsAFolder,   ///< the name is a folder, where a file was wanted
  kCannotOpen,  ///< it exists but the system refused it (the message says why)
  /// Reading an archive.
  kNotAnArchive,      ///< shorter than its header, or no "KYMF" magic
  kCountBeyondFile,   ///< the entry count is negative or needs more than the file holds
  kShortRecord,       ///< the file ends inside a directory record
  kUnterminatedName,  ///< a record's name has no NUL in its 70 bytes
  kTruncated,         ///< an entry's data lie (partly) past the end of the file
  kImpossibleRange,   ///< an entry's data start before the file, or end before they start
  kNoSuchEntry,       ///< no record has the name asked for
  kNotOpen,           ///< the object has no archive or entry open
  /// Naming and inserting.
  kNameTooLong,    ///< more than 69 bytes
  kNameRefused,    ///< empty, absolute, "..", a drive letter, a backslash, a control character
  kAlreadyExists,  ///< an entry of that name is in the archive already
  kEmptyInput,     ///< the input holds no bytes where some were required
  kInputChanged,   ///< an input grew or shrank while it was copied
  kTooLarge,       ///< the archive would exceed 2,147,483,647 bytes
  kReadFailed,     ///< an input or the archive could not be read
  kWriteFailed,    ///< the new archive (its temporary file) could not be written
  kReplaceFailed,  ///< the new archive could not be put in the old one's place
  kNoMemory,       ///< a buffer could not be allocated
  /// Replacing an archive.
  kBusy,      ///< another writer holds the archive's lock (and kept it while this one waited)
  kReadOnly,  ///< the archive may not be written (permissions, a read-only file system)
  kChanged,   ///< the archive was replaced or removed since it was opened
  /// Windows modules.
  kNotAModule,      ///< not a PE image
  kDamagedModule,   ///< a PE image whose headers or resource tree are broken
  kNoSuchResource,  ///< the module has no resource of that name and type
  /// Reading an archive (continued).
  kDamagedEntry,  ///< an entry's record gives it no bytes of its own (data inside the header)
  /// Reading over the network.
  kRemoteNotFound,   ///< the server has nothing at the URL (404, 410)
  kRemoteForbidden,  ///< the server refused access (401, 403)
  kRemoteChanged,    ///< the object was replaced on the server while it was open
  kRangeIgnored,    ///< the server ignores range requests and the object is too large to take whole
  kRemoteFailed,    ///< the server's answer was an error or made no sense (5xx after retries, ...)
  kNetworkFailed,   ///< the server could not be reached or stopped answering (after retries)
  kSecureFailed,    ///< the TLS connection failed: certificate not trusted, handshake refused
  kRemoteTimedOut,  ///< the server answered too slowly: its deadline passed, or too little progress
  /// Opening a file on disk (continued).
  kNotARegularFile,  ///< a FIFO, socket or device where a file was wanted
  /// Checking an entry against the sums file beside its archive.
  kDamaged,  ///< the entry's bytes do not match its SHA-256 sum
};

/// The system's text for the errno value `error` ("" for 0); unlike strerror,
/// safe from any thread.
inline std::string SystemReason(int error) {
  return error == 0 ? std::string() : std::generic_category().message(error);
}

/// A short stable name of the code ("no such file", "not a KYMF archive", ...),
/// the same text for the same cause everywhere.
RXMFILES_API const char* Describe(ErrorCode code);

/// Why an operation failed, or Ok: a code for programs to branch on
/// (ErrorCode) and a text for people naming the file.
class RXMFILES_API Status {
 public:
  /// Success.
  Status() = default;
  /// A failure; `message` says it for people and names the file.
  Status(ErrorCode failure, std::string text) : code(failure), message(std::move(text)) {}
  /// A failure that a call to the system reported with the errno value
  /// `error`; `message` already says the system's reason (SystemReason).
  Status(ErrorCode failure, std::string text, int error)
      : code(failure), message(std::move(text)), systemError(error) {}

  /// Success, as Status() gives it.
  static Status Ok() { return Status(); }

  /// Whether this is success (the code is kOk).
  bool IsOk() const { return code == ErrorCode::kOk; }
  /// The code: kOk on success, otherwise why the operation failed.
  ErrorCode GetCode() const { return code; }
  /// "" on success; otherwise the file, then the reason, e.g.
  /// "game.kymf: truncated at byte 1032".
  const char* GetText() const { return message.c_str(); }
  /// The errno value of the system call whose failure this is; 0 when no
  /// system call failed (a damaged archive, a refused name, ...) or the
  /// system said nothing.
  int GetSystemError() const { return systemError; }

 private:
  ErrorCode code = ErrorCode::kOk;
  std::string message;
  int systemError = 0;
};

/// Why `file` could not be opened, from the system's error number `error`:
/// kNoSuchFile when nothing is under the name (ENOENT, ENOTDIR), kIsAFolder
/// for a folder (EISDIR), otherwise kCannotOpen, with the system's reason:
/// refused (EACCES, EPERM), busy (EBUSY, ETXTBSY, a sharing violation on
/// Windows) or any other. The one description of a failed open; the message
/// is "<file>: <reason>", and the Status carries `error`.
RXMFILES_API Status OpenFailure(const std::string& file, int error);

/// `file` is a FIFO, a socket or a device where a regular file was wanted
/// (kNotARegularFile): "<file>: not a regular file".
RXMFILES_API Status NotARegularFile(const std::string& file);

/// `source` was offered to a search path but is none of what one mounts: no
/// folder, no KYMF archive (no "KYMF" magic) and no Windows module (no "MZ"
/// signature). kNotAModule, the last reader asked: "<source>: cannot be
/// mounted (not a folder, a KYMF archive or a Windows module)".
RXMFILES_API Status NotASource(const std::string& source);

}  // namespace RXM

#endif  // RXMFILES_FILES_STATUS_H
