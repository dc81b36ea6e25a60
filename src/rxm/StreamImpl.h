// What an rxm::Stream holds (the library's own, not installed).
#ifndef RXM_STREAMIMPL_H
#define RXM_STREAMIMPL_H

#include <cstddef>
#include <new>
#include <string>
#include <utility>

#include "backends/HttpFile.h"
#include "files/KYFile.h"
#include "files/Status.h"
#include "framework/Pointer.h"
#include "rxm/Stream.hpp"

struct rxm::Stream::Impl {
  Impl(Pointer<KYFile> opened, Pointer<HttpFile> over, std::string about)
      : file(std::move(opened)), remote(std::move(over)), subject(std::move(about)) {}

  // Why a read got fewer bytes than remain: the network's reason when the
  // stream reads through an HttpFile, else the entry stream's (kTruncated),
  // else kReadFailed about `subject`.
  RXM::Status ShortRead() const;

  Pointer<KYFile> file;
  Pointer<HttpFile> remote;  // what an archive at a URL is read through
  std::string subject;       // "<source>: <name>", or the name in a search path
};

namespace rxm {

// How many bytes remain in `stream` from its position.
std::size_t Remaining(Stream::Impl& stream);
// Reads `size` bytes of `stream` into `into`; throws rxm::Error when fewer
// come.
void ReadExactly(Stream::Impl& stream, void* into, std::size_t size);
// Throws kNoMemory: no buffer for what remains of `stream` could be had.
[[noreturn]] void NoMemory(const Stream::Impl& stream);

// The whole of `stream` from its position, as a std::vector<std::byte> or a
// std::string; throws rxm::Error.
template <class Bytes>
Bytes ReadWhole(Stream::Impl& stream) {
  Bytes bytes;
  try {
    bytes.resize(Remaining(stream));
  } catch (const std::bad_alloc&) {
    NoMemory(stream);
  }
  ReadExactly(stream, bytes.data(), bytes.size());
  return bytes;
}

}  // namespace rxm

#endif  // RXM_STREAMIMPL_H
