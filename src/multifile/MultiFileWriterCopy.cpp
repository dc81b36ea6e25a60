#include "multifile/MultiFileWriter.h"

#include <cerrno>

#include "backends/DiskFile.h"
#include "backends/System.h"
#include "files/Failure.h"
#include "multifile/ArchiveCore.h"
#include "multifile/ArchiveWriter.h"
#include "multifile/MultiFileWriterEntries.h"

using RXM::ErrorCode;

// Kept entries are copied from the old file at their own offsets, inside the
// kernel where it can; added inputs must still hold exactly the bytes
// measured: all of them read, and nothing after them.
class MultiFileWriter::Copier : public RXM::multifile::ArchiveWriter::Source {
 public:
  explicit Copier(MultiFileWriter& owner) : writer(owner) {}
  ~Copier() override {
    if (old != RXM::sys::kNoHandle) {
      writer.system->closeHandle(old);
    }
  }
  Copier(const Copier&) = delete;
  Copier& operator=(const Copier&) = delete;

  bool Append(std::size_t planned, std::uint32_t size, RXM::multifile::ArchiveWriter& to) override {
    const bool copied = planned < writer.kept.size()
                            ? CopyKept(writer.kept[planned], size, to)
                            : CopyAdded(writer.entries[planned - writer.kept.size()], to);
    if (copied) {
      writer.Progress(static_cast<int>(planned) + 1);
    }
    return copied;
  }

 private:
  bool CopyKept(const Kept& entry, std::uint32_t size, RXM::multifile::ArchiveWriter& to) {
    if (old == RXM::sys::kNoHandle) {
      // The file whose directory was read, not the name opened again.
      errno = 0;
      old = writer.existing->Duplicate();
      if (old == RXM::sys::kNoHandle) {
        return writer.FailSystem(ErrorCode::kReadFailed, "cannot be read", errno);
      }
    }
    return to.CopyRange(old, static_cast<std::uint64_t>(entry.record.dataStart), size);
  }

  bool CopyAdded(const Entry& entry, RXM::multifile::ArchiveWriter& to) {
    if (entry.source.IsNull() && !entry.diskFile) {
      return to.WriteData(entry.bytes.data(), entry.size);
    }
    chunk.resize(writer.chunkSize);
    const Pointer<KYFile> source =
        entry.diskFile ? Pointer<KYFile>(new DiskFile(*writer.system)) : entry.source;
    errno = 0;
    if (!source->OpenFile(entry.inputName, "rb")) {
      return writer.FailSystem(
          ErrorCode::kInputChanged,
          std::string("could not copy ") + entry.inputName.GetText() + " (changed or unreadable)",
          errno);
    }
    std::uint8_t extra = 0;
    const bool copied =
        to.CopyData(*source, entry.size, chunk) && source->ReadData(&extra, 1, 1) == 0;
    source->CloseFile();
    if (!copied && !to.Failed()) {
      writer.Fail(
          ErrorCode::kInputChanged,
          std::string("could not copy ") + entry.inputName.GetText() + " (changed or unreadable)");
    }
    return copied;
  }

  MultiFileWriter& writer;
  RXM::sys::Handle old = RXM::sys::kNoHandle;
  std::vector<std::uint8_t> chunk;
};

bool MultiFileWriter::Write(RXM::multifile::ArchiveWriter& writer) {
  Copier copier(*this);
  std::vector<RXM::multifile::ArchiveWriter::Planned> plan;
  plan.reserve(kept.size() + entries.size());
  std::uint64_t total = 0;
  for (const Kept& entry : kept) {
    plan.push_back({entry.record, entry.size, &copier});
    total += entry.size;
  }
  for (const Entry& entry : entries) {
    plan.push_back({RXM::multifile::NewRecord(entry.name.c_str()), entry.size, &copier});
    total += entry.size;
  }
  if (byteProgress != nullptr) {
    writer.SetOnData(
        [this, total](std::uint64_t done) { byteProgress(done, total, byteProgressContext); });
  }
  using Outcome = RXM::multifile::ArchiveWriter::Outcome;
  const Outcome outcome = writer.Write(plan);
  if (outcome == Outcome::kWritten) {
    return true;
  }
  if (outcome == Outcome::kNotCreated) {
    return FailSystem(ErrorCode::kWriteFailed,
                      std::string("cannot create ") + writer.TemporaryName().GetText(),
                      writer.GetError());
  }
  const int error = writer.GetError();
  writer.Discard();
  if (outcome == Outcome::kSourceFailed) {
    return false;
  }
  return error != 0
             ? FailSystem(ErrorCode::kWriteFailed, "could not write the new archive", error)
             : Fail(ErrorCode::kWriteFailed, "could not write the new archive (is the disk full?)");
}

void MultiFileWriter::Progress(int done) const {
  if (progress != nullptr) {
    progress(done, static_cast<int>(kept.size() + entries.size()), progressContext);
  }
}
