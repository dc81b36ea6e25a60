// A progress line on standard error for a long transfer over the network,
// shown only when standard error is a terminal.
#ifndef KYMF_SUPPORT_PROGRESS_H
#define KYMF_SUPPORT_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>

namespace kymf {

class Progress {
 public:
  // Transfers smaller than this finish before a line is worth showing.
  static constexpr std::uint64_t kShownFrom = 4 * 1024 * 1024;

  // `total` bytes of `what`; shown when `remote`, the total is at least
  // kShownFrom and standard error is a terminal.
  Progress(bool remote, std::string what, std::uint64_t total);
  // Clears the line.
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `bytes` more arrived; redraws at most five times a second.
  void Advance(std::uint64_t bytes);

 private:
  bool shown;
  std::string name;
  std::uint64_t total;
  std::uint64_t done = 0;
  std::chrono::steady_clock::time_point drawn;
};

}  // namespace kymf

#endif  // KYMF_SUPPORT_PROGRESS_H
