#include "support/Progress.h"

#include <cstdio>
#include <utility>

#if defined(_WIN32)
#include <io.h>
#define KYMF_IS_TERMINAL(stream) (_isatty(_fileno(stream)) != 0)
#else
#include <unistd.h>
#define KYMF_IS_TERMINAL(stream) (isatty(fileno(stream)) != 0)
#endif

namespace kymf {

Progress::Progress(bool remote, std::string what, std::uint64_t size)
    : shown(remote && size >= kShownFrom && KYMF_IS_TERMINAL(stderr)),
      name(std::move(what)),
      total(size) {}

Progress::~Progress() {
  if (shown) {
    std::fprintf(stderr, "\r\033[K");
  }
}

void Progress::Advance(std::uint64_t bytes) {
  done += bytes;
  if (!shown) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - drawn < std::chrono::milliseconds(200) && done < total) {
    return;
  }
  drawn = now;
  const double mebibyte = 1024.0 * 1024.0;
  std::fprintf(stderr, "\r\033[Kkymf: %s: %.1f of %.1f MiB (%d%%)", name.c_str(),
               static_cast<double>(done) / mebibyte, static_cast<double>(total) / mebibyte,
               static_cast<int>(done * 100 / total));
  std::fflush(stderr);
}

}  // namespace kymf
