#include "backends/DiskFile.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "backends/SystemCalls.h"
#include "files/Registration.h"

// One stream shared by a DiskFile and its copies. `filePointer` is null once
// any holder has closed it, so no holder can close it twice or use it after
// the close. `finished` marks a stream whose fclose reported failure: the C
// runtime has let it go, so it must not be touched again.
struct DiskFile::Stream {
  std::FILE* filePointer;
  int holders;
  bool finished;
};

DiskFile::DiskFile() : stream(nullptr) {}

DiskFile::DiskFile(const DiskFile& other) : BaseObject(other), KYFile(other), stream(nullptr) {
  Hold(other.stream);
}

DiskFile& DiskFile::operator=(const DiskFile& other) {
  if (this == &other || stream == other.stream) {
    return *this;
  }
  KYFile::operator=(other);
  Stream* shared = other.stream;
  LetGo();
  Hold(shared);
  return *this;
}

DiskFile::~DiskFile() {
  DiskFile::CloseFile();
  LetGo();
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

void DiskFile::Hold(Stream* shared) {
  stream = shared;
  if (stream != nullptr) {
    ++stream->holders;
  }
}

// The last holder of a stream that is still open closes it, so that opening
// another file on an object, or assigning over it, never leaks a stream.
void DiskFile::LetGo() {
  if (stream == nullptr) {
    return;
  }
  if (--stream->holders == 0) {
    if (stream->filePointer != nullptr && !stream->finished) {
      RXM::sys::Calls().close(stream->filePointer);
    }
    delete stream;
  }
  stream = nullptr;
}

std::FILE* DiskFile::Usable() const {
  if (stream == nullptr || stream->finished) {
    return nullptr;
  }
  return stream->filePointer;
}

bool DiskFile::OpenFile(String name, String mode) {
  std::FILE* opened = RXM::sys::Calls().open(name.GetText(), mode.GetText());
  LetGo();
  if (opened == nullptr) {
    return false;
  }
  stream = new Stream{opened, 1, false};
  return true;
}

bool DiskFile::CloseFile() {
  if (stream == nullptr || stream->filePointer == nullptr) {
    return false;
  }
  if (stream->finished) {
    stream->filePointer = nullptr;
    return true;
  }
  if (RXM::sys::Calls().close(stream->filePointer) != 0) {
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
  return static_cast<unsigned int>(std::fread(buffer, size, count, file));
}

unsigned int DiskFile::WriteData(const void* buffer, unsigned int size, unsigned int count) {
  std::FILE* file = Usable();
  if (file == nullptr) {
    return 0;
  }
  return static_cast<unsigned int>(RXM::sys::Calls().write(buffer, size, count, file));
}

// Goes to the end and comes back by a move relative to the end, not by an
// absolute seek to the old position; the seeks' results are not used.
unsigned int DiskFile::GetFileSize() {
  std::FILE* file = Usable();
  if (file == nullptr) {
    return 0;
  }
  const long old = std::ftell(file);
  (void)std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  (void)std::fseek(file, old - size, SEEK_CUR);
  return static_cast<std::uint32_t>(size);
}

bool DiskFile::EndOfFile() {
  std::FILE* file = Usable();
  return file != nullptr && std::feof(file) != 0;
}

bool DiskFile::Seek(long offset, int origin) {
  std::FILE* file = Usable();
  return file != nullptr && std::fseek(file, offset, origin) == 0;
}

long DiskFile::GetPosition() {
  std::FILE* file = Usable();
  if (file == nullptr) {
    return -1;
  }
  const long position = std::ftell(file);
  return position > INT32_MAX ? -1 : position;
}

std::FILE* DiskFile::GetFilePointer() {
  return Usable();
}
