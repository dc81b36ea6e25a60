// How kymf speaks: one message shape for every failure ("kymf: <file>:
// <reason>"), names printed escaped, -v lines, one summary line per writing
// command, and the exit codes.
#ifndef KYMF_SUPPORT_REPORTER_H
#define KYMF_SUPPORT_REPORTER_H

#include <cstdint>
#include <cstdio>
#include <string>

#include <RXMFiles.h>

namespace kymf {

// Exit codes of every command.
constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

// The system's text for the errno value `error`, begun in lower case as
// every reason kymf gives is: "no space left on device".
std::string SystemReason(int error);

class Reporter {
 public:
  // Failures go to `errors`; -v lines and summaries to `info`.
  explicit Reporter(std::FILE* errorStream = stderr, std::FILE* infoStream = stdout);

  void SetQuiet(bool on) { quiet = on; }
  void SetVerbose(bool on) { verbose = on; }
  bool IsQuiet() const { return quiet; }
  bool IsVerbose() const { return verbose && !quiet; }
  // --progress: a long job's progress line even where standard error is no
  // terminal (Progress.h); -q still silences it.
  void SetForceProgress(bool on) { forceProgress = on; }
  bool ForcesProgress() const { return forceProgress && !quiet; }
  // Where -v lines and summaries go: standard error when standard output
  // carries an archive or an entry's bytes.
  void SetInfoStream(std::FILE* stream) { info = stream; }

  // "kymf: <file>: <reason>", the file escaped. Counts a failure.
  void Fail(const std::string& file, const std::string& reason);
  // "kymf: <message>" of a failed Status (its message names the file).
  void Fail(const RXM::Status& status);
  // The file and the system's own text for `error` (SystemReason).
  void FailSystem(const std::string& file, int error);
  // "kymf: <text> (kymf --help tells more)" for a wrong command line, the
  // parser's and the commands' own alike; counts nothing.
  void Usage(const std::string& text);
  // A warning: "kymf: <file>: <reason>", not counted as a failure.
  void Warn(const std::string& file, const std::string& reason);

  // With -v (and not -q): `text` on a line of its own.
  void Verbose(const std::string& text);
  // Unless -q: "<verb> <entries> entries, <bytes> bytes".
  void Summary(const char* verb, std::int64_t entries, std::uint64_t bytes);

  // Failures reported since construction.
  int GetFailures() const { return failures; }
  // kFailure after any failure, otherwise kSuccess.
  int ExitCode() const { return failures ? kFailure : kSuccess; }

 private:
  std::FILE* errors;
  std::FILE* info;
  bool quiet = false;
  bool verbose = false;
  bool forceProgress = false;
  int failures = 0;
};

}  // namespace kymf

#endif  // KYMF_SUPPORT_REPORTER_H
