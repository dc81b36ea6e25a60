// list and cat: reading an archive without writing anything.
//
// Both read one archive through OpenedArchive; with --path they read a search
// path instead (PathCommands.cpp).
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "Commands.h"
#include "support/BlockCopy.h"
#include "support/HexName.h"
#include "support/NameEscaping.h"
#include "support/OpenedArchive.h"
#include "support/Progress.h"
#include "support/Selection.h"

namespace kymf {
namespace {

void PrintJsonEntry(OpenedArchive& source, int index, bool first) {
  const MultiFileElement* element = &source.GetRecord(index);
  std::printf(
      "%s\n  {\"name\": %s, \"name_hex\": \"%s\", \"size\": %lu, \"dataStart\": %ld, "
      "\"dataEnd\": %ld}",
      first ? "" : ",", JsonString(source.GetName(index)).c_str(),
      HexOf(source.GetName(index)).c_str(), static_cast<unsigned long>(source.GetSize(index)),
      static_cast<long>(element->dataStart), static_cast<long>(element->dataEnd));
}

// The column names above list -l's lines, aligned as PrintPlainEntry aligns
// the values.
void PrintLongHeader() {
  std::printf("%12s %11s %11s  %s\n", "size", "dataStart", "dataEnd", "name");
}

void PrintPlainEntry(OpenedArchive& source, int index, bool longFormat) {
  const std::string name = EscapeName(source.GetName(index));
  if (!longFormat) {
    std::printf("%s\n", name.c_str());
    return;
  }
  const MultiFileElement* element = &source.GetRecord(index);
  std::printf("%12lu %11ld %11ld  %s\n", static_cast<unsigned long>(source.GetSize(index)),
              static_cast<long>(element->dataStart), static_cast<long>(element->dataEnd),
              name.c_str());
}

// Writes the entry of record `index` to standard output, after checking that
// the archive holds all of it, so that a damaged entry gives no output.
bool CatEntry(OpenedArchive& source, int index, std::FILE* out, Progress& progress,
              Reporter& reporter) {
  MultiFile& archive = source.GetArchive(index);
  const std::string name = source.GetName(index);
  RXM::Status backed = source.CheckEntry(index);
  if (backed.IsOk()) {
    backed = source.CheckAgainstSums(index);
  }
  if (!backed.IsOk()) {
    source.Fail(backed, reporter);
    return false;
  }
  if (!archive.OpenFile(name.c_str(), "rb")) {
    source.Fail(archive.GetStatus(), reporter);
    return false;
  }
  const WriteBlock write = WriteTo(out);
  const CopyResult copy =
      CopyStream(archive, [&write, &progress](const char* data, std::size_t size) {
        progress.Advance(size);
        return write(data, size);
      });
  if (!copy.written) {
    reporter.FailSystem("-", errno);
    return false;
  }
  if (copy.copied != source.GetSize(index)) {
    source.Fail(source.ReadFailure(index), reporter);
    return false;
  }
  return true;
}

// Opens the one archive a reading command names into `source`: 0 to go on,
// kUsage (with `usage`) when the command line lacks what it needs, kFailure
// when the archive cannot be opened (reported).
int OpenNamedArchive(const Options& options, bool complete, const char* usage,
                     OpenedArchive& source, Reporter& reporter) {
  if (!complete) {
    reporter.Usage(usage);
    return kUsage;
  }
  return source.Open(options.archive, reporter) ? 0 : kFailure;
}

}  // namespace

int ListCommand(const Options& options, Reporter& reporter) {
  if (!options.paths.empty()) {
    return ListPathCommand(options, reporter);
  }
  OpenedArchive source;
  if (const int refused = OpenNamedArchive(options, !options.archive.empty(),
                                           "list needs an ARCHIVE, or --path", source, reporter);
      refused != 0) {
    return refused;
  }
  Selection selection(options.patterns);
  const Selection excludes(options.excludes);
  bool first = true;
  if (options.json) {
    std::printf("[");
  } else if (options.longFormat && !options.noHeader) {
    PrintLongHeader();
  }
  for (int i = 0; i < source.GetCount(); ++i) {
    if (!selection.Selects(source.GetName(i)) || excludes.Excludes(source.GetName(i))) {
      continue;
    }
    if (options.json) {
      PrintJsonEntry(source, i, first);
    } else {
      PrintPlainEntry(source, i, options.longFormat);
    }
    first = false;
  }
  if (options.json) {
    std::printf("%s]\n", first ? "" : "\n");
  }
  ReportUnmatched(selection, source.GetShown(), reporter);
  return reporter.ExitCode();
}

int CatCommand(const Options& options, Reporter& reporter) {
  if (!options.paths.empty()) {
    return CatPathCommand(options, reporter);
  }
  OpenedArchive source;
  if (const int refused =
          OpenNamedArchive(options, !options.patterns.empty(),
                           "cat needs an ARCHIVE and the entries to write", source, reporter);
      refused != 0) {
    return refused;
  }
  std::vector<std::string> patterns;
  if (!ReadPatterns(options.patterns, options.hex, reporter, patterns)) {
    return kUsage;
  }
  if (options.check && !source.LoadSumsForCheck(reporter)) {
    return kFailure;
  }
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);  // or every LF written would become CR LF
#endif
  Selection selection(patterns, options.hex);
  std::vector<int> chosen;
  std::uint64_t total = 0;
  for (int i = 0; i < source.GetCount(); ++i) {
    if (!source.IsShadowed(i) && selection.Selects(source.GetName(i))) {
      chosen.push_back(i);
      total += source.GetSize(i);
    }
  }
  // Into a file or a pipe; bytes on a terminal are their own progress.
  Progress::Display display = Progress::Display::For(reporter);
  if (IsTerminal(stdout) && !reporter.ForcesProgress()) {
    display.out = nullptr;
  }
  Progress progress(display, "cat " + source.GetShown(), total);
  for (const int i : chosen) {
    CatEntry(source, i, stdout, progress, reporter);
  }
  ReportUnmatched(selection, source.GetShown(), reporter);
  if (std::fflush(stdout) != 0) {
    reporter.FailSystem("-", errno);
  }
  return reporter.ExitCode();
}

}  // namespace kymf
