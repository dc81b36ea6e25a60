// The progress line of a long job (create, add, extract, verify, cat): bytes
// done, the total, the rate and the time left, redrawn in place on standard
// error, as pv draws it. Only a terminal sees it, only once the job has run
// for a second (a short job stays silent), and never with -q; --progress
// shows it from the start wherever standard error goes, as pv -f does.
#ifndef KYMF_SUPPORT_PROGRESS_H
#define KYMF_SUPPORT_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace kymf {

class Reporter;

class Progress {
 public:
  using Clock = std::chrono::steady_clock;

  // Where and when the line is drawn.
  struct Display {
    std::FILE* out = nullptr;  // null: never drawn
    // How long a job runs before its line first appears.
    std::chrono::milliseconds delay{1000};
    std::function<Clock::time_point()> now = [] { return Clock::now(); };

    // Standard error, as the command line asks: null with -q, or when it is
    // no terminal and --progress was not given; no delay with --progress.
    static Display For(const Reporter& reporter);
  };

  // `total` bytes (0: not known yet) of the job `what` ("extract
  // game.kymf"), timed from now.
  Progress(Display display, std::string what, std::uint64_t total);
  // Clears the line, if one was drawn, so that what follows starts clean.
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `bytes` more are done; redraws at most five times a second.
  void Advance(std::uint64_t bytes);
  // `done` bytes of `total` are done (a total found out late, as a writer
  // measures its inputs; 0: unknown).
  void Update(std::uint64_t done, std::uint64_t total);

  // Clears the line on the screen, if any, so that a message (a failure, a
  // -v name) starts at the beginning of a line; the next update draws it
  // again. The terminal is the process's: one line is shown at a time.
  static void Interrupt();

  // The line drawn for `done` of `total` bytes after `elapsed`: "extract
  // a.kymf: 1.5 GiB of 1.9 GiB (78%), 512 MiB/s, 0:01 left".
  static std::string Line(const std::string& what, std::uint64_t done, std::uint64_t total,
                          std::chrono::milliseconds elapsed);

 private:
  void Draw(Clock::time_point now);
  void Clear();

  Display display;
  std::string name;
  std::uint64_t total;
  std::uint64_t done = 0;
  Clock::time_point started;
  Clock::time_point drawn;
  std::size_t shown = 0;  // the length of the line on the screen; 0: none
};

// Whether `stream` is a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// "512 B", "1.5 KiB", "12.0 MiB", "1.9 GiB": 1024-based, as pv and ls -h.
std::string ShownBytes(std::uint64_t bytes);

}  // namespace kymf

#endif  // KYMF_SUPPORT_PROGRESS_H
