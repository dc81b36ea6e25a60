#include "remote/RemoteOptions.h"

#include <algorithm>
#include <cstdlib>

namespace RXM {

std::uint64_t RemoteOptions::DeadlineFor(std::uint64_t bytes) const {
  const std::uint64_t rate = deadlineRate == 0 ? 1 : deadlineRate;
  return deadlineMs + bytes / rate * 1000 + bytes % rate * 1000 / rate;
}

// The environment is read, never changed, by the library; a program that
// changes it while opening remote files races with itself, as with any getenv.
RemoteOptions RemoteOptions::FromEnvironment() {
  RemoteOptions options;
  if (const char* file = std::getenv("RXMFILES_CA_FILE")) {  // NOLINT(concurrency-mt-unsafe)
    options.caFile = file;
  }
  if (const char* authorization =
          std::getenv("RXMFILES_HTTP_AUTHORIZATION")) {  // NOLINT(concurrency-mt-unsafe)
    options.authorization = authorization;
  }
  if (const char* credentials =
          std::getenv("RXMFILES_HTTP_CREDENTIALS")) {  // NOLINT(concurrency-mt-unsafe)
    options.credentials = credentials;
  }
  if (const char* netrc = std::getenv("RXMFILES_NETRC_FILE")) {  // NOLINT(concurrency-mt-unsafe)
    options.netrcFile = netrc;
  }
  if (const char* timeout =
          std::getenv("RXMFILES_HTTP_TIMEOUT")) {  // NOLINT(concurrency-mt-unsafe)
    char* end = nullptr;
    const double seconds = std::strtod(timeout, &end);
    if (end != timeout && *end == '\0' && seconds > 0 && seconds < 86400) {
      options.deadlineMs = static_cast<std::uint32_t>(seconds * 1000);
      options.stallTimeoutMs = std::min(options.stallTimeoutMs, options.deadlineMs);
      options.connectTimeoutMs = std::min(options.connectTimeoutMs, options.deadlineMs);
    }
  }
  return options;
}

}  // namespace RXM
