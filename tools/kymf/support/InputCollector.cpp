#include "support/InputCollector.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "backends/System.h"
#include "multifile/ArchiveFormat.h"
#include "support/NameEscaping.h"

namespace fs = std::filesystem;

namespace kymf {
namespace {

// The name an input is stored under: its last component, a trailing
// separator ignored; "" for a folder without a name of its own ("." and
// "..", a root).
std::string OwnName(std::string path) {
  while (path.size() > 1 && RXM::sys::IsPathSeparator(path.back())) {
    path.pop_back();
  }
  const std::string name = fs::path(path).filename().generic_string();
  return name == "." || name == ".." ? std::string() : name;
}

std::string Join(const std::string& prefix, const std::string& name) {
  return prefix.empty() ? name : prefix + "/" + name;
}

const char* KindOf(const RXM::sys::FileInfo& info) {
  switch (info.other) {
    case RXM::sys::OtherKind::kFifo:
      return "a FIFO";
    case RXM::sys::OtherKind::kSocket:
      return "a socket";
    case RXM::sys::OtherKind::kDevice:
      return "a device";
    case RXM::sys::OtherKind::kUnknown:
      break;
  }
  return "neither a file nor a folder";
}

}  // namespace

InputCollector::InputCollector(Reporter& output, Selection& excluded, CollectRules given,
                               RXM::sys::System& calls)
    : reporter(output), excludes(excluded), rules(std::move(given)), system(calls) {
  RXM::sys::FileInfo info;
  if (!rules.archive.empty() && rules.archive != "-" &&
      system.inspect(rules.archive.c_str(), &info) == 0) {
    archive = IdentityOf(info);
    archiveSize = info.size;
  }
}

// What `path` names itself, a final link not followed: examined in the
// folder that holds it (the folder reached as its path says). A path that
// ends in a separator, ".", ".." or a root names what it reaches.
int InputCollector::InspectName(const fs::path& path, RXM::sys::FileInfo* info) const {
  const std::string name = path.filename().string();
  if (name.empty() || name == "." || name == "..") {
    return system.inspect(path.string().c_str(), info);
  }
  RXM::sys::WalkStop stop;
  const RXM::sys::Handle folder =
      system.openFolderBelow(path.parent_path().string().c_str(), "", false, &stop);
  if (folder == RXM::sys::kNoHandle) {
    *info = RXM::sys::FileInfo();
    info->error = stop.error != 0 ? stop.error : errno;
    // A folder on the way that is missing or no folder: nothing has the name.
    return info->error == ENOENT || info->error == ENOTDIR ? 0 : -1;
  }
  const int examined = system.inspectIn(folder, name.c_str(), info);
  system.closeHandle(folder);
  return examined;
}

// Which file `path` reaches, as the system says it (System::inspect, which
// on Windows opens the name to learn it).
FileIdentity InputCollector::IdentityAt(const fs::path& path) const {
  RXM::sys::FileInfo info;
  return system.inspect(path.string().c_str(), &info) == 0 ? IdentityOf(info) : FileIdentity();
}

bool InputCollector::Accept(const Found& file) {
  const std::string shown = file.path.generic_string();
  if (archive.known && file.info.size == archiveSize && IdentityAt(file.path) == archive) {
    reporter.Warn(shown, "is the archive being written; skipped");
    return true;
  }
  if (excludes.Excludes(file.name)) {
    reporter.Verbose("excluded " + EscapeName(shown));
    return true;
  }
  const RXM::Status refusal =
      RXM::multifile::CheckEntryName(file.name.data(), file.name.size(), shown);
  if (!refusal.IsOk()) {
    reporter.Fail(rules.keepGoing
                      ? RXM::Status(refusal.GetCode(), std::string(refusal.GetText()) + "; skipped")
                      : refusal);
    return rules.keepGoing;
  }
  inputs.push_back(Input{file.path.string(), file.name, file.info.size});
  return true;
}

// With -h, `info` becomes what the link reaches; false, said, when it is not
// followed.
bool InputCollector::Follows(const fs::path& path, RXM::sys::FileInfo& info) {
  const std::string shown = path.generic_string();
  if (!rules.dereference) {
    reporter.Warn(shown, "symbolic link not followed; skipped (-h follows links)");
    return false;
  }
  if (system.inspect(path.string().c_str(), &info) != 0 ||
      info.kind == RXM::sys::FileKind::kMissing) {
    reporter.Warn(shown, "symbolic link to nothing; skipped");
    return false;
  }
  return true;
}

// What `path` is, followed when it is a link that -h follows: a file is
// kept, a folder walked, anything else said and skipped. False (reported)
// when it cannot be examined or a folder below it cannot be read.
bool InputCollector::Visit(const fs::path& path, const std::string& name, RXM::sys::FileInfo info,
                           std::vector<FileIdentity>& above, std::vector<Found>& found) {
  if (info.link && !Follows(path, info)) {
    return true;
  }
  switch (info.kind) {
    case RXM::sys::FileKind::kFile:
      found.push_back(Found{name, path, info});
      return true;
    case RXM::sys::FileKind::kFolder:
      break;
    case RXM::sys::FileKind::kMissing:
    case RXM::sys::FileKind::kOther:
      reporter.Warn(path.generic_string(), std::string(KindOf(info)) + "; skipped");
      return true;
  }
  if (!rules.dereference) {
    return Walk(path, name, above, found);
  }
  const FileIdentity identity = IdentityAt(path);
  if (std::find(above.begin(), above.end(), identity) != above.end()) {
    reporter.Warn(path.generic_string(), "link to a folder it is in (a loop); not followed");
    return true;
  }
  above.push_back(identity);
  const bool walked = Walk(path, name, above, found);
  above.pop_back();
  return walked;
}

bool InputCollector::Add(const std::string& given) {
  const fs::path path = rules.base.empty() || fs::path(given).is_absolute()
                            ? fs::path(given)
                            : (fs::path(rules.base) / given).lexically_normal();
  const std::string shown = path.generic_string();
  RXM::sys::FileInfo info;
  if (InspectName(path, &info) != 0) {
    reporter.Fail(shown, SystemReason(info.error));
    return false;
  }
  if (info.kind == RXM::sys::FileKind::kMissing) {
    reporter.Fail(shown, RXM::Describe(RXM::ErrorCode::kNoSuchFile));
    return false;
  }
  std::vector<FileIdentity> above;
  std::vector<Found> found;
  if (!Visit(path, OwnName(given), info, above, found)) {
    return false;
  }
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return a.name < b.name; });
  bool ok = true;
  for (const Found& file : found) {
    ok = Accept(file) && ok;
  }
  return ok;
}

// Every file below `folder` into `found`, named below `prefix`; `above`
// holds the folders walked into so far (with -h), so that a link back to
// one of them is not walked again. False (reported) when a folder cannot be
// read.
bool InputCollector::Walk(const fs::path& folder, const std::string& prefix,
                          std::vector<FileIdentity>& above, std::vector<Found>& found) {
  std::vector<std::string> names;
  errno = 0;
  const int listed = system.listBelow(
      folder.string().c_str(), "",
      [](const char* name, RXM::sys::FileKind, void* context) {
        static_cast<std::vector<std::string>*>(context)->emplace_back(name);
      },
      &names);
  if (listed < 0) {
    reporter.Fail(folder.generic_string(), SystemReason(errno != 0 ? errno : EIO));
    return false;
  }
  if (names.empty()) {
    reporter.Verbose("skipped empty folder " + EscapeName(folder.generic_string()));
  }
  for (const std::string& name : names) {
    const fs::path path = folder / name;
    RXM::sys::FileInfo info;
    if (InspectName(path, &info) != 0) {
      reporter.Fail(path.generic_string(), SystemReason(info.error));
      return false;
    }
    if (!Visit(path, Join(prefix, name), info, above, found)) {
      return false;
    }
  }
  return true;
}

bool InputCollector::Rename(const std::string& name) {
  const RXM::Status refusal = RXM::multifile::CheckEntryName(name.data(), name.size(), name);
  if (!refusal.IsOk()) {
    reporter.Fail(refusal);
    return false;
  }
  inputs.at(0).name = name;
  return true;
}

std::uint64_t InputCollector::GetTotalBytes() const {
  std::uint64_t total = 0;
  for (const Input& input : inputs) {
    total += input.size;
  }
  return total;
}

}  // namespace kymf
