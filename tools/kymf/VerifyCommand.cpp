// verify: every finding the library's layout check makes about an archive,
// each with its entry and reason.
#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "support/NameEscaping.h"
#include "support/OpenedArchive.h"

namespace kymf {
namespace {

using RXM::kymf::Finding;
using RXM::kymf::Severity;

const char* SeverityText(Severity severity) {
  return severity == Severity::kError ? "error" : "warning";
}

std::string EntryName(OpenedArchive& source, int index) {
  return index >= 0 && index < source.GetCount() ? source.GetName(index) : std::string();
}

void PrintPlain(OpenedArchive& source, const std::vector<Finding>& findings) {
  for (const Finding& finding : findings) {
    std::string where = EscapeName(source.GetShown());
    if (finding.entry >= 0) {
      where += ": entry " + std::to_string(finding.entry) + " (" +
               EscapeName(EntryName(source, finding.entry)) + ")";
    }
    std::printf("%s: %s: %s: %s\n", where.c_str(), SeverityText(finding.severity),
                RXM::kymf::DescribeFinding(finding.kind), EscapeName(finding.reason).c_str());
  }
}

void PrintJson(OpenedArchive& source, const std::vector<Finding>& findings, bool ok) {
  std::printf("{\"archive\": %s, \"entries\": %d, \"ok\": %s, \"findings\": [",
              JsonString(source.GetShown()).c_str(), source.GetCount(), ok ? "true" : "false");
  const char* separator = "";
  for (const Finding& finding : findings) {
    std::printf(
        "%s\n  {\"entry\": %d, \"name\": %s, \"other\": %d, \"kind\": %s, "
        "\"severity\": \"%s\", \"reason\": %s}",
        separator, finding.entry, JsonString(EntryName(source, finding.entry)).c_str(),
        finding.other, JsonString(RXM::kymf::DescribeFinding(finding.kind)).c_str(),
        SeverityText(finding.severity), JsonString(finding.reason).c_str());
    separator = ",";
  }
  std::printf("%s]}\n", findings.empty() ? "" : "\n");
}

}  // namespace

int VerifyCommand(const Options& options, Reporter& reporter) {
  OpenedArchive source;
  if (!source.Open(options.archive, reporter)) {
    return kFailure;
  }
  const std::vector<Finding> findings = source.GetArchive().CheckArchive();
  bool failed = false;
  for (const Finding& finding : findings) {
    failed = failed || finding.severity == Severity::kError || options.strict;
  }
  if (options.json) {
    PrintJson(source, findings, !failed);
  } else {
    PrintPlain(source, findings);
    if (findings.empty() && !reporter.IsQuiet()) {
      std::printf("%s: OK, %d entries\n", EscapeName(source.GetShown()).c_str(), source.GetCount());
    }
  }
  return failed ? kFailure : kSuccess;
}

}  // namespace kymf
