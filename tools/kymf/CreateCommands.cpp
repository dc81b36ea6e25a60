// create and add: archives written in one pass by MultiFileWriter, which
// replaces the archive once, or leaves it as it was.
#include <cstdio>
#include <string>

#include "Commands.h"
#include "support/InputCollector.h"
#include "support/NameEscaping.h"
#include "support/Selection.h"
#include "support/TemporaryArchive.h"

namespace kymf {
namespace {

struct Progress {
  const std::vector<Input>* inputs;
  Reporter* reporter;
};

// How the command line asks for inputs to be found and named.
CollectRules RulesOf(const Options& options) {
  CollectRules rules;
  rules.dereference = options.dereference;
  rules.keepGoing = options.keepGoing;
  rules.base = options.folder;
  rules.archive = options.archive;
  return rules;
}

// Collects every input; false (each fault reported) when any cannot be
// stored, before anything is written.
bool Collect(const Options& options, Reporter& reporter, InputCollector& collector) {
  bool ok = true;
  for (const std::string& input : options.inputs) {
    ok = collector.Add(input) && ok;
  }
  if (ok && !options.as.empty()) {
    if (collector.GetInputs().size() != 1) {
      reporter.Usage("--as names one file: give exactly one FILE");
      return false;
    }
    ok = collector.Rename(options.as);
  }
  return ok;
}

}  // namespace

bool WriteInputs(MultiFileWriter& writer, const std::vector<Input>& inputs, Reporter& reporter) {
  writer.SetAllowEmpty(true);
  for (const Input& input : inputs) {
    writer.AddFile(input.name.c_str(), input.path.c_str());
  }
  Progress progress{&inputs, &reporter};
  writer.SetProgress(
      [](int done, int total, void* context) {
        // Kept entries, when there are any, are counted first.
        const Progress& p = *static_cast<Progress*>(context);
        const long index =
            static_cast<long>(done) - 1 - (total - static_cast<long>(p.inputs->size()));
        if (index >= 0 && index < static_cast<long>(p.inputs->size())) {
          p.reporter->Verbose(EscapeName((*p.inputs)[static_cast<std::size_t>(index)].name));
        }
      },
      &progress);
  if (!writer.Commit()) {
    reporter.Fail(writer.GetStatus());
    return false;
  }
  ReportSums(writer, reporter);
  return true;
}

int CreateCommand(const Options& options, Reporter& reporter) {
  const bool toStandardOutput = options.archive == "-";
  if (toStandardOutput) {
    reporter.SetInfoStream(stderr);
  }
  Selection excludes(options.excludes);
  InputCollector collector(reporter, excludes, RulesOf(options));
  if (!Collect(options, reporter, collector)) {
    return reporter.GetFailures() ? kFailure : kUsage;
  }
  TemporaryArchive temporary;
  std::string path = options.archive;
  if (toStandardOutput) {
    const RXM::Status made = temporary.Make();
    if (!made.IsOk()) {
      reporter.Fail(made);
      return kFailure;
    }
    path = temporary.GetPath();
  }
  if ((options.sums || !options.split.empty()) && toStandardOutput) {
    reporter.Usage(options.sums ? "create --sums writes a file beside the archive: give the "
                                  "archive's file name"
                                : "create --split writes volumes beside the archive: standard "
                                  "output is never a set");
    return kUsage;
  }
  if (!toStandardOutput) {  // a set of volumes, or one archive that ends an older set
    if (CreateSet(options, collector.GetInputs(), reporter) != kSuccess) {
      return kFailure;
    }
  } else {
    MultiFileWriter writer(path.c_str());
    WaitForLock(writer, options);
    if (!WriteInputs(writer, collector.GetInputs(), reporter)) {
      return kFailure;
    }
    const RXM::Status copied = temporary.ToStandardOutput();
    if (!copied.IsOk()) {
      reporter.Fail(copied);
      return kFailure;
    }
  }
  reporter.Summary("created", static_cast<std::int64_t>(collector.GetInputs().size()),
                   collector.GetTotalBytes());
  return reporter.ExitCode();  // a failure here: names skipped by -k
}

int AddCommand(const Options& options, Reporter& reporter) {
  if (options.archive == "-") {
    reporter.Usage("add: the archive must be a file, not standard input");
    return kUsage;
  }
  Selection excludes(options.excludes);
  InputCollector collector(reporter, excludes, RulesOf(options));
  if (!Collect(options, reporter, collector)) {
    return reporter.GetFailures() ? kFailure : kUsage;
  }
  if (AddToSet(options, collector.GetInputs(), reporter) != kSuccess) {
    return kFailure;
  }
  reporter.Summary("added", static_cast<std::int64_t>(collector.GetInputs().size()),
                   collector.GetTotalBytes());
  return reporter.ExitCode();  // a failure here: names skipped by -k
}

}  // namespace kymf
