#include "support/InputCollector.h"

#include <algorithm>
#include <system_error>
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

const char* KindOf(fs::file_type type) {
  switch (type) {
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::socket:
      return "a socket";
    case fs::file_type::block:
    case fs::file_type::character:
      return "a device";
    default:
      return "neither a file nor a folder";
  }
}

}  // namespace

InputCollector::InputCollector(Reporter& output, Selection& excluded, CollectRules given)
    : reporter(output), excludes(excluded), rules(std::move(given)) {
  if (!rules.archive.empty() && rules.archive != "-") {
    archive = IdentityOf(rules.archive);
    std::error_code error;
    archiveSize = archive.known ? fs::file_size(rules.archive, error) : 0;
  }
}

bool InputCollector::IsTheArchive(const fs::path& path, std::uint64_t size) const {
  return archive.known && size == archiveSize && IdentityOf(path.string()) == archive;
}

bool InputCollector::Accept(const fs::path& path, const std::string& name) {
  const std::string shown = path.generic_string();
  std::error_code error;
  const std::uint64_t size = fs::file_size(path, error);
  if (error) {
    reporter.Fail(shown, error.message());
    return false;
  }
  if (IsTheArchive(path, size)) {
    reporter.Warn(shown, "is the archive being written; skipped");
    return true;
  }
  if (excludes.Excludes(name)) {
    reporter.Verbose("excluded " + EscapeName(shown));
    return true;
  }
  const RXM::Status refusal = RXM::multifile::CheckEntryName(name.data(), name.size(), shown);
  if (!refusal.IsOk()) {
    reporter.Fail(rules.keepGoing
                      ? RXM::Status(refusal.GetCode(), std::string(refusal.GetText()) + "; skipped")
                      : refusal);
    return rules.keepGoing;
  }
  inputs.push_back(Input{path.string(), name, size});
  return true;
}

bool InputCollector::Follows(const fs::path& path, fs::file_status& target) {
  const std::string shown = path.generic_string();
  if (!rules.dereference) {
    reporter.Warn(shown, "symbolic link not followed; skipped (-h follows links)");
    return false;
  }
  std::error_code error;
  target = fs::status(path, error);
  if (error || !fs::exists(target)) {
    reporter.Warn(shown, "symbolic link to nothing; skipped");
    return false;
  }
  return true;
}

bool InputCollector::Add(const std::string& given) {
  const fs::path path = rules.base.empty() || fs::path(given).is_absolute()
                            ? fs::path(given)
                            : (fs::path(rules.base) / given).lexically_normal();
  const std::string shown = path.generic_string();
  std::error_code error;
  fs::file_status status = fs::symlink_status(path, error);
  if (status.type() == fs::file_type::not_found) {
    reporter.Fail(shown, RXM::Describe(RXM::ErrorCode::kNoSuchFile));
    return false;
  }
  if (error) {
    reporter.Fail(shown, error.message());
    return false;
  }
  if (fs::is_symlink(status) && !Follows(path, status)) {
    return true;
  }
  if (fs::is_regular_file(status)) {
    return Accept(path, OwnName(given));
  }
  if (!fs::is_directory(status)) {
    reporter.Warn(shown, std::string(KindOf(status.type())) + "; skipped");
    return true;
  }
  std::vector<FileIdentity> above;
  if (rules.dereference) {
    above.push_back(IdentityOf(path.string()));
  }
  std::vector<Found> found;
  if (!Walk(path, OwnName(given), above, found)) {
    return false;
  }
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return a.name < b.name; });
  bool ok = true;
  for (const Found& file : found) {
    ok = Accept(file.path, file.name) && ok;
  }
  return ok;
}

// Every file below `folder` into `found`, named below `prefix`; `above`
// holds the folders walked into so far (with -h), so that a link back to
// one of them is not walked again. False (reported) when a folder cannot be
// read.
bool InputCollector::Walk(const fs::path& folder, const std::string& prefix,
                          std::vector<FileIdentity>& above, std::vector<Found>& found) {
  std::error_code error;
  bool empty = true;
  for (fs::directory_iterator item(folder, error), end; !error && item != end;
       item.increment(error)) {
    empty = false;
    const fs::path path = item->path();
    const std::string name = Join(prefix, path.filename().generic_string());
    std::error_code itemError;
    fs::file_status status = item->symlink_status(itemError);
    if (fs::is_symlink(status) && !Follows(path, status)) {
      continue;
    }
    if (fs::is_regular_file(status)) {
      found.push_back(Found{name, path});
    } else if (!fs::is_directory(status)) {
      reporter.Warn(path.generic_string(), std::string(KindOf(status.type())) + "; skipped");
    } else if (!rules.dereference) {
      if (!Walk(path, name, above, found)) {
        return false;
      }
    } else {
      const FileIdentity identity = IdentityOf(path.string());
      if (std::find(above.begin(), above.end(), identity) != above.end()) {
        reporter.Warn(path.generic_string(), "link to a folder it is in (a loop); not followed");
        continue;
      }
      above.push_back(identity);
      const bool walked = Walk(path, name, above, found);
      above.pop_back();
      if (!walked) {
        return false;
      }
    }
  }
  if (error) {
    reporter.Fail(folder.generic_string(), error.message());
    return false;
  }
  if (empty) {
    reporter.Verbose("skipped empty folder " + EscapeName(folder.generic_string()));
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
