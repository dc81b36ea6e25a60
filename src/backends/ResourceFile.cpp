#include "backends/ResourceFile.h"

#include <cstring>

#include "backends/ResourceBytes.h"
#include "files/Registration.h"

namespace {

constexpr std::size_t kNameBuffer = 260;

}  // namespace

ResourceFile::ResourceFile() = default;

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
  resourceSize = static_cast<std::uint32_t>(SizeofResource(module, foundResource));
  position = 0;
  data = static_cast<const std::uint8_t*>(LockResource(loadedResource));
#if defined(_WIN32)
  // A resource whose recorded size runs past what the module holds would be
  // read out of bounds: it is not opened.
  if (data != nullptr && !RXM::ResourceBytesReadable(data, resourceSize)) {
    data = nullptr;
  }
#endif
  if (data == nullptr) {
    FreeResource(loadedResource);
  }
  return data != nullptr;
}

bool ResourceFile::CloseFile() {
  if (!IsFileOpened()) {
    return false;
  }
  FreeResource(loadedResource);
  data = nullptr;
  return true;
}

bool ResourceFile::IsFileOpened() {
  return data != nullptr;
}

unsigned int ResourceFile::ReadData(void* buffer, unsigned int size, unsigned int count) {
  if (!IsFileOpened()) {
    return 0;
  }
  unsigned int copied = 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  for (; copied < count; ++copied) {
    if (static_cast<std::uint64_t>(position) + size > resourceSize) {
      break;
    }
    if (size > 0) {
      std::memcpy(out, data + position, size);
      out += size;
      position += static_cast<std::int32_t>(size);
    }
  }
  return copied;
}

unsigned int ResourceFile::WriteData(const void*, unsigned int, unsigned int) {
  return 0;
}

unsigned int ResourceFile::GetFileSize() {
  return resourceSize;
}

bool ResourceFile::EndOfFile() {
  return IsFileOpened() && static_cast<std::uint32_t>(position) == resourceSize;
}

bool ResourceFile::Seek(long offset, int origin) {
  if (!IsFileOpened()) {
    return false;
  }
  const std::int64_t size = resourceSize;
  std::int64_t target = 0;
  switch (origin) {
    case 0:
      target = offset;
      break;
    case 1:
      target = position + static_cast<std::int64_t>(offset);
      break;
    case 2:
      target = size + static_cast<std::int64_t>(offset);
      break;
    default:
      return true;
  }
  position = static_cast<std::int32_t>(target < 0 ? 0 : (target > size ? size : target));
  return true;
}

long ResourceFile::GetPosition() {
  return position;
}
