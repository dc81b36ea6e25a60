#include "rxm/SearchPath.hpp"

#include <cerrno>
#include <utility>

#include "files/Failure.h"
#include "rxm/Error.hpp"
#include "rxm/NameText.h"
#include "rxm/StreamImpl.h"
#include "searchpath/SearchPath.h"
#include "searchpath/SearchPathWalk.h"

namespace rxm {
namespace {

// Throws rxm::Error unless `why` is Ok.
void Check(const RXM::Status& why) {
  if (!why.IsOk()) {
    throw Error(why);
  }
}

// A name with a NUL is refused as the library refuses one with any other
// control character.
void CheckNoNul(std::string_view name) {
  if (HoldsNul(name)) {
    throw Error(RXM::Failure(RXM::ErrorCode::kNameRefused, Shown(name)));
  }
}

// Every file below `folder`, depth first: files its source refuses too,
// which a read then says why. (A free function: the walk's visitor is then
// no type that the library exports.)
std::vector<std::string> FilesBelow(const ::SearchPath& path, const std::string& folder) {
  std::vector<std::string> files;
  Check(RXM::WalkSearchPath(path, folder, [&](const RXM::PathEntry& entry) {
    if (entry.kind == RXM::PathKind::kFile || entry.kind == RXM::PathKind::kRefusedFile) {
      files.push_back(entry.name);
    }
    return true;
  }));
  return files;
}

}  // namespace

struct SearchPath::Impl {
  ::SearchPath path;

  std::vector<std::string> List(const std::string& folder) const {
    RXM::Status why;
    std::vector<std::string> names = path.List(folder.c_str(), why);
    Check(why);
    return names;
  }
};

SearchPath::SearchPath() : impl(std::make_unique<Impl>()) {}
SearchPath::~SearchPath() = default;

void SearchPath::mount(std::string_view source, std::string_view mountPoint, bool append) {
  CheckNoNul(mountPoint);
  if (HoldsNul(source)) {
    throw Error(RXM::OpenFailure(Shown(source), EINVAL));
  }
  RXM::Status why;
  impl->path.Mount(std::string(source).c_str(), std::string(mountPoint).c_str(), append, why);
  Check(why);
}

bool SearchPath::unmount(std::string_view source) {
  return !HoldsNul(source) && impl->path.Unmount(std::string(source).c_str());
}

bool SearchPath::exists(std::string_view name) const {
  return !HoldsNul(name) && impl->path.Exists(std::string(name).c_str());
}

std::optional<Stat> SearchPath::stat(std::string_view name) const {
  CheckNoNul(name);
  const std::string wanted(name);
  if (wanted.empty()) {
    return Stat{Kind::folder, 0};  // the root, which no source need hold
  }
  RXM::Status why;
  const long size = impl->path.GetSize(wanted.c_str(), why);
  if (size >= 0) {
    return Stat{Kind::file, static_cast<std::uint32_t>(size)};
  }
  if (why.GetCode() != RXM::ErrorCode::kNoSuchEntry) {
    throw Error(why);  // a refused name, or a file its source refuses
  }
  if (impl->path.IsFolder(wanted.c_str())) {
    return Stat{Kind::folder, 0};
  }
  return std::nullopt;
}

Stream SearchPath::open(std::string_view name) const {
  CheckNoNul(name);
  const std::string wanted(name);
  RXM::Status why;
  Pointer<KYFile> file = impl->path.Open(wanted.c_str(), why);
  Check(why);
  return Stream(std::make_unique<Stream::Impl>(std::move(file), Pointer<HttpFile>(), wanted));
}

std::vector<std::byte> SearchPath::read(std::string_view name) const {
  Stream file = open(name);
  return ReadWhole<std::vector<std::byte>>(*file.impl);
}

std::string SearchPath::read_text(std::string_view name) const {
  Stream file = open(name);
  return ReadWhole<std::string>(*file.impl);
}

std::vector<std::string> SearchPath::list(std::string_view folder) const {
  CheckNoNul(folder);
  return impl->List(std::string(folder));
}

std::vector<std::string> SearchPath::walk(std::string_view folder) const {
  CheckNoNul(folder);
  return FilesBelow(impl->path, std::string(folder));
}

}  // namespace rxm
