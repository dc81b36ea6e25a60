#include "backends/DiskFile.h"

#include <cstdint>
#include <cstring>

#include "backends/System.h"
#include "files/Registration.h"

// One stream shared by a DiskFile and its copies. `filePointer` is null once
// any holder has closed it, so no holder can close it twice or use it after
// the close. `finished` marks a stream whose fclose reported failure: the C
// runtime has let it go, so it must not be touched again.
struct DiskFile::Stream {
  Stream(std::FILE* opened, RXM::sys::System& calls) : filePointer(opened), system(calls) {}
  ~Stream() {
    if (filePointer != nullptr && !finished) {
      system.close(filePointer);
    }
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  std::FILE* filePointer;
  RXM::sys::System& system;
  bool finished = false;
};

DiskFile::DiskFile() = default;

// A stream with no file yet, so that the System stays with the object.
DiskFile::DiskFile(RXM::sys::System& system) : stream(std::make_shared<Stream>(nullptr, system)) {}

DiskFile::DiskFile(const DiskFile& other)
    : BaseObject(other), KYFile(other), stream(other.stream) {}

DiskFile& DiskFile::operator=(const DiskFile& other) {
  if (this == &other || stream == other.stream) {
    return *this;
  }
  KYFile::operator=(other);
  stream = other.stream;
  return *this;
}

DiskFile::~DiskFile() {
  DiskFile::CloseFile();
}

const RTTIClass* DiskFile::GetClass() const {
  return &rtti_for_DiskFile;
}

void* DiskFile::FindInterface(const char* name) const {
  return RXM::AnswerFileInterface(this, name, "DiskFile");
}

void* DiskFile::rtti_CreateDiskFile(const char* interfaceName) {
  return RXM::CreateRegistered<DiskFile>(interfaceName);
}

bool DiskFile::rtti_ImplementsInterfaceDiskFile(const char* interfaceName) {
  return RXM::ImplementsRegistered<DiskFile>(interfaceName);
}

std::FILE* DiskFile::Usable() const {
  if (stream == nullptr || stream->finished) {
    return nullptr;
  }
  return stream->filePointer;
}

RXM::sys::System& DiskFile::Calls() const {
  return stream == nullptr ? RXM::sys::System::Default() : stream->system;
}

// A failed open keeps a System of its own in a stream with no file.
bool DiskFile::OpenFile(String name, String mode) {
  RXM::sys::System& system = Calls();
  std::FILE* opened = system.open(name.GetText(), mode.GetText());
  stream.reset();
  if (opened != nullptr || &system != &RXM::sys::System::Default()) {
    stream = std::make_shared<Stream>(opened, system);
  }
  return opened != nullptr;
}

bool DiskFile::CloseFile() {
  if (stream == nullptr || stream->filePointer == nullptr) {
    return false;
  }
  if (stream->finished) {
    stream->filePointer = nullptr;
    return true;
  }
  if (stream->system.close(stream->filePointer) != 0) {
    stream->finished = true;
    return false;
  }
  stream->filePointer = nullptr;
  return true;
}

bool DiskFile::IsFileOpened() {
  return stream != nullptr && stream->filePointer != nullptr;
}

unsigned int DiskFile::ReadData(void* buffer, unsigned int size, unsigned int count) {
  std::FILE* file = Usable();
  if (file == nullptr) {
    return 0;
  }
  return static_cast<unsigned int>(Calls().read(buffer, size, count, file));
}

unsigned int DiskFile::WriteData(const void* buffer, unsigned int size, unsigned int count) {
  std::FILE* file = Usable();
  if (file == nullptr) {
    return 0;
  }
  return static_cast<unsigned int>(Calls().write(buffer, size, count, file));
}

// Goes to the end and comes back by a move relative to the end, not by an
// absolute seek to the old position; the seeks' results are not used.
unsigned int DiskFile::GetFileSize() {
  std::FILE* file = Usable();
  if (file == nullptr) {
    return 0;
  }
  RXM::sys::System& calls = Calls();
  const std::int64_t old = calls.tell(file);
  (void)calls.seek(file, 0, SEEK_END);
  const std::int64_t size = calls.tell(file);
  (void)calls.seek(file, old - size, SEEK_CUR);
  return static_cast<std::uint32_t>(size);
}

bool DiskFile::EndOfFile() {
  std::FILE* file = Usable();
  return file != nullptr && std::feof(file) != 0;
}

bool DiskFile::Seek(long offset, int origin) {
  std::FILE* file = Usable();
  return file != nullptr && Calls().seek(file, offset, origin) == 0;
}

long DiskFile::GetPosition() {
  std::FILE* file = Usable();
  if (file == nullptr) {
    return -1;
  }
  const std::int64_t position = Calls().tell(file);
  return position > INT32_MAX ? -1 : static_cast<long>(position);
}

std::FILE* DiskFile::GetFilePointer() {
  return Usable();
}
