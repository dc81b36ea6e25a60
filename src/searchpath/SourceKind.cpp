#include "searchpath/SourceKind.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "backends/SharedHandle.h"
#include "files/Failure.h"
#include "files/Url.h"
#include "multifile/ArchiveFormat.h"
#include "searchpath/ArchiveSource.h"
#include "searchpath/FolderSource.h"
#include "searchpath/ModuleSource.h"

namespace RXM {
namespace {

std::shared_ptr<const MountedSource> LoadFolder(const std::string& source, sys::System& system,
                                                Status&, bool) {
  return std::make_shared<const FolderSource>(source, system);
}

std::shared_ptr<const MountedSource> LoadArchive(const std::string& source, sys::System& system,
                                                 Status& why, bool checkSums) {
  return ArchiveSource::Load(source, system, why, checkSums);
}

// The last of the three readers: a file that is no module is said to be
// none of the three.
std::shared_ptr<const MountedSource> LoadModule(const std::string& source, sys::System& system,
                                                Status& why, bool) {
  std::shared_ptr<const MountedSource> module = ModuleSource::Load(source, system, why);
  if (!module && why.GetCode() == ErrorCode::kNotAModule) {
    why = NotASource(source);
  }
  return module;
}

// The readers, one per kind, as PhysicsFS keeps its archivers in a table.
struct SourceReader {
  SourceKind kind;
  std::shared_ptr<const MountedSource> (*load)(const std::string& source, sys::System& system,
                                               Status& why, bool checkSums);
};
constexpr SourceReader kReaders[] = {
    {SourceKind::kArchive, LoadArchive},
    {SourceKind::kFolder, LoadFolder},
    {SourceKind::kModule, LoadModule},
};

// Whether the regular file `source` begins with the archive magic: read
// through a handle that never waits and never reads anything but a file.
bool StartsAsArchive(const std::string& source, sys::System& system) {
  const std::shared_ptr<const SharedHandle> file = SharedHandle::Open(source.c_str(), system);
  std::uint8_t magic[sizeof multifile::kMagic] = {};
  return file && file->ReadAt(magic, sizeof magic, 0) == sizeof magic &&
         std::memcmp(magic, multifile::kMagic, sizeof magic) == 0;
}

}  // namespace

bool IdentifySource(const std::string& source, sys::System& system, SourceKind* kind, Status& why) {
  if (IsRemoteUrl(source.c_str())) {
    *kind = SourceKind::kArchive;
    return true;
  }
  sys::FileInfo info;
  if (system.inspect(source.c_str(), &info) != 0 || info.kind == sys::FileKind::kMissing) {
    why = OpenFailure(source, info.error != 0 ? info.error : ENOENT);
    return false;
  }
  switch (info.kind) {
    case sys::FileKind::kFolder:
      *kind = SourceKind::kFolder;
      return true;
    case sys::FileKind::kFile:
      *kind = StartsAsArchive(source, system) ? SourceKind::kArchive : SourceKind::kModule;
      return true;
    case sys::FileKind::kMissing:
    case sys::FileKind::kOther:
      break;
  }
  why = Status(ErrorCode::kNotAnArchive, source + ": " + Describe(ErrorCode::kNotAnArchive));
  return false;
}

std::shared_ptr<const MountedSource> LoadSource(SourceKind kind, const std::string& source,
                                                sys::System& system, Status& why, bool checkSums) {
  for (const SourceReader& reader : kReaders) {
    if (reader.kind == kind) {
      return reader.load(source, system, why, checkSums);
    }
  }
  why = NotASource(source);
  return nullptr;
}

}  // namespace RXM
