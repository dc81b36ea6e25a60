#include <cstdint>
#include <memory>

#include "framework/Exception.h"
#include "multifile/ArchiveInsertion.h"
#include "multifile/MultiFile.h"

// The one way an insertion reaches this object: through these calls, never
// its state. What the insertion reports is kept here, and thrown here.
class MultiFile::InsertionView final : public RXM::ArchiveInsertion::Archive {
 public:
  explicit InsertionView(MultiFile& target) : archive(target) {}

  const String& Name() const override { return archive.archiveName; }
  KYFile* File() const override { return archive.archiveFile.Get(); }
  RXM::sys::System& System() const override { return *archive.system; }
  const PointerArray<MultiFileElement>& Directory() const override {
    return archive.GetDirectory();
  }
  KYFile& Entries() override { return archive; }
  bool OpenEntryAt(std::int32_t index) override {
    return archive.OpenElement(archive.GetDirectory().Peek(index));
  }
  void Close() override { archive.CloseMultiFile(); }
  bool Reopen(Pointer<KYFile> file) override {
    const String name = archive.archiveName;
    return archive.OpenMultiFile(file, name);
  }

 private:
  MultiFile& archive;
};

bool MultiFile::InsertFile(Pointer<KYFile> source, const String& inputName, String entryName) {
  InsertionView view(*this);
  RXM::ArchiveInsertion insertion(view);
  const bool inserted = insertion.Run(source, inputName, entryName);
  const RXM::ArchiveInsertion::Failed* failure = insertion.GetFailure();
  if (failure == nullptr) {
    return inserted;  // the status is the reopening's
  }
  status = failure->why;
  if (!failure->thrown.empty()) {
    throw new Exception("%s", failure->thrown.c_str());  // NOLINT: thrown as a new object
  }
  return false;
}
