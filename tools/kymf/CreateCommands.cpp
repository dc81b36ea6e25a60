// create and add: archives written in one pass by MultiFileWriter, which
// replaces the archive once, or leaves it as it was.
#include <cstdio>
#include <string>

#include "Commands.h"
#include "support/BlockCopy.h"
#include "support/InputCollector.h"
#include "support/NameEscaping.h"
#include "support/NameList.h"
#include "support/Progress.h"
#include "support/Selection.h"

namespace kymf {
namespace {

struct Naming {
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
  if (options.inputs.empty() && options.lists.empty()) {
    reporter.Usage("give the files and folders to store: PATH..., or -T FILE");
    return false;
  }
  std::vector<std::string> inputs = options.inputs;
  for (const std::string& list : options.lists) {
    const RXM::Status read = ReadNameList(list, options.nullSeparated, inputs);
    if (!read.IsOk()) {
      reporter.Fail(read);
      return false;
    }
  }
  bool ok = true;
  for (const std::string& input : inputs) {
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

bool WriteInputs(MultiFileWriter& writer, const std::vector<Input>& inputs,
                 const std::string& archive, Reporter& reporter, std::FILE* out) {
  writer.SetAllowEmpty(true);
  for (const Input& input : inputs) {
    writer.AddFile(input.name.c_str(), input.path.c_str());
  }
  Naming naming{&inputs, &reporter};
  writer.SetProgress(
      [](int done, int total, void* context) {
        // Kept entries, when there are any, are counted first.
        const Naming& p = *static_cast<Naming*>(context);
        const long index =
            static_cast<long>(done) - 1 - (total - static_cast<long>(p.inputs->size()));
        if (index >= 0 && index < static_cast<long>(p.inputs->size())) {
          p.reporter->Verbose(EscapeName((*p.inputs)[static_cast<std::size_t>(index)].name));
        }
      },
      &naming);
  // The total is known once Commit has measured the inputs: until its first
  // call the line shows bytes only.
  Progress progress(Progress::Display::For(reporter),
                    "write " + (archive == "-" ? std::string("to standard output") : archive), 0);
  writer.SetByteProgress(
      [](std::uint64_t done, std::uint64_t total, void* context) {
        static_cast<Progress*>(context)->Update(done, total);
      },
      &progress);
  if (out != nullptr) {
    BinaryMode(out);
    WidenPipe(out, std::size_t{1} << 20);
  }
  if (!(out != nullptr ? writer.CommitTo(out) : writer.Commit())) {
    const RXM::Status& why = writer.GetStatus();
    if (out != nullptr && why.GetCode() == RXM::ErrorCode::kWriteFailed) {
      reporter.FailSystem("-", why.GetSystemError());  // as every command says standard output
    } else {
      reporter.Fail(why);
    }
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
  if ((options.sums || !options.split.empty()) && toStandardOutput) {
    reporter.Usage(options.sums ? "create --sums writes a file beside the archive: give the "
                                  "archive's file name"
                                : "create --split writes volumes beside the archive: standard "
                                  "output is never a set");
    return kUsage;
  }
  if (toStandardOutput) {
    MultiFileWriter writer(options.archive.c_str());
    WaitForLock(writer, options);
    if (!WriteInputs(writer, collector.GetInputs(), options.archive, reporter, stdout)) {
      return kFailure;
    }
  } else if (CreateSet(options, collector.GetInputs(), reporter) != kSuccess) {
    // a set of volumes, or one archive that ends an older set
    return kFailure;
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
