#include "multifile/ArchiveSums.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "files/Failure.h"
#include "files/Sha256.h"
#include "multifile/ReplacementFile.h"

namespace RXM {
namespace {

// Blocks of this size go to the digest: large enough that the system call
// and the digest's own call cost nothing beside the bytes.
constexpr std::size_t kBlock = std::size_t{1} << 20;
// A sums file larger than this is no sums file of an archive (whose every
// entry costs 80 bytes of directory in at most 2 GiB).
constexpr std::uint64_t kLargestSums = std::uint64_t{3} << 30;

bool IsHexDigest(const std::string& text) {
  if (text.size() != 64) {
    return false;
  }
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

// sha256sum's escaping of a name: a backslash and a line feed (and, since
// coreutils 9.2, a carriage return) are written as \\, \n and \r.
bool NeedsEscape(const std::string& name) {
  return name.find_first_of("\\\n\r") != std::string::npos;
}

std::string Escaped(const std::string& name) {
  std::string text;
  for (const char c : name) {
    text += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
  }
  return text;
}

bool Unescape(const std::string& text, std::string* name) {
  name->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *name += text[i];
      continue;
    }
    if (++i == text.size()) {
      return false;
    }
    const char c = text[i];
    if (c != '\\' && c != 'n' && c != 'r') {
      return false;
    }
    *name += c == '\\' ? '\\' : c == 'n' ? '\n' : '\r';
  }
  return true;
}

std::string Lowercase(std::string hex) {
  for (char& c : hex) {
    c = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return hex;
}

// Makes the finished sums file's modification time later than the archive
// file's birth, when the clock's steps left it at or before it.
bool StampAfter(sys::System& system, const std::string& archive, const ReplacementFile& sums) {
  sys::FileInfo archiveInfo;
  sys::FileInfo sumsInfo;
  const char* name = sums.TemporaryName().GetText();
  if (system.inspect(archive.c_str(), &archiveInfo) != 0 || archiveInfo.created == 0 ||
      system.inspect(name, &sumsInfo) != 0 || sumsInfo.modified > archiveInfo.created) {
    return true;
  }
  return system.stampModified(name, archiveInfo.created + 1) == 0;
}

}  // namespace

std::string SumsPathOf(const std::string& archive) {
  return archive + ".sha256";
}

std::string FormatSums(const std::vector<EntrySum>& sums) {
  std::string text;
  for (const EntrySum& sum : sums) {
    const bool escape = NeedsEscape(sum.name);
    text += (escape ? "\\" : "") + sum.hex + "  " + (escape ? Escaped(sum.name) : sum.name) + "\n";
  }
  return text;
}

Status ParseSums(const std::string& text, const std::string& file, std::vector<EntrySum>* sums) {
  sums->clear();
  std::size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end;
    std::string line = text.substr(start, end - start);
    start = end + 1;
    const bool escaped = !line.empty() && line[0] == '\\';
    const std::string body = escaped ? line.substr(1) : line;
    EntrySum sum;
    const bool shaped = body.size() > 66 && IsHexDigest(body.substr(0, 64)) && body[64] == ' ' &&
                        (body[65] == ' ' || body[65] == '*');
    if (!shaped ||
        !(escaped ? Unescape(body.substr(66), &sum.name) : (sum.name = body.substr(66), true))) {
      return Status(ErrorCode::kNotAnArchive,
                    file + ": line " + std::to_string(number) + " is not a SHA-256 sum");
    }
    sum.hex = Lowercase(body.substr(0, 64));
    sums->push_back(std::move(sum));
  }
  return Status::Ok();
}

bool IsNoSumsFile(const Status& read) {
  return read.GetCode() == ErrorCode::kNoSuchFile || read.GetCode() == ErrorCode::kRemoteNotFound;
}

Status ReadSums(sys::System& system, const std::string& file, std::vector<EntrySum>* sums) {
  sys::FileInfo info;
  if (system.inspect(file.c_str(), &info) != 0 || info.kind != sys::FileKind::kFile) {
    if (info.kind == sys::FileKind::kOther) {
      return NotARegularFile(file);  // a FIFO is never waited on
    }
    const int error = info.kind == sys::FileKind::kMissing ? ENOENT : info.error;
    return OpenFailure(file, info.kind == sys::FileKind::kFolder ? EISDIR : error);
  }
  if (info.size > kLargestSums) {
    return Failure(ErrorCode::kTooLarge, file, "too large for a sums file");
  }
  std::FILE* stream = system.open(file.c_str(), "rb");
  if (stream == nullptr) {
    return OpenFailure(file, errno);
  }
  std::string text(static_cast<std::size_t>(info.size), '\0');
  const std::size_t got = text.empty() ? 0 : system.read(&text[0], 1, text.size(), stream);
  system.close(stream);
  if (got != text.size()) {
    return Failure(ErrorCode::kReadFailed, file);
  }
  return ParseSums(text, file, sums);
}

// The sums file is replaced as a name, never followed: a link found under it
// (one planted there, or left dangling) is replaced by the new file, and
// nothing is written where it pointed.
Status WriteSums(sys::System& system, const std::string& file, const std::string& archive,
                 const std::vector<EntrySum>& sums) {
  const std::string text = FormatSums(sums);
  ReplacementFile replacement(file, ReplacementFile::Naming::kUnique, system);
  const bool written =
      replacement.Open() &&
      (text.empty() || replacement.Write(text.data(), static_cast<std::uint32_t>(text.size()))) &&
      replacement.Finish() && StampAfter(system, archive, replacement);
  if (!written || !replacement.Replace(true)) {
    const int error = replacement.GetError();
    replacement.Discard();
    return SystemFailure(ErrorCode::kWriteFailed, file, "could not write the sums file", error);
  }
  return Status::Ok();
}

Status HashRange(sys::System& system, sys::Handle handle, std::uint64_t offset, std::uint64_t size,
                 const std::string& subject, std::string* hex) {
  std::unique_ptr<void, void (*)(void*)> block(
      system.allocate(static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, size + 1))),
      std::free);
  if (block == nullptr) {
    return Failure(ErrorCode::kNoMemory, subject);
  }
  Sha256 digest;
  for (std::uint64_t done = 0; done < size;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, size - done));
    const std::int64_t got = system.readAt(handle, block.get(), want, offset + done);
    if (got <= 0) {
      return got < 0 ? SystemFailure(ErrorCode::kReadFailed, subject, "read failed", errno)
                     : Failure(ErrorCode::kTruncated, subject,
                               "truncated at byte " + std::to_string(offset + done));
    }
    digest.Update(block.get(), static_cast<std::size_t>(got));
    done += static_cast<std::uint64_t>(got);
  }
  *hex = Sha256::Hex(digest.Finish());
  return Status::Ok();
}

bool ArchiveNewerThanSums(sys::System& system, const std::string& archive,
                          const std::string& file) {
  sys::FileInfo archiveInfo;
  sys::FileInfo sumsInfo;
  return system.inspect(archive.c_str(), &archiveInfo) == 0 &&
         system.inspect(file.c_str(), &sumsInfo) == 0 && archiveInfo.created != 0 &&
         sumsInfo.modified != 0 && sumsInfo.modified <= archiveInfo.created;
}

Status Damaged(const std::string& subject, const std::string& expected, const std::string& actual) {
  return Status(ErrorCode::kDamaged, subject + ": " + Describe(ErrorCode::kDamaged) +
                                         " (its sum is " + actual + ", the sums file says " +
                                         expected + ")");
}

}  // namespace RXM
