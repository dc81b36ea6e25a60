#include "rxm/Archive.hpp"

#include <cerrno>
#include <utility>

#include "backends/HttpFile.h"
#include "files/Url.h"
#include "multifile/ArchiveCore.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ArchiveSums.h"
#include "rxm/Error.hpp"
#include "rxm/NameText.h"
#include "rxm/StreamImpl.h"

namespace rxm {
struct Archive::Impl {
  std::shared_ptr<const RXM::multifile::ArchiveCore> archive;
  std::shared_ptr<const RXM::SumsTable> sums;  // once check_sums read them
  Pointer<HttpFile> remote;                    // what an archive at a URL is read through
};

Archive::Archive(std::unique_ptr<Impl> opened) : impl(std::move(opened)) {}
Archive::Archive(Archive&& other) noexcept = default;
Archive& Archive::operator=(Archive&& other) noexcept = default;
Archive::~Archive() = default;

Archive Archive::open(std::string_view pathOrUrl) {
  const std::string path(pathOrUrl);
  if (HoldsNul(pathOrUrl)) {
    throw Error(RXM::OpenFailure(Shown(pathOrUrl), EINVAL));
  }
  auto opened = std::make_unique<Impl>();
  // A URL is read through an HttpFile, as a search path reads it.
  if (RXM::IsRemoteUrl(path.c_str())) {
    opened->remote = Pointer<HttpFile>(new HttpFile());
  }
  RXM::Status why;
  bool reached = false;
  opened->archive = RXM::multifile::ArchiveCore::Open(
      RXM::sys::System::Default(), Pointer<KYFile>(opened->remote), path, why, reached);
  if (!opened->archive) {
    throw Error(why);
  }
  return Archive(std::move(opened));
}

const Archive::Impl& Archive::Opened() const {
  if (!impl) {
    throw Error(RXM::ErrorCode::kNotOpen,
                std::string("archive: ") + RXM::Describe(RXM::ErrorCode::kNotOpen));
  }
  return *impl;
}

std::size_t Archive::size() const {
  return impl ? static_cast<std::size_t>(impl->archive->Directory().GetCount()) : 0;
}

Entry Archive::at(std::size_t index) const {
  const PointerArray<MultiFileElement>& directory = Opened().archive->Directory();
  if (index >= size()) {
    throw Error(impl->archive->Explain(RXM::ErrorCode::kNoSuchEntry,
                                       ("#" + std::to_string(index)).c_str(), nullptr));
  }
  const MultiFileElement& record = *directory.Peek(static_cast<int>(index));
  return Entry{record.name, RXM::multifile::EntrySize(record),
               static_cast<std::uint32_t>(record.dataStart)};
}

std::optional<Entry> Archive::find(std::string_view name) const {
  const Impl& opened = Opened();
  if (HoldsNul(name)) {
    return std::nullopt;
  }
  RXM::ErrorCode code = RXM::ErrorCode::kOk;
  const MultiFileElement* record = opened.archive->Find(std::string(name).c_str(), code);
  if (record == nullptr) {
    return std::nullopt;
  }
  return Entry{record->name, RXM::multifile::EntrySize(*record),
               static_cast<std::uint32_t>(record->dataStart)};
}

Stream Archive::open_entry(std::string_view name) const {
  const Impl& opened = Opened();
  if (HoldsNul(name)) {  // no record holds a NUL: say so for the whole name
    throw Error(
        opened.archive->Explain(RXM::ErrorCode::kNoSuchEntry, Shown(name).c_str(), nullptr));
  }
  RXM::Status why;
  const std::string wanted(name);
  RXM::ErrorCode code = RXM::ErrorCode::kOk;
  const MultiFileElement* record = opened.archive->Find(wanted.c_str(), code);
  why = opened.archive->Explain(code, wanted.c_str(), record);
  Pointer<KYFile> entry =
      code == RXM::ErrorCode::kOk ? opened.archive->OpenEntry(*record, &why) : nullptr;
  if (entry.IsNull()) {
    throw Error(why);
  }
  return Stream(
      std::make_unique<Stream::Impl>(std::move(entry), opened.remote, source() + ": " + wanted));
}

void Archive::CheckRead(std::string_view name, const void* data, std::size_t size) const {
  const Impl& opened = Opened();
  RXM::ErrorCode code = RXM::ErrorCode::kOk;
  const MultiFileElement* record = opened.archive->Find(std::string(name).c_str(), code);
  const RXM::Status summed =
      record == nullptr ? RXM::Status::Ok()
                        : opened.archive->CheckBytes(opened.sums.get(), *record, data, size);
  if (!summed.IsOk()) {
    throw Error(summed);
  }
}

std::vector<std::byte> Archive::read(std::string_view name) const {
  Stream entry = open_entry(name);
  std::vector<std::byte> bytes = ReadWhole<std::vector<std::byte>>(*entry.impl);
  CheckRead(name, bytes.data(), bytes.size());
  return bytes;
}

std::string Archive::read_text(std::string_view name) const {
  Stream entry = open_entry(name);
  std::string bytes = ReadWhole<std::string>(*entry.impl);
  CheckRead(name, bytes.data(), bytes.size());
  return bytes;
}

bool Archive::check_sums() {
  Opened();  // kNotOpen for a moved-from archive
  const RXM::Status loaded = impl->archive->LoadSums(&impl->sums);
  if (RXM::IsNoSumsFile(loaded)) {
    return false;
  }
  if (!loaded.IsOk()) {
    throw Error(loaded);
  }
  return true;
}

std::string Archive::source() const {
  return Opened().archive->Name();
}

}  // namespace rxm
