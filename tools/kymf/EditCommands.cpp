// delete and rename: an existing archive changed in one pass by
// MultiFileWriter, all or nothing.
#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "multifile/ArchiveFormat.h"
#include "support/NameEscaping.h"
#include "support/OpenedArchive.h"
#include "support/Selection.h"

namespace kymf {
namespace {

// The names that `options.patterns` select in the archive, one per visible
// entry, with their bytes; false (reported) when the archive cannot be read
// or a pattern selects nothing.
bool SelectNames(const Options& options, Reporter& reporter, std::vector<std::string>& names,
                 std::uint64_t& bytes) {
  OpenedArchive source;
  if (!source.Open(options.archive, reporter)) {
    return false;
  }
  Selection selection(options.patterns);
  for (int i = 0; i < source.GetCount(); ++i) {
    if (!source.IsShadowed(i) && selection.Selects(source.GetName(i))) {
      names.push_back(source.GetName(i));
      bytes += source.GetSize(i);
    }
  }
  ReportUnmatched(selection, source.GetShown(), reporter);
  return reporter.GetFailures() == 0;
}

bool RefuseStandardStreams(const Options& options, const char* command, Reporter& reporter) {
  if (options.archive != "-") {
    return false;
  }
  reporter.Usage(std::string(command) + ": the archive must be a file, not standard input");
  return true;
}

// Removes `names` from the one archive and commits; false (reported) on
// failure.
bool DeleteFromArchive(const Options& options, const std::vector<std::string>& names,
                       Reporter& reporter) {
  MultiFileWriter writer(options.archive.c_str(), true);
  WaitForLock(writer, options);
  writer.SetAllowEmpty(true);
  for (const std::string& name : names) {
    if (!writer.RemoveExisting(name.c_str())) {
      reporter.Fail(writer.GetStatus());
      return false;
    }
  }
  if (!writer.Commit()) {
    reporter.Fail(writer.GetStatus());
    return false;
  }
  ReportSums(writer, reporter);
  return true;
}

}  // namespace

RXM::LockWait LockWaitOf(const Options& options) {
  RXM::LockWait wait;
  wait.milliseconds = options.noWait ? 0 : kLockWait;
  wait.waiting = [](const char* archive, void*) {
    (void)std::fprintf(stderr, "kymf: waiting for the lock on %s (another writer is changing it)\n",
                       EscapeName(archive).c_str());
  };
  return wait;
}

void WaitForLock(MultiFileWriter& writer, const Options& options) {
  writer.SetWriteSums(options.sums, Processors());
  const RXM::LockWait wait = LockWaitOf(options);
  writer.SetLockWait(wait.milliseconds, wait.waiting);
}

void ReportSums(const MultiFileWriter& writer, Reporter& reporter) {
  if (!writer.GetSumsStatus().IsOk()) {
    reporter.Fail(writer.GetSumsStatus());
  }
}

unsigned Processors() {
  return std::max(1u, std::thread::hardware_concurrency());
}

int DeleteCommand(const Options& options, Reporter& reporter) {
  if (RefuseStandardStreams(options, "delete", reporter)) {
    return kUsage;
  }
  std::vector<std::string> names;
  std::uint64_t bytes = 0;
  if (!SelectNames(options, reporter, names, bytes)) {
    return kFailure;
  }
  // A name lives in one volume of a set: that volume changes.
  if (IsVolumeSet(options.archive) ? DeleteFromSet(options, names, reporter) != kSuccess
                                   : !DeleteFromArchive(options, names, reporter)) {
    return kFailure;
  }
  for (const std::string& name : names) {
    reporter.Verbose(EscapeName(name));
  }
  reporter.Summary("deleted", static_cast<std::int64_t>(names.size()), bytes);
  return reporter.ExitCode();
}

int RenameCommand(const Options& options, Reporter& reporter) {
  if (RefuseStandardStreams(options, "rename", reporter)) {
    return kUsage;
  }
  const RXM::Status name =
      RXM::multifile::CheckEntryName(options.to.data(), options.to.size(), options.to);
  if (!name.IsOk()) {
    reporter.Fail(name);
    return kFailure;
  }
  if (IsVolumeSet(options.archive)) {  // the volume that holds the name changes
    if (RenameInSet(options, reporter) != kSuccess) {
      return kFailure;
    }
  } else {
    MultiFileWriter writer(options.archive.c_str(), true);
    WaitForLock(writer, options);
    writer.SetAllowEmpty(true);
    if (!writer.RenameExisting(options.from.c_str(), options.to.c_str()) || !writer.Commit()) {
      reporter.Fail(writer.GetStatus());
      return kFailure;
    }
    ReportSums(writer, reporter);
  }
  reporter.Verbose(EscapeName(options.from) + " -> " + EscapeName(options.to));
  reporter.Summary("renamed", 1, 0);
  return reporter.ExitCode();
}

}  // namespace kymf
