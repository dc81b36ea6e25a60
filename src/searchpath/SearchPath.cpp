#include "searchpath/SearchPath.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "backends/System.h"
#include "files/SafeName.h"
#include "files/Url.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/SpreadHold.h"
#include "multifile/VolumeSet.h"
#include "searchpath/ArchiveSource.h"
#include "searchpath/SourceKind.h"

namespace {

using RXM::MountedSource;

bool IsSafe(const char* name) {
  return RXM::CheckSafeName(name) == RXM::NameFault::kNone;
}

// Why `name` is refused by `source` (the search path, or the source whose
// mount point it is): "<source>: <name>: name refused: <its fault>".
RXM::Status Refused(const std::string& source, const std::string& name) {
  return RXM::Status(RXM::ErrorCode::kNameRefused,
                     source + ": " + name + ": " + RXM::Describe(RXM::ErrorCode::kNameRefused) +
                         ": " + RXM::DescribeNameFault(RXM::CheckSafeName(name.c_str())));
}

// What `source` names, opened as a source (IdentifySource, then the reader
// of its kind); null with the reason in `why`. `archive` says whether it is
// read as an archive.
std::shared_ptr<const MountedSource> LoadSource(const std::string& source, RXM::sys::System& system,
                                                RXM::Status& why, bool checkSums, bool& archive) {
  RXM::SourceKind kind = RXM::SourceKind::kArchive;
  if (!RXM::IdentifySource(source, system, &kind, why)) {
    return nullptr;
  }
  archive = kind == RXM::SourceKind::kArchive;
  return RXM::LoadSource(kind, source, system, why, checkSums);
}

// `source` loaded and, for an archive, each later volume of its set, in the
// search order of a set: the last volume first. Empty, with the reason in
// `why`, when one of them cannot be loaded or a set over the network cannot
// be probed to its end.
std::vector<std::shared_ptr<const MountedSource>> LoadSet(const std::string& source,
                                                          RXM::sys::System& system,
                                                          RXM::Status& why, bool checkSums) {
  bool archive = false;
  std::shared_ptr<const MountedSource> first = LoadSource(source, system, why, checkSums, archive);
  if (!first) {
    return {};
  }
  std::vector<std::string> volumes{source};
  if (archive && RXM::IsRemoteUrl(source.c_str())) {
    why = RXM::FindRemoteVolumes(source, &volumes);
  } else if (archive) {
    volumes = RXM::FindVolumes(system, source);
  }
  std::vector<std::shared_ptr<const MountedSource>> loaded{first};
  for (std::size_t i = 1; i < volumes.size() && why.IsOk(); ++i) {
    std::shared_ptr<const MountedSource> volume =
        RXM::ArchiveSource::Load(volumes[i], system, why, checkSums);
    loaded.insert(loaded.begin(), volume);
  }
  return why.IsOk() ? loaded : std::vector<std::shared_ptr<const MountedSource>>();
}

// The part of `name` below the mount point `point`, or null when `name` is
// not below it.
const char* Below(const char* name, const std::string& point) {
  if (point.empty()) {
    return name;
  }
  if (std::strncmp(name, point.c_str(), point.size()) != 0 || name[point.size()] != '/') {
    return nullptr;
  }
  return name + point.size() + 1;
}

// Whether the mount point `point` lies below the folder `folder`, so that
// its next component is a folder there.
bool HoldsPoint(const std::string& folder, const std::string& point) {
  return folder.empty() ||
         (point.compare(0, folder.size(), folder) == 0 && point[folder.size()] == '/');
}

}  // namespace

// One list of mounts, in search order; never changed once published.
struct SearchPath::Mounts {
  struct Mount {
    std::string source;
    std::string point;
    std::shared_ptr<const MountedSource> files;
  };
  std::vector<Mount> order;

  // The search path as its messages name it: "search path (<sources>)", in
  // search order, at most four and a count of the rest.
  std::string Shown() const {
    std::string shown = "search path (";
    for (std::size_t i = 0; i < order.size() && i < 4; ++i) {
      shown += (i == 0 ? "" : ", ") + RXM::RedactUrl(order[i].source);
    }
    if (order.size() > 4) {
      shown += " and " + std::to_string(order.size() - 4) + " more";
    }
    return shown + (order.empty() ? "nothing mounted)" : ")");
  }

  // The first answer of `ask(source, nameBelowItsMountPoint, why)` that
  // `found` accepts, or `none` with `why` set: at the first source that
  // refuses the name (a failure in `why`), or kNoSuchEntry when none has it.
  template <class Answer, class Ask, class Found>
  Answer First(const char* name, Answer none, RXM::Status& why, Ask ask, Found found) const {
    why = RXM::Status::Ok();
    for (const Mount& mount : order) {
      const char* below = Below(name, mount.point);
      if (below != nullptr) {
        Answer answer = ask(*mount.files, below, why);
        if (found(answer)) {
          return answer;
        }
        if (!why.IsOk()) {
          return none;
        }
      }
    }
    why = RXM::Status(RXM::ErrorCode::kNoSuchEntry,
                      Shown() + ": " + name + ": " + RXM::Describe(RXM::ErrorCode::kNoSuchEntry));
    return none;
  }
};

// The current list is published once per processor (SpreadHold's lanes),
// each copy under a lock of its own on a cache line of its own: threads on
// different processors that take the list at once write no line in common,
// neither a lock nor a reference count.
struct SearchPath::Shared {
  struct alignas(64) Published {
    std::mutex lock;
    std::shared_ptr<const Mounts> mounts;
  };

  explicit Shared(RXM::sys::System& calls)
      : system(calls), published(new Published[RXM::sys::ProcessorLanes()]) {
    Publish(std::make_shared<const Mounts>());
  }

  // Every lane at once: a reader that saw the new list on one lane never
  // sees the old one on another afterwards.
  void Publish(const std::shared_ptr<const Mounts>& next) {
    const RXM::SpreadHold<Mounts> lanes(next);
    for (unsigned i = 0; i < RXM::sys::ProcessorLanes(); ++i) {
      published[i].lock.lock();
    }
    for (unsigned i = 0; i < RXM::sys::ProcessorLanes(); ++i) {
      published[i].mounts = lanes.Lane(i);
      published[i].lock.unlock();
    }
  }

  std::shared_ptr<const Mounts> Current() {
    Published& lane = published[RXM::sys::ProcessorLane()];
    const std::lock_guard<std::mutex> hold(lane.lock);
    return lane.mounts;
  }

  RXM::sys::System& system;
  std::atomic<bool> checkSums{false};  // archives mounted from now on check entries' sums
  std::mutex changing;                 // one Mount or Unmount at a time builds the next list
  std::unique_ptr<Published[]> published;
};

SearchPath::SearchPath() : shared(new Shared(RXM::sys::System::Default())) {}

SearchPath::SearchPath(RXM::sys::System& system) : shared(new Shared(system)) {}

SearchPath::~SearchPath() = default;

std::shared_ptr<const SearchPath::Mounts> SearchPath::Current() const {
  return shared->Current();
}

template <class Change>
bool SearchPath::Update(Change change) {
  const std::lock_guard<std::mutex> lock(shared->changing);
  auto next = std::make_shared<Mounts>(*Current());
  if (!change(*next)) {
    return false;
  }
  shared->Publish(std::shared_ptr<const Mounts>(std::move(next)));
  return true;
}

void SearchPath::SetCheckSums(bool check) {
  shared->checkSums = check;
}

bool SearchPath::Mount(const String& source, const String& mountPoint, bool append) {
  RXM::Status why;
  return Mount(source, mountPoint, append, why);
}

bool SearchPath::Mount(const String& source, const String& mountPoint, bool append,
                       RXM::Status& why) {
  why = RXM::Status::Ok();
  const std::string point = mountPoint.GetText();
  const std::string path = source.GetText();
  if (!point.empty() && !IsSafe(point.c_str())) {
    why = Refused(RXM::RedactUrl(path), point);  // the mount point is the name refused
    return false;
  }
  const std::vector<std::shared_ptr<const MountedSource>> volumes =
      LoadSet(path, shared->system, why, shared->checkSums.load());
  if (volumes.empty()) {
    return false;
  }
  Update([&](Mounts& next) {
    for (const Mounts::Mount& mount : next.order) {
      if (mount.source == path) {
        return false;
      }
    }
    // A set's volumes side by side, each under the text it was mounted by.
    auto at = append ? next.order.end() : next.order.begin();
    for (const std::shared_ptr<const MountedSource>& files : volumes) {
      at = next.order.insert(at, Mounts::Mount{path, point, files}) + 1;
    }
    return true;
  });
  return true;
}

bool SearchPath::Unmount(const String& source) {
  const std::string path = source.GetText();
  return Update([&](Mounts& next) {
    const auto kept =
        std::remove_if(next.order.begin(), next.order.end(),
                       [&](const Mounts::Mount& mount) { return mount.source == path; });
    const bool found = kept != next.order.end();
    next.order.erase(kept, next.order.end());  // a set's volumes all go
    return found;
  });
}

Pointer<KYFile> SearchPath::Open(const String& name) const {
  RXM::Status why;
  return Open(name, why);
}

Pointer<KYFile> SearchPath::Open(const String& name, RXM::Status& why) const {
  if (!IsSafe(name.GetText())) {
    why = Refused(Current()->Shown(), name.GetText());
    return nullptr;
  }
  return Current()->First(
      name.GetText(), Pointer<KYFile>(), why,
      [](const MountedSource& files, const char* below, RXM::Status& reason) {
        return files.Open(below, reason);
      },
      [](const Pointer<KYFile>& file) { return !file.IsNull(); });
}

bool SearchPath::Exists(const String& name) const {
  return GetSize(name) >= 0;
}

long SearchPath::GetSize(const String& name) const {
  RXM::Status why;
  return GetSize(name, why);
}

long SearchPath::GetSize(const String& name, RXM::Status& why) const {
  if (!IsSafe(name.GetText())) {
    why = Refused(Current()->Shown(), name.GetText());
    return -1;
  }
  return Current()->First(
      name.GetText(), -1L, why,
      [](const MountedSource& files, const char* below, RXM::Status& reason) {
        return files.GetSize(below, reason);
      },
      [](long size) { return size >= 0; });
}

bool SearchPath::IsFolder(const String& name) const {
  const std::string wanted = name.GetText();
  if (wanted.empty()) {
    return true;
  }
  if (!IsSafe(wanted.c_str())) {
    return false;
  }
  const std::shared_ptr<const Mounts> mounts = Current();  // held while asking
  for (const Mounts::Mount& mount : mounts->order) {
    const char* below = Below(wanted.c_str(), mount.point);
    RXM::Status ignored;  // a refused file says nothing of a folder of its name
    if (below != nullptr ? (mount.files->Stat(below, ignored).kinds & RXM::kFolderName) != 0
                         : wanted == mount.point || HoldsPoint(wanted, mount.point)) {
      return true;
    }
  }
  return false;
}

std::vector<std::string> SearchPath::List(const String& folder) const {
  RXM::Status why;
  return List(folder, why);
}

std::vector<std::string> SearchPath::List(const String& folder, RXM::Status& why) const {
  std::vector<std::string> names;
  for (RXM::ListedName& listed : ListKinds(folder, why)) {
    names.push_back(std::move(listed.name));
  }
  return names;
}

std::vector<RXM::ListedName> SearchPath::ListKinds(const String& folder, RXM::Status& why) const {
  const std::string wanted = folder.GetText();
  why = RXM::Status::Ok();
  if (!wanted.empty() && !IsSafe(wanted.c_str())) {
    why = Refused(Current()->Shown(), wanted);
    return {};
  }
  RXM::Listing names;
  const std::shared_ptr<const Mounts> mounts = Current();  // held while listing
  for (const Mounts::Mount& mount : mounts->order) {
    const char* below = Below(wanted.c_str(), mount.point);
    if (below != nullptr) {
      mount.files->List(below, names);
    } else if (wanted == mount.point) {
      mount.files->List("", names);
    } else if (HoldsPoint(wanted, mount.point)) {
      // The mount point lies below `folder`: its next component is a folder.
      const std::size_t from = wanted.empty() ? 0 : wanted.size() + 1;
      names[mount.point.substr(from, mount.point.find('/', from) - from)] |= RXM::kFolderName;
    }
  }
  std::vector<RXM::ListedName> listed;
  listed.reserve(names.size());
  for (const auto& [name, kinds] : names) {
    listed.push_back(
        RXM::ListedName{name, (kinds & RXM::kFileName) != 0, (kinds & RXM::kFolderName) != 0});
  }
  return listed;
}
