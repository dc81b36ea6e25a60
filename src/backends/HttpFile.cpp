#include "backends/HttpFile.h"

#include <cstring>

#include "files/BoundedStream.h"
#include "files/Failure.h"
#include "files/Registration.h"
#include "files/Url.h"
#include "remote/RemoteObject.h"

const RXM::StreamPolicy HttpFile::kPolicy = {
    RXM::ZeroSizeItems::kAllFit, RXM::UnknownOrigin::kRefused, RXM::WhenClosed::kEmptyAndAtEnd,
    RXM::ShortRead::kCounted};

HttpFile::HttpFile() : options(RXM::RemoteOptions::FromEnvironment()), stream(kPolicy) {}

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
    status = RXM::Failure(ErrorCode::kCannotOpen, shown,
                          std::string("read only: mode \"") + mode.GetText() + "\" refused");
    return false;
  }
  if (!RXM::IsRemoteUrl(url.GetText())) {
    status = RXM::Failure(ErrorCode::kCannotOpen, shown, "not an http:// or https:// URL");
    return false;
  }
  std::shared_ptr<const RXM::RemoteObject> opened =
      RXM::RemoteObject::Open(url.GetText(), options, status);
  if (!opened) {
    return false;
  }
  // Positions and sizes of a KYFile are 32-bit.
  if (opened->GetSize() > static_cast<std::uint64_t>(INT32_MAX)) {
    status =
        RXM::Failure(ErrorCode::kTooLarge, shown,
                     std::to_string(opened->GetSize()) + " bytes, more than a file can address");
    return false;
  }
  object = opened;
  stream->Open(object.get(), 0, static_cast<std::uint32_t>(opened->GetSize()));
  return true;
}

bool HttpFile::CloseFile() {
  if (!stream->Close()) {
    return false;
  }
  object.reset();
  return true;
}

bool HttpFile::IsFileOpened() {
  return stream->IsOpen();
}

unsigned int HttpFile::ReadData(void* buffer, unsigned int size, unsigned int count) {
  const std::uint32_t before = static_cast<std::uint32_t>(stream->Position());
  const std::uint32_t got = stream->Read(buffer, size, count);
  const bool whole = size == 0 || got == count ||
                     before + static_cast<std::uint64_t>(got + 1) * size > stream->Size();
  status = whole || !object ? RXM::Status::Ok() : object->LastFailure();
  return got;
}

unsigned int HttpFile::WriteData(const void*, unsigned int, unsigned int) {
  return 0;
}

unsigned int HttpFile::GetFileSize() {
  return stream->Size();
}

bool HttpFile::EndOfFile() {
  return stream->IsOpen() && stream->AtEnd();
}

bool HttpFile::Seek(long offset, int origin) {
  if (!stream->IsOpen()) {
    return false;
  }
  const std::int64_t from = origin == 1 ? stream->Position() : origin == 2 ? stream->Size() : 0;
  if (from + static_cast<std::int64_t>(offset) < 0) {
    return false;
  }
  return stream->Seek(offset, origin);
}

long HttpFile::GetPosition() {
  return stream->Position();
}

const RXM::Status& HttpFile::GetStatus() const {
  return status;
}

RXM::Status HttpFile::GetReadFailure() const {
  return object ? object->LastFailure() : RXM::Status::Ok();
}

std::shared_ptr<const RXM::ByteSource> HttpFile::GetReader() const {
  return object;
}

std::uint64_t HttpFile::GetRequests() const {
  return object ? object->GetRequests() : 0;
}
