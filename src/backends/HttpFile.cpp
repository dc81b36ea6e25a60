#include "backends/HttpFile.h"

#include <cstring>

#include "files/Registration.h"
#include "multifile/ArchiveStatus.h"
#include "remote/RemoteObject.h"

HttpFile::HttpFile() : options(RXM::RemoteOptions::FromEnvironment()) {}

// Member by member: a copy shares the object and its cache and keeps its own
// position.
HttpFile::HttpFile(const HttpFile& other) = default;

HttpFile& HttpFile::operator=(const HttpFile& other) = default;

HttpFile::~HttpFile() = default;

const RTTIClass* HttpFile::GetClass() const {
  return &rtti_for_HttpFile;
}

void* HttpFile::FindInterface(const char* name) const {
  return RXM::AnswerFileInterface(this, name, "HttpFile");
}

void* HttpFile::rtti_CreateHttpFile(const char* interfaceName) {
  return RXM::CreateRegistered<HttpFile>(interfaceName);
}

bool HttpFile::rtti_ImplementsInterfaceHttpFile(const char* interfaceName) {
  return RXM::ImplementsRegistered<HttpFile>(interfaceName);
}

void HttpFile::SetOptions(const RXM::RemoteOptions& newOptions) {
  options = newOptions;
}

bool HttpFile::OpenFile(String url, String mode) {
  using RXM::ErrorCode;
  CloseFile();
  const std::string shown = RXM::RedactUrl(url.GetText());
  if (std::strcmp(mode.GetText(), "rb") != 0) {
    status = RXM::kymf::Failure(ErrorCode::kCannotOpen, shown,
                                std::string("read only: mode \"") + mode.GetText() + "\" refused");
    return false;
  }
  if (!RXM::IsRemoteUrl(url.GetText())) {
    status = RXM::kymf::Failure(ErrorCode::kCannotOpen, shown, "not an http:// or https:// URL");
    return false;
  }
  std::shared_ptr<const RXM::RemoteObject> opened =
      RXM::RemoteObject::Open(url.GetText(), options, status);
  if (!opened) {
    return false;
  }
  // Positions and sizes of a KYFile are 32-bit.
  if (opened->GetSize() > static_cast<std::uint64_t>(INT32_MAX)) {
    status = RXM::kymf::Failure(
        ErrorCode::kTooLarge, shown,
        std::to_string(opened->GetSize()) + " bytes, more than a file can address");
    return false;
  }
  object = opened;
  objectSize = static_cast<std::uint32_t>(opened->GetSize());
  position = 0;
  open = true;
  return true;
}

bool HttpFile::CloseFile() {
  if (!open) {
    return false;
  }
  open = false;
  object.reset();
  return true;
}

bool HttpFile::IsFileOpened() {
  return open;
}

unsigned int HttpFile::ReadData(void* buffer, unsigned int size, unsigned int count) {
  if (!open) {
    return 0;
  }
  if (size == 0) {
    return count;
  }
  const std::uint32_t at = static_cast<std::uint32_t>(position);
  const std::uint64_t left = at < objectSize ? objectSize - at : 0;
  const std::uint64_t items = std::min<std::uint64_t>(count, left / size);
  std::size_t got = 0;
  status = object->Read(buffer, static_cast<std::size_t>(items * size),
                        static_cast<std::uint64_t>(position), got);
  const std::uint64_t whole = got / size;
  position += static_cast<std::int32_t>(whole * size);
  return static_cast<unsigned int>(whole);
}

unsigned int HttpFile::WriteData(const void*, unsigned int, unsigned int) {
  return 0;
}

unsigned int HttpFile::GetFileSize() {
  return open ? objectSize : 0;
}

bool HttpFile::EndOfFile() {
  return open && static_cast<std::uint32_t>(position) >= objectSize;
}

bool HttpFile::Seek(long offset, int origin) {
  if (!open) {
    return false;
  }
  std::int64_t target = offset;
  if (origin == 1) {
    target += position;
  } else if (origin == 2) {
    target += objectSize;
  } else if (origin != 0) {
    return false;
  }
  if (target < 0 || target > INT32_MAX) {
    return false;
  }
  position = static_cast<std::int32_t>(target);
  return true;
}

long HttpFile::GetPosition() {
  return position;
}

const RXM::Status& HttpFile::GetStatus() const {
  return status;
}

std::shared_ptr<const RXM::PositionalReader> HttpFile::GetReader() const {
  return open ? object : nullptr;
}

std::uint64_t HttpFile::GetRequests() const {
  return object ? object->GetRequests() : 0;
}
