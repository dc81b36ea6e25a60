// extract: entries into files below a folder, under their stored names,
// without ever leaving the folder (see TargetFolder).
#include <string>

#include "Commands.h"
#include "support/NameEscaping.h"
#include "support/OpenedArchive.h"
#include "support/Progress.h"
#include "support/Selection.h"
#include "support/TargetFolder.h"

namespace kymf {
namespace {

struct Extraction {
  OpenedArchive& source;
  TargetFolder& target;
  TargetFolder::Existing existing;
  Reporter& reporter;
  int written = 0;
  std::uint64_t bytes = 0;
};

// The entry's bytes, read whole through the archive's entry stream.
RXM::Status CopyEntry(OpenedArchive& source, const std::string& name,
                      const TargetFolder::Write& write) {
  MultiFile& archive = source.GetArchive();
  if (!archive.OpenFile(name.c_str(), "rb")) {
    return archive.GetStatus();
  }
  char buffer[1 << 16];
  std::uint64_t copied = 0;
  unsigned int got = 0;
  Progress progress(source.IsRemote(), EscapeName(name), archive.GetFileSize());
  while ((got = archive.ReadData(buffer, 1, sizeof buffer)) > 0) {
    if (!write(buffer, got)) {
      return RXM::Status::Ok();  // the target folder reports its own write failure
    }
    copied += got;
    progress.Advance(got);
  }
  if (copied != archive.GetFileSize()) {
    return RXM::Status(RXM::ErrorCode::kReadFailed, source.GetShown() + ": " + name + ": " +
                                                        RXM::Describe(RXM::ErrorCode::kReadFailed));
  }
  return RXM::Status::Ok();
}

void ExtractEntry(Extraction& run, int index) {
  const std::string name = run.source.GetName(index);
  const RXM::NameFault fault = RXM::CheckSafeName(name.c_str());
  if (fault != RXM::NameFault::kNone) {
    run.reporter.Fail(run.source.GetShown() + ": " + name,
                      std::string(RXM::Describe(RXM::ErrorCode::kNameRefused)) + ": " +
                          RXM::DescribeNameFault(fault));
    return;
  }
  const RXM::Status backed = run.source.GetArchive().CheckEntry(name.c_str());
  if (!backed.IsOk()) {
    run.reporter.Fail(backed);
    return;
  }
  bool kept = false;
  const RXM::Status status = run.target.Place(
      name, run.existing,
      [&](const TargetFolder::Write& write) { return CopyEntry(run.source, name, write); }, &kept);
  if (!status.IsOk()) {
    run.reporter.Fail(status);
  } else if (kept) {
    run.reporter.Verbose("kept " + EscapeName(run.target.Shown(name)));
  } else {
    run.reporter.Verbose(EscapeName(name));
    ++run.written;
    run.bytes += run.source.GetSize(index);
  }
}

TargetFolder::Existing ExistingPolicy(const Options& options) {
  if (options.force) {
    return TargetFolder::Existing::kReplace;
  }
  return options.keep ? TargetFolder::Existing::kKeep : TargetFolder::Existing::kRefuse;
}

}  // namespace

int ExtractCommand(const Options& options, Reporter& reporter) {
  if (options.force && options.keep) {
    reporter.Usage("extract: give --force or -k, not both");
    return kUsage;
  }
  OpenedArchive source;
  if (!source.Open(options.archive, reporter)) {
    return kFailure;
  }
  TargetFolder target;
  const RXM::Status opened = target.Open(options.folder);
  if (!opened.IsOk()) {
    reporter.Fail(opened);
    return kFailure;
  }
  Selection selection(options.patterns);
  Extraction run{source, target, ExistingPolicy(options), reporter};
  for (int i = 0; i < source.GetCount(); ++i) {
    if (!source.IsShadowed(i) && selection.Selects(source.GetName(i))) {
      ExtractEntry(run, i);
    }
  }
  ReportUnmatched(selection, options.archive, reporter);
  reporter.Summary("extracted", run.written, run.bytes);
  return reporter.ExitCode();
}

}  // namespace kymf
