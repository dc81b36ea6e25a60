// verify: every finding the library's layout check makes about an archive,
// each with its entry and reason; then, with a sums file beside it, every
// entry's bytes against its SHA-256 sum.
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "Commands.h"
#include "files/Url.h"
#include "multifile/VolumeSet.h"
#include "support/NameEscaping.h"
#include "support/OpenedArchive.h"
#include "support/Progress.h"

namespace kymf {
namespace {

struct SumsCheck;
void PrintSumsJson(const OpenedArchive& source, const SumsCheck& check);

using RXM::multifile::Finding;
using RXM::multifile::Severity;

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
                RXM::multifile::DescribeFinding(finding.kind), EscapeName(finding.reason).c_str());
  }
}

void PrintJson(OpenedArchive& source, const RXM::multifile::LayoutReport& report, bool ok,
               const SumsCheck& sums) {
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
        finding.other, JsonString(RXM::multifile::DescribeFinding(finding.kind)).c_str(),
        SeverityText(finding.severity), JsonString(finding.reason).c_str());
    separator = ",";
  }
  std::printf("%s], ", findings.empty() ? "" : "\n");
  PrintSumsJson(source, sums);
  std::printf("}\n");
}

// What the sums file says of the archive's bytes.
struct SumsCheck {
  bool present = false;    // a sums file was found
  bool stale = false;      // written for another archive, and not matching this one
  RXM::Status unreadable;  // the sums file exists but cannot be read
  int checked = 0;
  std::vector<std::string> damaged, unlisted, missing;  // each a reason, naming the entry
  std::vector<std::string> differing;                   // "<archive>: <entry>" of each damaged one
  bool Failed() const {
    return !unreadable.IsOk() || stale || !damaged.empty() || !unlisted.empty() || !missing.empty();
  }
};

// Every entry the layout allows is read and held against its line; names on
// either side alone are said. A sums file that does not match the archive
// and was written before the archive file was made was left behind (by a
// writer that knew nothing of it, or a crash between the two renames):
// stale, one finding, its mismatches not called damage.
SumsCheck CheckSums(OpenedArchive& source, const Reporter& reporter) {
  SumsCheck check;
  std::vector<RXM::EntrySum> sums;
  bool older = false;
  const RXM::Status read = source.ReadSums(&sums, &older);
  if (RXM::IsNoSumsFile(read)) {
    return check;
  }
  check.present = true;
  if (!read.IsOk()) {
    check.unreadable = read;
    return check;
  }
  std::set<std::string> named;
  std::uint64_t total = 0;
  for (int i = 0; i < source.GetCount(); ++i) {
    total += source.GetSize(i);
  }
  Progress progress(Progress::Display::For(reporter), "verify " + source.GetShown(), total);
  for (int i = 0; i < source.GetCount(); ++i) {
    const std::string name = source.GetName(i);
    named.insert(name);
    const bool hashed = source.CheckEntry(i).IsOk() && !source.IsShadowed(i);
    const RXM::Status sum = hashed ? source.CheckSum(i, sums, false) : RXM::Status::Ok();
    progress.Advance(source.GetSize(i));
    if (!hashed) {
      continue;  // the layout's findings say it already
    }
    ++check.checked;
    if (sum.GetCode() == RXM::ErrorCode::kNoSuchEntry) {
      check.unlisted.push_back(sum.GetText());
    } else if (!sum.IsOk()) {
      check.damaged.push_back(sum.GetText());
      check.differing.push_back(source.GetShown() + ": " + name);
    }
  }
  for (const RXM::EntrySum& line : sums) {
    if (named.count(line.name) == 0) {
      check.missing.push_back(source.GetShown() + ": " + line.name +
                              ": in the sums file, not in the archive");
    }
  }
  const bool mismatch = !check.damaged.empty() || !check.unlisted.empty() || !check.missing.empty();
  check.stale = mismatch && older;
  return check;
}

std::string SumsFile(const OpenedArchive& source) {
  return RXM::SumsPathOf(source.GetShown());
}

void PrintSumsPlain(const OpenedArchive& source, const SumsCheck& check) {
  const std::string shown = EscapeName(source.GetShown());
  if (!check.present) {
    return;  // the summary says so
  }
  if (!check.unreadable.IsOk()) {
    std::printf("%s: error: %s\n", shown.c_str(), EscapeName(check.unreadable.GetText()).c_str());
    return;
  }
  if (check.stale) {
    std::printf(
        "%s: error: stale: %s does not describe this archive (%zu entries differ; "
        "the archive was replaced without it; kymf sums %s writes it anew)\n",
        shown.c_str(), EscapeName(SumsFile(source)).c_str(),
        check.damaged.size() + check.unlisted.size() + check.missing.size(), shown.c_str());
  }
  // Stale sums say nothing of damage: the entries that differ are named as such.
  if (check.stale) {
    for (const std::string& entry : check.differing) {
      std::printf("%s: differs from the stale sums file\n", EscapeName(entry).c_str());
    }
  }
  const std::vector<std::string> none;
  for (const auto* list : {check.stale ? &none : &check.damaged, &check.unlisted, &check.missing}) {
    for (const std::string& finding : *list) {  // each names the archive and the entry
      std::printf("%s\n", EscapeName(finding).c_str());
    }
  }
}

void PrintSumsJson(const OpenedArchive& source, const SumsCheck& check) {
  if (!check.present) {
    std::printf("\"sums\": null");
    return;
  }
  std::printf("\"sums\": {\"file\": %s, \"checked\": %d, \"stale\": %s, \"error\": %s",
              JsonString(SumsFile(source)).c_str(), check.checked, check.stale ? "true" : "false",
              check.unreadable.IsOk() ? "null" : JsonString(check.unreadable.GetText()).c_str());
  const char* keys[] = {"damaged", "unlisted", "missing"};
  const std::vector<std::string>* lists[] = {&check.damaged, &check.unlisted, &check.missing};
  for (int k = 0; k < 3; ++k) {
    std::printf(", \"%s\": [", keys[k]);
    const char* separator = "";
    for (const std::string& finding : *lists[k]) {
      std::printf("%s%s", separator, JsonString(finding).c_str());
      separator = ", ";
    }
    std::printf("]");
  }
  std::printf("}");
}

// Verifies the one archive `path` (a volume alone when `alone`); kSuccess or
// kFailure.
int VerifyArchive(const Options& options, const std::string& path, bool alone, Reporter& reporter) {
  OpenedArchive source;
  if (!source.Open(path, reporter, alone)) {
    return kFailure;
  }
  const RXM::multifile::LayoutReport report =
      source.GetVolume(0).CheckArchive(options.all ? SIZE_MAX : kFindingsShown);
  const SumsCheck sums = CheckSums(source, reporter);
  const bool failed = report.errors > 0 || (options.strict && report.total > 0) || sums.Failed();
  if (options.json) {
    PrintJson(source, report, !failed, sums);
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
  PrintSumsPlain(source, sums);
  if (report.total == 0 && !sums.Failed() && !reporter.IsQuiet()) {
    const std::string data =
        sums.present ? ", every one's bytes match its sum"
                     : " (data not checked: no sums file; kymf sums " + shown + " writes one)";
    std::printf("%s: OK, %d %s%s\n", shown.c_str(), source.GetCount(),
                source.GetCount() == 1 ? "entry" : "entries", data.c_str());
  }
  return failed ? kFailure : kSuccess;
}

// A set: each volume verified as the archive it is, then what keeps the set
// from being read whole: a volume that is missing before others (they are
// named) or cannot be read as an archive (said by its own verification).
int VerifySet(const Options& options, const std::vector<std::string>& volumes,
              const std::vector<std::string>& strays, Reporter& reporter) {
  const std::string shown = EscapeName(RXM::RedactUrl(options.archive));
  bool failed = false;
  if (options.json) {
    std::printf("{\"archive\": %s, \"volumes\": [\n", JsonString(shown).c_str());
  }
  std::vector<std::string> unreadable;
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    if (options.json && i > 0) {
      std::printf(",");
    }
    const int before = reporter.GetFailures();
    failed = VerifyArchive(options, volumes[i], true, reporter) != kSuccess || failed;
    if (reporter.GetFailures() != before) {
      unreadable.push_back(volumes[i]);
      std::printf("%s", options.json ? "null\n" : "");
    }
  }
  const std::string missing =
      RXM::VolumeName(options.archive, static_cast<int>(volumes.size()) + 1);
  if (options.json) {
    std::printf("], \"unreadable\": [");
    for (std::size_t i = 0; i < unreadable.size(); ++i) {
      std::printf("%s%s", i ? ", " : "", JsonString(RXM::RedactUrl(unreadable[i])).c_str());
    }
    std::printf("], \"missing\": %s, \"ok\": %s}\n",
                strays.empty() ? "null" : JsonString(missing).c_str(),
                failed || !strays.empty() ? "false" : "true");
  }
  for (const std::string& stray : strays) {
    if (!options.json) {
      std::printf("%s: error: volume %s is missing: %s after it is not read\n", shown.c_str(),
                  EscapeName(missing).c_str(), EscapeName(stray).c_str());
    }
  }
  return failed || !strays.empty() ? kFailure : kSuccess;
}

}  // namespace

int VerifyCommand(const Options& options, Reporter& reporter) {
  std::vector<std::string> volumes;
  const RXM::Status listed = ListVolumes(options.archive, &volumes);
  if (!listed.IsOk()) {
    reporter.Fail(listed);
    return kFailure;
  }
  const std::vector<std::string> strays =
      RXM::IsRemoteUrl(options.archive.c_str()) || options.archive == "-"
          ? std::vector<std::string>()
          : RXM::FindStrayVolumes(RXM::sys::System::Default(), options.archive,
                                  static_cast<int>(volumes.size()));
  if (volumes.size() == 1 && strays.empty()) {
    return VerifyArchive(options, options.archive, true, reporter);
  }
  return VerifySet(options, volumes, strays, reporter);
}

}  // namespace kymf
