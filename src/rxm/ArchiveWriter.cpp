#include "rxm/ArchiveWriter.hpp"

#include <cstdint>
#include <string>
#include <utility>

#include "files/Failure.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/MultiFileWriter.h"
#include "rxm/Error.hpp"
#include "rxm/NameText.h"

namespace rxm {

struct ArchiveWriter::Impl {
  Impl(std::string path, bool keepExisting)
      : archive(std::move(path)), writer(archive.c_str(), keepExisting) {}

  // Throws unless `name` may be stored as an entry's name (the writer's own
  // rule, asked now since the name would lose what follows a NUL on its way).
  void CheckName(std::string_view name) const {
    const RXM::Status why =
        RXM::multifile::CheckEntryName(name.data(), name.size(), archive + ": " + Shown(name));
    if (!why.IsOk()) {
      throw Error(why);
    }
  }
  // Throws kNoSuchEntry for a kept name holding a NUL, which no record holds.
  void CheckKept(std::string_view name) const {
    if (HoldsNul(name)) {
      throw Error(RXM::Failure(RXM::ErrorCode::kNoSuchEntry, archive + ": " + Shown(name)));
    }
  }
  // Throws the writer's reason unless `done`.
  void Check(bool done) const {
    if (!done) {
      throw Error(writer.GetStatus());
    }
  }

  std::string archive;
  MultiFileWriter writer;
};

ArchiveWriter::ArchiveWriter(std::filesystem::path archive, bool keepExisting)
    : impl(std::make_unique<Impl>(archive.string(), keepExisting)) {}

ArchiveWriter::~ArchiveWriter() = default;

void ArchiveWriter::add_file(std::string_view name, const std::filesystem::path& from) {
  impl->CheckName(name);
  impl->writer.AddFile(std::string(name).c_str(), from.string().c_str());
}

void ArchiveWriter::add_bytes(std::string_view name, const void* data, std::size_t size) {
  impl->CheckName(name);
  if (size > static_cast<std::uint64_t>(RXM::multifile::kLargestArchive)) {
    throw Error(RXM::Failure(RXM::ErrorCode::kTooLarge, impl->archive));
  }
  // No bytes may come as a null pointer, which the writer must not offset.
  impl->writer.AddBytes(std::string(name).c_str(), size == 0 ? "" : data,
                        static_cast<std::uint32_t>(size));
}

void ArchiveWriter::remove(std::string_view name) {
  impl->CheckKept(name);
  impl->Check(impl->writer.RemoveExisting(std::string(name).c_str()));
}

void ArchiveWriter::rename(std::string_view from, std::string_view to) {
  impl->CheckKept(from);
  impl->CheckName(to);
  impl->Check(impl->writer.RenameExisting(std::string(from).c_str(), std::string(to).c_str()));
}

void ArchiveWriter::replace_existing(bool replace) {
  impl->writer.SetReplaceExisting(replace);
}

void ArchiveWriter::allow_empty(bool allow) {
  impl->writer.SetAllowEmpty(allow);
}

void ArchiveWriter::commit() {
  impl->Check(impl->writer.Commit());
}

}  // namespace rxm
