// What an rxm::Stream holds (the library's own, not installed).
#ifndef RXM_STREAMIMPL_H
#define RXM_STREAMIMPL_H

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

// The whole of `stream` from its position, or throws rxm::Error.
std::vector<std::byte> ReadWhole(Stream::Impl& stream);

}  // namespace rxm

#endif  // RXM_STREAMIMPL_H
