// list and cat over a search path: `--path SOURCE` (repeatable) mounts
// folders, archives and Windows modules, each later one in front of the ones
// before, as a patch archive overrides its base.
//
//   kymf cat --path base.kymf --path patch.kymf levels/level1.map
//   kymf list --path base.kymf --path patch.kymf [FOLDER...]
//
// Names are the search path's own: "/"-separated and safe, matched as each
// source matches them. Patterns are not expanded here: cat takes names, list
// takes folders and lists everything below them.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include <RXMFiles.h>

#include "Commands.h"
#include "files/Url.h"
#include "searchpath/SearchPathWalk.h"
#include "support/BlockCopy.h"
#include "support/HexName.h"
#include "support/NameEscaping.h"
#include "support/Selection.h"

namespace kymf {
namespace {

// Mounts every source of `options` in order; false, with each failure said,
// when one cannot be mounted.
bool MountAll(const Options& options, SearchPath& path, Reporter& reporter) {
  bool mounted = true;
  for (const std::string& source : options.paths) {
    RXM::Status why;
    if (path.Mount(source.c_str(), "", false, why)) {
      continue;
    }
    mounted = false;
    // The library's own words, which name the source (something there that
    // is none of the three is said as such); a URL whose answer is no
    // archive may be the server's doing.
    if (RXM::IsRemoteUrl(source.c_str()) && why.GetCode() == RXM::ErrorCode::kNotAnArchive) {
      reporter.Fail(RXM::RedactUrl(source),
                    "cannot be mounted (not a KYMF archive, or the server cannot give it)");
    } else {
      reporter.Fail(why);
    }
  }
  return mounted;
}

// The names given after the options: with --path, the first positional
// argument is a name too, not an archive.
std::vector<std::string> NamesOf(const Options& options) {
  std::vector<std::string> names;
  if (!options.archive.empty()) {
    names.push_back(options.archive);
  }
  names.insert(names.end(), options.patterns.begin(), options.patterns.end());
  return names;
}

// Prints every file below `folder`, depth first, by the search path's one
// walk; an excluded name is left out with everything below it. The number
// printed.
int ListBelow(const SearchPath& path, const std::string& folder, const Selection& excludes,
              bool json, bool& first) {
  int printed = 0;
  RXM::WalkSearchPath(path, folder, [&](const RXM::PathEntry& entry) {
    if (excludes.Excludes(entry.name)) {
      return false;  // and everything below it
    }
    if (entry.kind != RXM::PathKind::kFile) {
      return entry.kind == RXM::PathKind::kFolder;
    }
    if (json) {
      std::printf("%s\n  {\"name\": %s, \"name_hex\": \"%s\", \"size\": %ld}", first ? "" : ",",
                  JsonString(entry.name).c_str(), HexOf(entry.name).c_str(), entry.size);
    } else {
      std::printf("%s\n", EscapeName(entry.name).c_str());
    }
    first = false;
    ++printed;
    return false;
  });
  return printed;
}

bool CatName(const SearchPath& path, const std::string& name, Reporter& reporter) {
  RXM::Status why;
  const Pointer<KYFile> stream = path.Open(name.c_str(), why);
  if (stream.IsNull()) {
    // A name no source has, or the reason of the source that has it but
    // refuses it (bytes that are not the entry's own, a truncation, ...).
    if (why.GetCode() == RXM::ErrorCode::kNoSuchEntry || why.IsOk()) {
      reporter.Fail(name, "not found in the search path");
    } else {
      reporter.Fail(why);
    }
    return false;
  }
  const CopyResult copy = CopyStream(*stream, WriteTo(stdout));
  if (!copy.written) {
    reporter.FailSystem("-", errno);
    return false;
  }
  if (copy.copied != stream->GetFileSize()) {
    reporter.Fail(name, RXM::Describe(RXM::ErrorCode::kTruncated));
    return false;
  }
  return true;
}

}  // namespace

int ListPathCommand(const Options& options, Reporter& reporter) {
  SearchPath path;
  if (!MountAll(options, path, reporter)) {
    return kFailure;
  }
  std::vector<std::string> folders = NamesOf(options);
  if (folders.empty()) {
    folders.push_back("");
  }
  bool first = true;
  if (options.json) {
    std::printf("[");
  }
  const Selection excludes(options.excludes);
  for (const std::string& folder : folders) {
    if (ListBelow(path, folder, excludes, options.json, first) == 0 && !folder.empty()) {
      reporter.Fail(folder, "matches nothing in the search path");
    }
  }
  if (options.json) {
    std::printf("%s]\n", first ? "" : "\n");
  }
  return reporter.ExitCode();
}

int CatPathCommand(const Options& options, Reporter& reporter) {
  SearchPath path;
  if (!MountAll(options, path, reporter)) {
    return kFailure;
  }
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);  // or every LF written would become CR LF
#endif
  const std::vector<std::string> names = NamesOf(options);
  if (names.empty()) {
    reporter.Usage("cat --path needs the names of the files to write");
    return kUsage;
  }
  for (const std::string& name : names) {
    CatName(path, name, reporter);
  }
  if (std::fflush(stdout) != 0) {
    reporter.FailSystem("-", errno);
  }
  return reporter.ExitCode();
}

}  // namespace kymf
