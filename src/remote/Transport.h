// One HTTP GET of a byte range: the seam between the reading logic, which is
// the same everywhere, and the platform's HTTP client (libcurl, WinHTTP).
#ifndef RXMFILES_REMOTE_TRANSPORT_H
#define RXMFILES_REMOTE_TRANSPORT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "remote/RemoteOptions.h"

namespace RXM {
namespace http {

struct Request {
  std::string url;
  // "Range: bytes=first-last" (inclusive).
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  // Further header lines, "Name: value" (validators, authorization).
  std::vector<std::string> headers;
  // Whether a redirect is followed (up to RemoteOptions::maxRedirects);
  // otherwise a 3xx is the final response, handed to the receiver.
  bool followRedirects = true;
  // The attempt is broken off (kTimedOut) after this long in all; 0: no limit.
  std::uint64_t timeoutMs = 0;
};

// The parts of a final response (after redirects) that the reader uses.
struct Head {
  int status = 0;
  std::string contentRange;
  std::string etag;
  std::string lastModified;
  std::string retryAfter;
  std::string location;
  std::int64_t contentLength = -1;  // -1: not given
};

// Takes a response as it arrives. Either call may return false to abandon the
// transfer: nothing more is read and Get returns kAbandoned.
class Receiver {
 public:
  virtual ~Receiver() = default;
  // Once per response, before any of its body.
  virtual bool TakeHead(const Head& head) = 0;
  virtual bool TakeBody(const std::uint8_t* bytes, std::size_t size) = 0;
};

enum class Outcome {
  kDone,              // the whole response was handed over
  kAbandoned,         // the receiver said stop
  kCannotConnect,     // no name, no route, refused
  kTimedOut,          // connecting took too long, the deadline passed, or too little progress
  kBroken,            // the connection ended before the response did
  kSecure,            // TLS: certificate not trusted, handshake failed
  kTooManyRedirects,  // more redirects than allowed
  kBadUrl,            // not a URL the client can request
  kNoClient,          // the client's own library could not be loaded: no request was made
  kFailed,            // anything else the client reports
};

struct Result {
  Outcome outcome = Outcome::kFailed;
  std::string detail;        // the client's own words, for messages
  std::string effectiveUrl;  // where the final response came from
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Sends `request` and hands the final response to `receiver`; returns once
  // it is complete, failed or abandoned. Safe to call from many threads at
  // once: each call uses a connection of its own, taken from a pool and put
  // back for reuse, and no lock is held while the request is on the network.
  virtual Result Get(const Request& request, Receiver& receiver) = 0;
};

// The platform's transport for `options` (connect timeout, the least rate
// over stallTimeoutMs, redirects, trust, netrc).
std::shared_ptr<Transport> MakeTransport(const RemoteOptions& options);

}  // namespace http
}  // namespace RXM

#endif  // RXMFILES_REMOTE_TRANSPORT_H
