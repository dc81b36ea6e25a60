// How an object is read over the network: limits, timeouts, trust and
// credentials.
#ifndef RXMFILES_REMOTE_REMOTEOPTIONS_H
#define RXMFILES_REMOTE_REMOTEOPTIONS_H

#include <cstdint>
#include <string>

#include "framework/Export.h"

namespace RXM {

/// How an object is read over the network (HttpFile::SetOptions): limits,
/// timeouts, trust and credentials.
struct RXMFILES_API RemoteOptions {
  /// The first request asks for this many bytes: the header and the directory
  /// of most archives, so that opening one costs a single request. Also the
  /// size of a cache block.
  std::uint32_t blockSize = 64 * 1024;
  /// The most the block cache holds, per object.
  std::uint64_t cacheBytes = std::uint64_t{16} * 1024 * 1024;
  /// The most that read-ahead fetches in one request for sequential reading.
  std::uint32_t readAheadBytes = 4 * 1024 * 1024;
  /// A server that answers a range request with the whole object (200) is
  /// read whole when the object is no larger than this; refused above it.
  std::uint64_t wholeObjectLimit = std::uint64_t{16} * 1024 * 1024;
  /// Connecting (name lookup, TCP and TLS handshakes) may take this long.
  std::uint32_t connectTimeoutMs = 10000;
  /// Too little progress: an attempt that receives fewer than minimumRate
  /// bytes a second, measured over each window of stallTimeoutMs (waiting for
  /// the head included), is broken off as timed out. A slow but honest link
  /// (a few KiB/s) passes; a server that trickles bytes does not.
  std::uint32_t stallTimeoutMs = 30000;
  /// The bytes a second below which an attempt counts as stalled.
  std::uint32_t minimumRate = 1024;
  /// Deadline: a request, all its attempts and waits included, gives up
  /// (kRemoteTimedOut) once deadlineMs plus the time its bytes take at
  /// deadlineRate bytes a second have passed: 60 s and 64 KiB/s by default,
  /// 61 s for a 64 KiB block, 124 s for 4 MiB of read-ahead.
  std::uint32_t deadlineMs = 60000;
  /// The rate, in bytes a second, that the deadline allows the bytes.
  std::uint32_t deadlineRate = 64 * 1024;
  /// Attempts per request, the first included, for 5xx, 429, broken and timed
  /// out connections; the waits between them double from retryDelayMs.
  std::uint32_t attempts = 4;
  /// The first wait between attempts; each later one is twice the last.
  std::uint32_t retryDelayMs = 200;
  /// A Retry-After of a 429 or 503 is obeyed up to this long.
  std::uint32_t longestRetryDelayMs = 5000;
  /// Redirects followed per request.
  std::uint32_t maxRedirects = 5;
  /// A PEM file of certificate authorities trusted besides the system's.
  std::string caFile;
  /// The value of an Authorization header ("Bearer <token>"), sent to the
  /// URL's own origin only; "" sends none.
  std::string authorization;
  /// "user:password" sent as HTTP Basic authorization to the URL's own origin
  /// (as a URL's own user information is); "" sends none. Never printed.
  std::string credentials;
  /// A netrc file whose entry for the server's host gives the user and
  /// password (libcurl's builds; WinHTTP ignores it); "" reads none.
  std::string netrcFile;

  /// How long a request for `bytes` bytes may take in all (see deadlineMs).
  std::uint64_t DeadlineFor(std::uint64_t bytes) const;

  /// The defaults, with caFile from RXMFILES_CA_FILE, authorization from
  /// RXMFILES_HTTP_AUTHORIZATION, credentials from RXMFILES_HTTP_CREDENTIALS,
  /// netrcFile from RXMFILES_NETRC_FILE and, from RXMFILES_HTTP_TIMEOUT
  /// (seconds), deadlineMs and a stall window no longer than it, when set.
  static RemoteOptions FromEnvironment();
};

}  // namespace RXM

#endif  // RXMFILES_REMOTE_REMOTEOPTIONS_H
