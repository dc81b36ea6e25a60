#include "remote/RemoteOptions.h"

#include <cstdlib>

namespace RXM {

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
  return options;
}

}  // namespace RXM
