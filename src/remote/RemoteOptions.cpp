#include "remote/RemoteOptions.h"

#include <cstdlib>

namespace RXM {

RemoteOptions RemoteOptions::FromEnvironment() {
  RemoteOptions options;
  if (const char* file = std::getenv("RXMFILES_CA_FILE")) {
    options.caFile = file;
  }
  if (const char* authorization = std::getenv("RXMFILES_HTTP_AUTHORIZATION")) {
    options.authorization = authorization;
  }
  return options;
}

}  // namespace RXM
