#include "mount/MountLayer.h"

#include <algorithm>
#include <string_view>

#include "backends/System.h"
#include "files/SafeName.h"
#include "files/Text.h"
#include "files/Url.h"
#include "multifile/ArchiveCore.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ArchiveSums.h"
#include "searchpath/SearchPathWalk.h"
#include "searchpath/SourceKind.h"
#include "support/OpenedArchive.h"

namespace kymf {
namespace mount {
namespace {

// The modification time of `path` in seconds since 1970; 0 when unknown.
std::int64_t TimeOf(const std::string& path) {
  RXM::sys::FileInfo info;
  return RXM::sys::System::Default().inspect(path.c_str(), &info) == 0 ? info.modified / 1000000000
                                                                       : 0;
}

// A KYMF archive opened once, with the later volumes of its set
// (multifile/VolumeSet.h): their directories give the tree, and each file is
// read with positional reads through the handle its streams share, which
// stays on the file that was opened even when another one takes its name.
class ArchiveLayer : public MountLayer {
 public:
  // A URL is read through an HttpFile, with the options of the environment.
  // With `checkSums`, the sums file beside each volume is read (none:
  // nothing is checked), and each file is read whole and held to its sum
  // when opened.
  bool Open(const std::string& path, bool checkSums, RXM::Status& status) {
    std::vector<std::string> files{path};
    volumes.push_back(std::make_unique<Volume>());
    status = volumes.back()->Open(path, checkSums);  // reached before any probe
    if (status.IsOk()) {
      status = ListVolumes(path, &files);
    }
    for (std::size_t i = 1; i < files.size() && status.IsOk(); ++i) {
      volumes.push_back(std::make_unique<Volume>());
      status = volumes.back()->Open(files[i], checkSums);
    }
    return status.IsOk();
  }

  // The last volume first and, in each, the last record first: of equal
  // names the last is the one the set finds. A file's key is its record's
  // index across the set.
  void AddTo(MountTreeBuilder& builder, std::uint16_t index, LayerReport& report) override {
    std::uint32_t first = 0;
    for (const std::unique_ptr<Volume>& volume : volumes) {
      volume->first = first;
      first += static_cast<std::uint32_t>(volume->archive->Directory().GetCount());
    }
    records.assign(first, nullptr);
    builder.Reserve(records.size());
    for (auto volume = volumes.rbegin(); volume != volumes.rend(); ++volume) {
      (*volume)->AddTo(builder, index, report, records);
    }
  }

  // The record itself, no lookup: the archive's rule refuses an entry whose
  // bytes are not its own. With sums, its name finds this very record (the
  // last of its equals, the one the tree holds).
  Pointer<KYFile> Open(std::uint32_t source, RXM::Status& why) const override {
    const Volume& volume = VolumeOf(source);
    const MultiFileElement& element = *records[source];
    why = volume.archive->Readable(element);
    if (why.IsOk()) {
      why = volume.archive->CheckEntrySum(volume.sums.get(), element.name);  // Ok without sums
    }
    return why.IsOk() ? volume.archive->OpenEntry(element, &why) : nullptr;
  }

  bool OpensForEachRead() const override {
    return std::all_of(volumes.begin(), volumes.end(), [](const std::unique_ptr<Volume>& volume) {
      return !volume->sums && !volume->emptyRefused;
    });
  }

  std::uint64_t GetBytes() const override {
    std::uint64_t bytes = 0;
    for (const std::unique_ptr<Volume>& volume : volumes) {
      bytes += static_cast<std::uint64_t>(volume->archive->Size());
    }
    return bytes;
  }

  RXM::Status GetReadFailure() const override {
    for (const std::unique_ptr<Volume>& volume : volumes) {
      if (!volume->remoteFile.IsNull() && !volume->remoteFile->GetReadFailure().IsOk()) {
        return volume->remoteFile->GetReadFailure();
      }
    }
    return RXM::Status::Ok();
  }

 private:
  struct Volume {
    RXM::Status Open(const std::string& path, bool checkSums) {
      const bool remote = RXM::IsRemoteUrl(path.c_str());
      remoteFile = Pointer<HttpFile>(remote ? new HttpFile() : nullptr);
      RXM::Status why;
      bool reached = false;
      archive = RXM::multifile::ArchiveCore::Open(RXM::sys::System::Default(),
                                                  Pointer<KYFile>(remoteFile), path, why, reached);
      if (!archive) {
        return why;
      }
      RXM::Status loaded = checkSums ? archive->LoadSums(&sums) : RXM::Status::Ok();
      if (!loaded.IsOk() && !RXM::IsNoSumsFile(loaded)) {
        return loaded;
      }
      time = remote ? 0 : TimeOf(path);
      return RXM::Status::Ok();
    }
    void AddTo(MountTreeBuilder& builder, std::uint16_t index, LayerReport& report,
               std::vector<const MultiFileElement*>& byKey) {
      const PointerArray<MultiFileElement>& directory = archive->Directory();
      for (int i = directory.GetCount() - 1; i >= 0; --i) {
        const MultiFileElement* element = directory.Peek(i);
        if (element == nullptr) {
          continue;
        }
        const std::string_view name(element->name);
        if (RXM::CheckSafeName(name.data(), name.size()) != RXM::NameFault::kNone) {
          ++report.unsafe;
          continue;
        }
        const std::uint32_t key = first + static_cast<std::uint32_t>(i);
        byKey[key] = element;
        const std::uint32_t size = RXM::multifile::EntrySize(*element);
        builder.AddFile(name, size, index, key, time);
        // No read ever comes for an empty file, so only an open can refuse it.
        emptyRefused = emptyRefused || (size == 0 && !archive->Readable(*element).IsOk());
      }
    }
    Pointer<HttpFile> remoteFile;  // what a URL is read through
    std::shared_ptr<const RXM::multifile::ArchiveCore> archive;
    std::shared_ptr<const RXM::SumsTable> sums;  // null: nothing is checked
    std::int64_t time = 0;
    std::uint32_t first = 0;    // the key of its first record
    bool emptyRefused = false;  // an empty file whose record the archive refuses
  };
  const Volume& VolumeOf(std::uint32_t key) const {
    std::size_t volume = volumes.size() - 1;
    while (volume > 0 && volumes[volume]->first > key) {
      --volume;
    }
    return *volumes[volume];
  }

  std::vector<std::unique_ptr<Volume>> volumes;
  std::vector<const MultiFileElement*> records;  // by key, held by the directories
};

// A folder or a Windows module, read through a search path of its own, so
// that names are checked, and files and folders told apart, exactly as
// SearchPath does (a link is neither: the search path never follows one).
class SearchPathLayer : public MountLayer {
 public:
  explicit SearchPathLayer(std::int64_t modified) : time(modified) {}

  // False with the search path's reason in `why`.
  bool Mount(const std::string& source, bool checkSums, RXM::Status& why) {
    path.SetCheckSums(checkSums);
    return path.Mount(source.c_str(), "", true, why);
  }

  void AddTo(MountTreeBuilder& builder, std::uint16_t index, LayerReport& report) override {
    Walk("", builder, index, report);
  }

  // A file's key is its place in `names`.
  Pointer<KYFile> Open(std::uint32_t source, RXM::Status& why) const override {
    return path.Open(names[source].c_str(), why);
  }

  std::uint64_t GetBytes() const override { return 0; }  // counted by the tree's file sizes

 private:
  // The search path's one walk: a file its source refuses is left out, as
  // is a name that is no safe path (counted).
  void Walk(const std::string& folder, MountTreeBuilder& builder, std::uint16_t index,
            LayerReport& report) {
    RXM::WalkSearchPath(path, folder, [&](const RXM::PathEntry& entry) {
      switch (entry.kind) {
        case RXM::PathKind::kUnsafeName:
          ++report.unsafe;
          break;
        case RXM::PathKind::kFile:
          builder.AddFile(entry.name, static_cast<std::uint64_t>(entry.size), index,
                          static_cast<std::uint32_t>(names.size()), time);
          names.push_back(entry.name);
          break;
        case RXM::PathKind::kFolder:
          builder.AddFolder(entry.name, index, time);
          return true;
        case RXM::PathKind::kRefusedFile:
          break;
      }
      return false;
    });
  }

  SearchPath path;
  std::vector<std::string> names;  // the files' names, by key
  std::int64_t time;
};

}  // namespace

bool IsRemote(const std::string& text) {
  return RXM::IsRemoteUrl(text.c_str());
}

std::unique_ptr<MountLayer> OpenArchiveSource(const std::string& text, RXM::Status& status,
                                              bool checkSums) {
  auto layer = std::make_unique<ArchiveLayer>();
  if (!layer->Open(text, checkSums, status)) {
    return nullptr;
  }
  return layer;
}

// What the source is, the search path's one decision; an archive (or a set)
// gets a layer of its own, built from its directories, a folder or a module
// one over a search path.
std::unique_ptr<MountLayer> OpenPathSource(const std::string& text, RXM::Status& status,
                                           bool checkSums) {
  RXM::SourceKind kind = RXM::SourceKind::kArchive;
  if (!RXM::IdentifySource(text, RXM::sys::System::Default(), &kind, status)) {
    return nullptr;
  }
  if (kind == RXM::SourceKind::kArchive) {
    return OpenArchiveSource(text, status, checkSums);
  }
  // A folder by its absolute path: the mount runs from "/" once in the
  // background.
  std::string source = text;
  if (kind == RXM::SourceKind::kFolder) {
    const int error = RXM::sys::MakeAbsolute(RXM::sys::System::Default(), text, &source);
    if (error != 0) {
      status = RXM::Status(
          RXM::ErrorCode::kCannotOpen,
          text + ": the current folder cannot be named (" + RXM::SystemReason(error) + ")", error);
      return nullptr;
    }
  }
  auto layer = std::make_unique<SearchPathLayer>(TimeOf(text));
  RXM::Status why;
  if (!layer->Mount(source, checkSums, why)) {
    status = kind == RXM::SourceKind::kFolder
                 ? RXM::Status(RXM::ErrorCode::kCannotOpen,
                               text + ": the folder cannot be read (" + why.GetText() + ")",
                               why.GetSystemError())
                 : why;  // the module reader says what it is not, naming the source
    return nullptr;
  }
  status = RXM::Status::Ok();
  return layer;
}

MountedFiles Assemble(std::vector<std::unique_ptr<MountLayer>> layers) {
  MountedFiles files;
  MountTreeBuilder builder;
  for (std::size_t i = 0; i < layers.size(); ++i) {
    layers[i]->AddTo(builder, static_cast<std::uint16_t>(i), files.report);
  }
  files.layers = std::move(layers);
  files.tree = builder.Build();
  files.report.conflicts = files.tree.GetConflicts();
  files.opensForEachRead = std::all_of(
      files.layers.begin(), files.layers.end(),
      [](const std::unique_ptr<MountLayer>& layer) { return layer->OpensForEachRead(); });
  for (const std::unique_ptr<MountLayer>& layer : files.layers) {
    files.sourceBytes += layer->GetBytes();
  }
  if (files.sourceBytes < files.tree.GetFileBytes()) {
    files.sourceBytes = files.tree.GetFileBytes();
  }
  return files;
}

}  // namespace mount
}  // namespace kymf
