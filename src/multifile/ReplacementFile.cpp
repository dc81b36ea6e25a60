#include "multifile/ReplacementFile.h"

#include <cerrno>
#include <utility>

namespace RXM {
namespace {

// The creating mode of the fixed name: "x" (C11) makes it exclusive, so that
// a link made under the name after it was removed fails the open instead of
// being followed. The Windows C runtime has no "x"; there, making a link
// takes a privilege that a writer's neighbours do not have.
#if defined(_WIN32)
constexpr const char* kCreateNew = "wb";
#else
constexpr const char* kCreateNew = "wbx";
#endif

struct Abandoned {
  std::string folder;
  std::string prefix;  // "<leaf>.tmp-"
  sys::System* system;
};

// Whether `name` is `prefix` followed by six letters and digits.
bool IsTemporaryName(const std::string& name, const std::string& prefix) {
  if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
      return false;
    }
  }
  return true;
}

}  // namespace

ReplacementFile::ReplacementFile(std::string targetName, Naming how, sys::System& calls)
    : target(std::move(targetName)), naming(how), system(calls) {}

ReplacementFile::ReplacementFile(std::FILE* out, sys::System& calls)
    : naming(Naming::kStream), temporary("-"), system(calls), stream(out) {}

// An unfinished temporary file is closed and left on disk; callers that must
// not leave it call Discard.
ReplacementFile::~ReplacementFile() {
  if (ownStream && stream != nullptr) {
    system.close(stream);
  }
}

bool ReplacementFile::Open() {
  failed = false;
  error = 0;
  if (naming == Naming::kStream) {
    return stream != nullptr;
  }
  if (naming == Naming::kFixed) {
    if (!OpenFixed()) {
      return false;
    }
  } else {
    std::string name;
    errno = 0;
    stream = system.createTemporary((target + ".tmp-").c_str(), &name);
    temporary = name.c_str();
    ownStream = stream != nullptr;
    if (stream == nullptr) {
      Remember(errno);
      temporary = (target + ".tmp-XXXXXX").c_str();
      return false;
    }
  }
  // Before the first byte: the new file is never more open than the old.
  errno = 0;
  if (system.copyAttributes(target.c_str(), stream) != 0) {
    Remember(errno);
    Discard();
    return false;
  }
  return true;
}

bool ReplacementFile::OpenFixed() {
  const std::string name = target + ".tmp";
  temporary = name.c_str();
  system.remove(temporary.GetText());
  file = new DiskFile(system);
  errno = 0;
  if (!file->OpenFile(temporary, kCreateNew)) {
    Remember(errno);
    file = nullptr;
    return false;
  }
  stream = file->GetFilePointer();
  return true;
}

bool ReplacementFile::Write(const void* data, std::uint32_t size) {
  if (failed || stream == nullptr) {
    return false;
  }
  if (size == 0) {
    return true;  // nothing to write; an empty entry has no bytes to point at
  }
  errno = 0;
  const bool written = file.IsNull() ? system.write(data, size, 1, stream) == 1
                                     : file->WriteData(data, size, 1) == 1;
  if (!written) {
    Remember(errno);
    failed = true;
  }
  return !failed;
}

bool ReplacementFile::Copy(sys::Handle from, std::uint64_t offset, std::uint32_t size) {
  if (failed || stream == nullptr) {
    return false;
  }
  errno = 0;
  if (system.copyRange(from, offset, size, stream) != size) {
    Remember(errno);
    failed = true;
  }
  return !failed;
}

bool ReplacementFile::Finish() {
  if (stream == nullptr) {
    return false;
  }
  errno = 0;
  if (!failed &&
      (system.flush(stream) != 0 || (naming != Naming::kStream && system.sync(stream) != 0))) {
    Remember(errno);
    failed = true;
  }
  if (naming == Naming::kStream) {
    stream = nullptr;  // the caller's, and left open
    return !failed;
  }
  errno = 0;
  const bool closed = file.IsNull() ? system.close(stream) == 0 : file->CloseFile();
  if (!closed) {
    Remember(errno);
  }
  stream = nullptr;
  ownStream = false;
  failed = failed || !closed;
  return !failed;
}

bool ReplacementFile::Replace(bool existing) {
  if (naming == Naming::kStream) {
    return true;  // the bytes are where they go
  }
  errno = 0;
  const int moved = existing ? system.replace(temporary.GetText(), target.c_str())
                             : system.placeNew(temporary.GetText(), target.c_str());
  if (moved != 0) {
    // replace says -1 and leaves errno; placeNew gives the errno value.
    error = moved > 0 ? moved : errno;
    return false;
  }
  // The new file is complete under the target's name whether or not the
  // directory reaches storage now; a failure here only means that a power
  // loss may bring back the old, equally complete, file.
  system.syncDirectoryOf(target.c_str());
  return true;
}

void ReplacementFile::Remember(int value) {
  if (error == 0) {
    error = value;
  }
}

void ReplacementFile::Discard() {
  if (naming == Naming::kStream) {
    stream = nullptr;
    return;
  }
  if (!file.IsNull()) {
    file->CloseFile();
    file = nullptr;
  } else if (ownStream && stream != nullptr) {
    system.close(stream);
  }
  stream = nullptr;
  ownStream = false;
  system.remove(temporary.GetText());
}

void ReplacementFile::RemoveAbandoned() const {
  const std::size_t slash = target.find_last_of("/\\");
  std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash);
  Abandoned abandoned{folder.empty() ? std::string("/") : folder,
                      (slash == std::string::npos ? target : target.substr(slash + 1)) + ".tmp-",
                      &system};
  system.listBelow(
      abandoned.folder.c_str(), "",
      [](const char* name, sys::FileKind kind, void* context) {
        const Abandoned& in = *static_cast<const Abandoned*>(context);
        if (kind == sys::FileKind::kFile && IsTemporaryName(name, in.prefix)) {
          in.system->removeAbandoned((in.folder + (in.folder == "/" ? "" : "/") + name).c_str());
        }
      },
      &abandoned);
}

}  // namespace RXM
