// extract: entries into files below a folder, under their stored names,
// without ever leaving the folder (see TargetFolder).
#include <string>
#include <vector>

#include "Commands.h"
#include "files/SafeName.h"
#include "support/BlockCopy.h"
#include "support/HexName.h"
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
  Progress& progress;
  int written = 0;
  std::uint64_t bytes = 0;
};

// The entry's bytes, read whole through the archive's entry stream.
RXM::Status CopyEntry(OpenedArchive& source, int index, const TargetFolder::Write& write,
                      Progress& progress) {
  MultiFile& archive = source.GetArchive(index);
  const std::string name = source.GetName(index);
  if (!archive.OpenFile(name.c_str(), "rb")) {
    return archive.GetStatus();
  }
  const CopyResult copy =
      CopyStream(archive, [&write, &progress](const char* data, std::size_t size) {
        progress.Advance(size);
        return write(data, size);
      });
  if (!copy.written) {
    return RXM::Status::Ok();  // the target folder reports its own write failure
  }
  if (copy.copied != archive.GetFileSize()) {
    return source.ReadFailure(index);
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
  RXM::Status backed = run.source.CheckEntry(index);
  if (backed.IsOk()) {
    backed = run.source.CheckAgainstSums(index);  // before anything of it is written
  }
  if (!backed.IsOk()) {
    run.source.Fail(backed, run.reporter);
    return;
  }
  bool kept = false;
  const RXM::Status status = run.target.Place(
      name, run.existing,
      [&](const TargetFolder::Write& write) {
        return CopyEntry(run.source, index, write, run.progress);
      },
      &kept);
  if (!status.IsOk()) {
    run.source.Fail(status, run.reporter);
  } else if (kept) {
    run.reporter.Verbose("kept " + EscapeName(run.target.Shown(name)));
  } else {
    run.reporter.Verbose(EscapeName(name));
    ++run.written;
    run.bytes += run.source.GetSize(index);
  }
}

// Of records whose names are equal but for case, a lookup finds the last, so
// that is the one extracted; the records it hides are named.
void WarnShadowed(const OpenedArchive& source, int index, Reporter& reporter) {
  const int winner = source.GetShadowedBy(index);
  reporter.Warn(source.GetShown() + ": " + source.GetName(winner),
                "shadows " + EscapeName(source.GetName(index)) + " (record " +
                    std::to_string(index) + "); the last record of a name wins");
}

}  // namespace

int ExtractCommand(const Options& options, Reporter& reporter) {
  if (options.force && options.keep) {
    reporter.Usage("extract: give --force or -k, not both");
    return kUsage;
  }
  std::vector<std::string> patterns;
  if (!ReadPatterns(options.patterns, options.hex, reporter, patterns)) {
    return kUsage;
  }
  OpenedArchive source;
  if (!source.Open(options.archive, reporter) ||
      (options.check && !source.LoadSumsForCheck(reporter))) {
    return kFailure;
  }
  TargetFolder target;
  const RXM::Status opened = target.Open(options.folder);
  if (!opened.IsOk()) {
    reporter.Fail(opened);
    return kFailure;
  }
  Selection selection(patterns, options.hex);
  const Selection excludes(options.excludes);
  std::vector<int> chosen;
  std::uint64_t total = 0;
  for (int i = 0; i < source.GetCount(); ++i) {
    if (selection.Selects(source.GetName(i)) && !excludes.Excludes(source.GetName(i))) {
      chosen.push_back(i);
      total += source.IsShadowed(i) ? 0 : source.GetSize(i);
    }
  }
  Progress progress(Progress::Display::For(reporter), "extract " + source.GetShown(), total);
  Extraction run{source, target, TargetFolder::PolicyFor(options.force, options.keep), reporter,
                 progress};
  for (const int i : chosen) {
    if (source.IsShadowed(i)) {
      WarnShadowed(source, i, reporter);
    } else {
      ExtractEntry(run, i);
    }
  }
  ReportUnmatched(selection, source.GetShown(), reporter);
  reporter.Summary("extracted", run.written, run.bytes);
  return reporter.ExitCode();
}

}  // namespace kymf
