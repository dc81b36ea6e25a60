#include "support/Progress.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "support/Reporter.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kymf {

bool IsTerminal(std::FILE* stream) {
#if defined(_WIN32)
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

Progress::Display Progress::Display::For(const Reporter& reporter) {
  Display display;
  if (reporter.IsQuiet()) {
    return display;
  }
  if (reporter.ForcesProgress()) {
    display.out = stderr;
    display.delay = std::chrono::milliseconds(0);
  } else if (IsTerminal(stderr)) {
    display.out = stderr;
  }
  return display;
}

Progress::Progress(Display where, std::string what, std::uint64_t size)
    : display(std::move(where)), name(std::move(what)), total(size) {
  if (display.out != nullptr) {
    started = display.now();
    drawn = started - std::chrono::hours(1);
    if (display.delay.count() == 0) {
      Draw(started);
    }
  }
}

namespace {
Progress* onScreen = nullptr;  // the one whose line is drawn
}  // namespace

Progress::~Progress() {
  Clear();
}

void Progress::Clear() {
  if (shown > 0) {
    (void)std::fprintf(display.out, "\r%*s\r", static_cast<int>(shown), "");
    (void)std::fflush(display.out);
    shown = 0;
  }
  if (onScreen == this) {
    onScreen = nullptr;
  }
}

void Progress::Interrupt() {
  if (onScreen != nullptr) {
    onScreen->Clear();
  }
}

void Progress::Advance(std::uint64_t bytes) {
  Update(done + bytes, total);
}

void Progress::Update(std::uint64_t now, std::uint64_t all) {
  done = now;
  total = all;
  if (display.out == nullptr) {
    return;
  }
  const Clock::time_point at = display.now();
  // Five lines a second at most, and none before the delay: a job that ends
  // sooner leaves the screen as it was.
  if (at - started < display.delay || at - drawn < std::chrono::milliseconds(200)) {
    return;
  }
  Draw(at);
}

void Progress::Draw(Clock::time_point now) {
  drawn = now;
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - started);
  // Overwritten in place with spaces past a shorter line's end, not with an
  // escape sequence: a Windows console shows those as text unless told not to.
  const std::string line = "kymf: " + Line(name, done, total, elapsed);
  const int padding = shown > line.size() ? static_cast<int>(shown - line.size()) : 0;
  (void)std::fprintf(display.out, "\r%s%*s", line.c_str(), padding, "");
  (void)std::fflush(display.out);
  shown = line.size();
  onScreen = this;
}

std::string ShownBytes(std::uint64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) {
    return std::to_string(bytes) + " B";
  }
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  (void)std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string Progress::Line(const std::string& what, std::uint64_t done, std::uint64_t total,
                           std::chrono::milliseconds elapsed) {
  std::string line = what + ": " + ShownBytes(done);
  if (total > 0) {
    const double share = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
    line +=
        " of " + ShownBytes(total) + " (" + std::to_string(static_cast<int>(share * 100)) + "%)";
  }
  const double seconds = static_cast<double>(elapsed.count()) / 1000.0;
  if (seconds <= 0.0 || done == 0) {
    return line;
  }
  const double rate = static_cast<double>(done) / seconds;
  line += ", " + ShownBytes(static_cast<std::uint64_t>(rate)) + "/s";
  if (total > done) {
    const auto left =
        static_cast<std::uint64_t>(std::llround(static_cast<double>(total - done) / rate));
    char text[32];
    (void)std::snprintf(text, sizeof text, ", %llu:%02llu left",
                        static_cast<unsigned long long>(left / 60),
                        static_cast<unsigned long long>(left % 60));
    line += text;
  }
  return line;
}

}  // namespace kymf
