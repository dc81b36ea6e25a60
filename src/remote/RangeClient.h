// Range requests for one object, with the rules that keep its bytes whole:
// the first answer fixes the object's size and validator, every later request
// is guarded by that validator, and transient failures are retried.
#ifndef RXMFILES_REMOTE_RANGECLIENT_H
#define RXMFILES_REMOTE_RANGECLIENT_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/Status.h"
#include "remote/RemoteOptions.h"
#include "remote/Transport.h"

namespace RXM {

class RangeClient {
 public:
  // What the first request found.
  struct Opening {
    std::uint64_t size = 0;
    // The object's first bytes (up to the block size), or the whole object
    // when `whole` (a server that ignores ranges, for a small object).
    std::vector<std::uint8_t> bytes;
    bool whole = false;
  };

  RangeClient(std::shared_ptr<http::Transport> transport, const std::string& url,
              RemoteOptions options);

  // The first request: "Range: bytes=0-(blockSize-1)". Ok with `opening`
  // filled; otherwise why the object cannot be read (kRemoteNotFound,
  // kRemoteForbidden, kRangeIgnored, kRemoteFailed, kNetworkFailed,
  // kSecureFailed, kRemoteTimedOut, kCannotOpen for a URL the client
  // refuses). An answer that is not the range asked for (its Content-Range or
  // Content-Length) is refused at its head (kRemoteFailed): no more than the
  // block size is ever kept. Called once, before any Read.
  Status Open(Opening& opening);

  // Reads exactly `length` bytes at `first` (inside the object) into `into`,
  // in one request guarded by the validator, resuming after a broken
  // transfer. The request goes straight to where the opening's redirects
  // led: a redirect now is refused (kRemoteFailed). Ok, or kRemoteChanged
  // when the object is no longer the one opened (nothing of the new version
  // is written into `into`), or another reason as for Open. Every request,
  // its retries included, ends by RemoteOptions::DeadlineFor its bytes.
  // Safe from many threads at once.
  Status Read(std::uint64_t first, std::size_t length, std::uint8_t* into) const;

  // The URL as messages show it (credentials hidden).
  const std::string& GetShown() const { return shown; }
  // Requests sent so far, retries and redirects not counted apart.
  std::uint64_t GetRequests() const { return requests.load(); }

 private:
  class Exchange;
  friend class Exchange;

  // Sends `request` through `exchange` until it succeeds or a failure is
  // final; Ok or the reason. `effective`, when given, learns where the
  // answer came from after redirects.
  Status Run(http::Request request, Exchange& exchange, std::string* effective = nullptr) const;
  // The header lines every request carries: authorization (to the URL's own
  // origin only) and, after the opening, the validator's guard.
  std::vector<std::string> HeadersFor(const std::string& target, bool guarded) const;
  // How long to wait before attempt `attempt` (2, 3, ...) after `head`.
  std::uint32_t RetryDelay(std::uint32_t attempt, const http::Head& head) const;

  std::shared_ptr<http::Transport> transport;
  std::string url;
  std::string target;  // where requests go: the URL after the opening's redirects
  std::string shown;
  RemoteOptions options;
  std::string authorization;  // the Authorization header's value, "" for none
  std::uint64_t size = 0;
  std::string etag;
  bool weakEtag = false;
  std::string lastModified;
  mutable std::atomic<std::uint64_t> requests{0};
};

}  // namespace RXM

#endif  // RXMFILES_REMOTE_RANGECLIENT_H
