#include "multifile/VolumeSet.h"

#include <algorithm>
#include <utility>

#include "backends/HttpFile.h"
#include "backends/System.h"
#include "files/Url.h"
#include "multifile/ArchiveFormat.h"

namespace RXM {
namespace {

// Where the last component of a name begins, where it ends (a URL's path
// ends at its query or fragment) and where its extension begins (`end` when
// it has none; a component's leading dots begin no extension).
struct NameParts {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t extension = 0;
  bool noPath = false;  // a URL without a path: "/" goes before the number
};

NameParts PartsOf(const std::string& name) {
  NameParts parts;
  std::size_t pathBegin = 0;
  parts.end = name.size();
  if (IsRemoteUrl(name.c_str())) {
    const std::size_t user = UserinfoEnd(name);
    const std::size_t authority = user != std::string::npos ? user + 1 : name.find("://") + 3;
    pathBegin = std::min(name.find_first_of("/?#", authority), name.size());
    parts.end = std::min(name.find_first_of("?#", pathBegin), name.size());
    parts.noPath = pathBegin == parts.end;
  }
  parts.begin = parts.end;
  while (parts.begin > pathBegin && !RXM::sys::IsPathSeparator(name[parts.begin - 1])) {
    --parts.begin;
  }
  std::size_t stem = parts.begin;
  while (stem < parts.end && name[stem] == '.') {
    ++stem;
  }
  const std::size_t dot = name.rfind('.', parts.end == 0 ? 0 : parts.end - 1);
  parts.extension = dot != std::string::npos && dot > stem && dot < parts.end ? dot : parts.end;
  return parts;
}

// Volumes 2, 3, ... of `first` while `exists` says each one does.
template <class Exists>
std::vector<std::string> Collect(const std::string& first, Exists exists) {
  std::vector<std::string> volumes{first};
  for (int number = 2; number <= kMostVolumes; ++number) {
    std::string name = VolumeName(first, number);
    if (!exists(name)) {
      break;
    }
    volumes.push_back(std::move(name));
  }
  return volumes;
}

}  // namespace

std::string VolumeName(const std::string& first, int number) {
  if (number <= 1) {
    return first;
  }
  const NameParts parts = PartsOf(first);
  return first.substr(0, parts.extension) + (parts.noPath ? "/." : ".") + std::to_string(number) +
         first.substr(parts.extension);
}

int VolumeNumberOf(const std::string& first, const std::string& candidate) {
  const NameParts parts = PartsOf(first);
  const std::string stem = first.substr(parts.begin, parts.extension - parts.begin) + ".";
  const std::string extension = first.substr(parts.extension, parts.end - parts.extension);
  std::size_t begin = candidate.size();
  while (begin > 0 && !RXM::sys::IsPathSeparator(candidate[begin - 1])) {
    --begin;
  }
  const std::string name = candidate.substr(begin);
  if (name.size() <= stem.size() + extension.size() || name.compare(0, stem.size(), stem) != 0 ||
      name.compare(name.size() - extension.size(), extension.size(), extension) != 0) {
    return 0;
  }
  const std::string digits = name.substr(stem.size(), name.size() - stem.size() - extension.size());
  if (digits.size() > 4 || digits[0] == '0' ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return 0;
  }
  const int number = std::stoi(digits);
  return number >= 2 ? number : 0;
}

std::vector<std::string> FindVolumes(sys::System& system, const std::string& first) {
  return Collect(first, [&system](const std::string& name) {
    sys::FileInfo info;
    // A name that cannot be examined is taken as there, so that opening it
    // says why.
    return system.inspect(name.c_str(), &info) != 0 || info.kind != sys::FileKind::kMissing;
  });
}

Status FindRemoteVolumes(const std::string& first, std::vector<std::string>* volumes) {
  Status failure;
  *volumes = Collect(first, [&failure](const std::string& url) {
    HttpFile probe;
    if (probe.OpenFile(url.c_str(), "rb")) {
      probe.CloseFile();
      return true;
    }
    if (probe.GetStatus().GetCode() != ErrorCode::kRemoteNotFound) {
      failure = probe.GetStatus();
    }
    return false;
  });
  return failure;
}

std::vector<std::string> FindStrayVolumes(sys::System& system, const std::string& first,
                                          int found) {
  const NameParts parts = PartsOf(first);
  const std::string folder = first.substr(0, parts.begin);
  struct Listing {
    const std::string* first;
    int found;
    std::vector<std::pair<int, std::string>> strays;
  } listing{&first, found, {}};
  system.listBelow(
      folder.c_str(), "",
      [](const char* name, sys::FileKind, void* context) {
        Listing& list = *static_cast<Listing*>(context);
        const int number = VolumeNumberOf(*list.first, name);
        if (number > list.found) {
          list.strays.emplace_back(number, name);
        }
      },
      &listing);
  std::sort(listing.strays.begin(), listing.strays.end());
  std::vector<std::string> names;
  for (const auto& stray : listing.strays) {
    names.push_back(folder + stray.second);
  }
  return names;
}

Status PlanVolumes(const std::vector<std::uint64_t>& sizes, std::int64_t limit, VolumeFill open,
                   std::vector<std::size_t>* starts, std::size_t* refused) {
  using multifile::kHeaderSize;
  using multifile::kRecordSize;
  const auto most = static_cast<std::uint64_t>(std::min(limit, multifile::kLargestArchive));
  starts->assign(1, 0);
  std::uint64_t bytes = static_cast<std::uint64_t>(
      std::max(open.bytes, multifile::DirectoryEnd(std::max<std::int64_t>(open.records, 0))));
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const std::uint64_t size = sizes[i];
    if (size <= most && bytes + kRecordSize + size <= most) {
      bytes += kRecordSize + size;
      continue;
    }
    if (size > most || kHeaderSize + kRecordSize + size > most) {
      if (refused != nullptr) {
        *refused = i;
      }
      return Status(ErrorCode::kTooLarge,
                    "entry " + std::to_string(i) + ": " + std::to_string(size) +
                        " bytes do not fit a volume of " + std::to_string(most) + " bytes");
    }
    if (starts->size() == static_cast<std::size_t>(kMostVolumes)) {
      return Status(ErrorCode::kTooLarge, "more than " + std::to_string(kMostVolumes) +
                                              " volumes of " + std::to_string(most) + " bytes");
    }
    starts->push_back(i);
    bytes = static_cast<std::uint64_t>(kHeaderSize + kRecordSize) + size;
  }
  return Status::Ok();
}

}  // namespace RXM
