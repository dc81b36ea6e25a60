#include "backends/ResourceFile.h"

#include <cstring>
#include <memory>

#if defined(_WIN32)
#include <windows.h>  // the Win32 resource calls
#endif

#include "backends/ResourceBytes.h"
#include "files/BoundedStream.h"
#include "files/MemorySource.h"
#include "files/Registration.h"

namespace {

constexpr std::size_t kNameBuffer = 260;

}  // namespace

const RXM::StreamPolicy ResourceFile::kPolicy = {
    RXM::ZeroSizeItems::kAllFit, RXM::UnknownOrigin::kIgnored, RXM::WhenClosed::kLastSizeNotAtEnd,
    RXM::ShortRead::kCounted};

ResourceFile::ResourceFile() : stream(kPolicy) {}

// Member by member: a copy reads the same resource from its own position.
ResourceFile::ResourceFile(const ResourceFile& other) = default;

ResourceFile& ResourceFile::operator=(const ResourceFile& other) = default;

ResourceFile::~ResourceFile() {
  ResourceFile::CloseFile();
}

const RTTIClass* ResourceFile::GetClass() const {
  return &rtti_for_ResourceFile;
}

void* ResourceFile::FindInterface(const char* name) const {
  return RXM::AnswerFileInterface(this, name, "ResourceFile");
}

void* ResourceFile::rtti_CreateResourceFile(const char* interfaceName) {
  return RXM::CreateRegistered<ResourceFile>(interfaceName);
}

bool ResourceFile::rtti_ImplementsInterfaceResourceFile(const char* interfaceName) {
  return RXM::ImplementsRegistered<ResourceFile>(interfaceName);
}

void ResourceFile::SetModule(HINSTANCE newModule) {
  module = newModule;
}

// The name and type share one 260-byte working buffer, split at the first line
// feed; a longer text would not fit, so it is refused rather than cut, which
// could name another resource.
bool ResourceFile::OpenFile(String name, String) {
  CloseFile();
  if (static_cast<std::size_t>(name.GetLength()) >= kNameBuffer) {
    return false;
  }
  char buffer[kNameBuffer];
  std::memcpy(buffer, name.GetText(), static_cast<std::size_t>(name.GetLength()) + 1);
  const char* type = "";
  if (char* lineFeed = std::strchr(buffer, '\n')) {
    *lineFeed = '\0';
    type = lineFeed + 1;
  }
  foundResource = FindResourceA(module, buffer, type);
  if (foundResource == nullptr) {
    return false;
  }
  loadedResource = LoadResource(module, foundResource);
  if (loadedResource == nullptr) {
    return false;
  }
  const auto size = static_cast<std::uint32_t>(SizeofResource(module, foundResource));
  const auto* data = static_cast<const std::uint8_t*>(LockResource(loadedResource));
#if defined(_WIN32)
  // A resource whose recorded size runs past what the module holds would be
  // read out of bounds: it is not opened.
  if (data != nullptr && !RXM::ResourceBytesReadable(data, size)) {
    data = nullptr;
  }
#endif
  // Closed again at once when the bytes cannot be reached: the size and
  // position are the new resource's all the same.
  bytes = std::make_shared<const RXM::MemorySource>(nullptr, data, size);
  stream->Open(bytes.get(), 0, size);
  if (data == nullptr) {
    stream->Close();
    FreeResource(loadedResource);
  }
  return data != nullptr;
}

bool ResourceFile::CloseFile() {
  if (!IsFileOpened()) {
    return false;
  }
  FreeResource(loadedResource);
  stream->Close();
  return true;
}

bool ResourceFile::IsFileOpened() {
  return stream->IsOpen();
}

unsigned int ResourceFile::ReadData(void* buffer, unsigned int size, unsigned int count) {
  return stream->Read(buffer, size, count);
}

unsigned int ResourceFile::WriteData(const void*, unsigned int, unsigned int) {
  return 0;
}

unsigned int ResourceFile::GetFileSize() {
  return stream->Size();
}

bool ResourceFile::EndOfFile() {
  return stream->AtEnd();
}

bool ResourceFile::Seek(long offset, int origin) {
  return stream->Seek(offset, origin);
}

long ResourceFile::GetPosition() {
  return stream->Position();
}
