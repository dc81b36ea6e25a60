#include "multifile/ReplacementFile.h"

namespace RXM {

ReplacementFile::ReplacementFile(const String& targetName, sys::System& calls)
    : target(targetName), temporary(targetName + String(".tmp")), system(calls) {}

// An unfinished temporary file is closed with its DiskFile and left on disk;
// callers that must not leave it call Discard.
ReplacementFile::~ReplacementFile() = default;

bool ReplacementFile::Open() {
  file = new DiskFile(system);
  failed = false;
  return file->OpenFile(temporary, "wb");
}

bool ReplacementFile::Write(const void* data, std::uint32_t size) {
  if (failed || file.IsNull()) {
    return false;
  }
  if (size > 0 && file->WriteData(data, size, 1) != 1) {
    failed = true;
  }
  return !failed;
}

bool ReplacementFile::Finish() {
  if (file.IsNull() || !file->IsFileOpened()) {
    return false;
  }
  std::FILE* stream = file->GetFilePointer();
  if (!failed && (stream == nullptr || system.flush(stream) != 0 || system.sync(stream) != 0)) {
    failed = true;
  }
  if (!file->CloseFile()) {
    failed = true;
  }
  return !failed;
}

bool ReplacementFile::Replace() {
  if (system.replace(temporary.GetText(), target.GetText()) != 0) {
    return false;
  }
  // The new file is complete under the target's name whether or not the
  // directory reaches storage now; a failure here only means that a power
  // loss may bring back the old, equally complete, file.
  system.syncDirectoryOf(target.GetText());
  return true;
}

void ReplacementFile::Discard() {
  if (!file.IsNull()) {
    file->CloseFile();
    file = nullptr;
  }
  system.remove(temporary.GetText());
}

}  // namespace RXM
