#include "support/RemoteNames.h"

#include <string>

#include <RXMFiles.h>

#include "files/Url.h"

namespace kymf {

void HideCredentials(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    // "--path=URL" and the like carry a URL after their "=".
    const std::size_t equals = argument.compare(0, 2, "--") == 0 ? argument.find('=') : 0;
    const std::size_t start = equals == std::string::npos || equals == 0 ? 0 : equals + 1;
    const std::string url = argument.substr(start);
    const std::size_t at = RXM::UserinfoEnd(url);
    if (at == std::string::npos) {
      continue;
    }
    const std::size_t from = url.find("://") + 3;
    for (std::size_t j = from; j < at; ++j) {
      argv[i][start + j] = '*';
    }
  }
}

}  // namespace kymf
