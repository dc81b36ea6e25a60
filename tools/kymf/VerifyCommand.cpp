// verify: every finding the library's layout check makes about an archive,
// each with its entry and reason.
#include <cstdint>
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

// Findings printed without --all: enough to see what is wrong.
constexpr std::size_t kFindingsShown = 100;

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

void PrintJson(OpenedArchive& source, const RXM::kymf::LayoutReport& report, bool ok) {
  const std::vector<Finding>& findings = report.first;
  std::printf(
      "{\"archive\": %s, \"entries\": %d, \"ok\": %s, \"findings_total\": %lld, "
      "\"findings\": [",
      JsonString(source.GetShown()).c_str(), source.GetCount(), ok ? "true" : "false",
      static_cast<long long>(report.total));
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
  const RXM::kymf::LayoutReport report =
      source.GetArchive().CheckArchive(options.all ? SIZE_MAX : kFindingsShown);
  const bool failed = report.errors > 0 || (options.strict && report.total > 0);
  if (options.json) {
    PrintJson(source, report, !failed);
    return failed ? kFailure : kSuccess;
  }
  PrintPlain(source, report.first);
  const std::string shown = EscapeName(source.GetShown());
  const long long more =
      static_cast<long long>(report.total) - static_cast<long long>(report.first.size());
  if (more > 0) {
    std::printf("%s: %lld more %s not shown (--all shows every one)\n", shown.c_str(), more,
                more == 1 ? "finding" : "findings");
  }
  if (report.total == 0 && !reporter.IsQuiet()) {
    std::printf("%s: OK, %d %s\n", shown.c_str(), source.GetCount(),
                source.GetCount() == 1 ? "entry" : "entries");
  }
  return failed ? kFailure : kSuccess;
}

}  // namespace kymf
