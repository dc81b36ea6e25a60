#include "rxm/Stream.hpp"

#include <algorithm>
#include <new>

#include "files/EntryStream.h"
#include "files/Failure.h"
#include "rxm/Error.hpp"
#include "rxm/StreamImpl.h"

namespace rxm {

RXM::Status Stream::Impl::ShortRead() const {
  if (!remote.IsNull()) {
    const RXM::Status why = remote->GetReadFailure();
    if (!why.IsOk()) {
      // The transfer's text names the archive already: the entry goes first.
      return RXM::Status(why.GetCode(), subject + ": " + why.GetText(), why.GetSystemError());
    }
  }
  if (const auto* entry = dynamic_cast<const RXM::EntryStream*>(file.Get())) {
    RXM::Status why = entry->GetStatus();
    if (!why.IsOk()) {
      return why;
    }
  }
  return RXM::Failure(RXM::ErrorCode::kReadFailed, subject);
}

std::size_t Remaining(Stream::Impl& stream) {
  const auto size = static_cast<std::size_t>(stream.file->GetFileSize());
  const auto at = static_cast<std::size_t>(std::max(stream.file->GetPosition(), 0L));
  return size > at ? size - at : 0;
}

void ReadExactly(Stream::Impl& stream, void* into, std::size_t size) {
  if (size != 0 && stream.file->ReadData(into, 1, static_cast<unsigned int>(size)) != size) {
    throw Error(stream.ShortRead());
  }
}

void NoMemory(const Stream::Impl& stream) {
  throw Error(RXM::Failure(RXM::ErrorCode::kNoMemory, stream.subject));
}

Stream::Stream(std::unique_ptr<Impl> opened) : impl(std::move(opened)) {}
Stream::Stream(Stream&& other) noexcept = default;
Stream& Stream::operator=(Stream&& other) noexcept = default;
Stream::~Stream() = default;

std::size_t Stream::read(void* buffer, std::size_t size) {
  if (!impl || size == 0) {
    return 0;
  }
  const std::uint32_t left = this->size() - position();
  const auto wanted = static_cast<unsigned int>(std::min<std::size_t>(size, left));
  const unsigned int got = wanted == 0 ? 0 : impl->file->ReadData(buffer, 1, wanted);
  if (got < wanted) {
    throw Error(impl->ShortRead());
  }
  return got;
}

std::vector<std::byte> Stream::read_all() {
  return impl ? ReadWhole<std::vector<std::byte>>(*impl) : std::vector<std::byte>();
}

void Stream::seek(std::uint32_t position) {
  if (impl) {
    impl->file->Seek(static_cast<long>(std::min(position, size())), 0);
  }
}

std::uint32_t Stream::position() const {
  return impl ? static_cast<std::uint32_t>(std::max(impl->file->GetPosition(), 0L)) : 0;
}

std::uint32_t Stream::size() const {
  return impl ? impl->file->GetFileSize() : 0;
}

bool Stream::at_end() const {
  return !impl || impl->file->EndOfFile();
}

}  // namespace rxm
