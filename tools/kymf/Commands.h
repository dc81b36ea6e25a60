// The commands of kymf, one function each, called by main once the command
// line is parsed. Each returns the exit code (kSuccess, kFailure, kUsage)
// and says every failure through the Reporter.
#ifndef KYMF_COMMANDS_H
#define KYMF_COMMANDS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "multifile/ArchiveLock.h"
#include "support/Reporter.h"

namespace kymf {

// Everything the command line can say; each command reads its part.
struct Options {
  std::string archive;                // "-": standard input or output, where allowed
  std::vector<std::string> inputs;    // create, add: files and folders
  std::vector<std::string> patterns;  // list, cat, extract, delete: globs or folders
  std::vector<std::string> excludes;  // create, add, list, extract: --exclude
  std::vector<std::string> lists;     // create, add: -T, files of inputs ("-": stdin)
  bool nullSeparated = false;         // create, add: --null, -T's names end in NUL, not LF
  bool noHeader = false;              // list -l: no line of column names
  std::string split;                  // create, add: --split SIZE, the largest volume
  std::int64_t splitBytes = 0;        // its bytes (ParseSplit); 0 without --split
  std::vector<std::string> paths;     // list, cat: --path sources, the last one searched first
  std::string as;                     // add: the one input's entry name
  std::string folder;                 // extract, resources --all: -C; create, add: read from -C
  std::string from, to;               // rename
  bool longFormat = false;            // list -l
  bool json = false;                  // list, verify, resources
  bool force = false;                 // extract: replace what exists
  bool keep = false;                  // extract: keep what exists
  bool replace = false;               // add: replace entries of the same name
  bool noWait = false;                // create, add, delete, rename: refuse a locked archive
  bool dereference = false;           // create, add: -h, follow symbolic links
  bool keepGoing = false;             // create, add: -k, skip names that cannot be stored
  bool strict = false;                // verify: warnings fail too
  bool hex = false;                   // cat, extract: patterns as the hex of names
  bool sums = false;                  // create: write the sums file too
  bool check = false;                 // cat, extract: entries checked against the sums file
  // resources
  std::string module, name, type, output, language;
  bool all = false;
  bool foreground = false;  // mount: -f
  // mount -o: options passed on to FUSE, each comma-separated.
  std::vector<std::string> fuseOptions;
  // Reading over the network: a CA file trusted besides the system's, and
  // one header line (only "Authorization: ..." is taken).
  std::string caFile, header;
  // --timeout SECONDS (0: the library's own) and --netrc-file FILE.
  double timeout = 0;
  std::string netrcFile;
};

// How long a writing command waits for another writer of its archive before
// it gives up, in milliseconds.
constexpr std::uint32_t kLockWait = 60000;

// How a writing command waits for its archive's lock, as the command line
// says: up to kLockWait, saying "kymf: waiting for the lock on <archive>" on
// standard error when the wait begins; not at all with --no-wait.
RXM::LockWait LockWaitOf(const Options& options);
// Makes `writer` wait for the archive's lock as LockWaitOf says.
// Also has it write the sums file when --sums asks (and keep an existing one
// current in any case), digesting entries on every processor.
void WaitForLock(MultiFileWriter& writer, const Options& options);
// After a Commit that succeeded: reports (exit 1) a sums file that could not
// be brought up to date with the archive.
void ReportSums(const MultiFileWriter& writer, Reporter& reporter);
// The processors this machine has (at least 1).
unsigned Processors();

struct Input;
// Adds `inputs` to `writer`, naming each with -v and showing the progress
// of writing `archive`, and commits, or writes the archive to `out` when it
// is given (standard output, in one pass); false (reported) on failure.
bool WriteInputs(MultiFileWriter& writer, const std::vector<Input>& inputs,
                 const std::string& archive, Reporter& reporter, std::FILE* out = nullptr);

// Volume sets (VolumeCommands.cpp, docs/volumes.md). ParseSplit reads
// --split SIZE into splitBytes: false (a usage error said) when it is no
// size from 1 byte to 2,147,483,647. VolumeLimit: the largest volume, by
// --split or the format. IsVolumeSet: whether a volume 2 follows `archive`.
bool ParseSplit(Options& options, Reporter& reporter);
std::int64_t VolumeLimit(const Options& options);
bool IsVolumeSet(const std::string& archive);
// create of a file, add, delete (of `names`) and rename, each holding the
// first volume's lock throughout: kSuccess, or kFailure (reported).
int CreateSet(const Options& options, const std::vector<Input>& inputs, Reporter& reporter);
int AddToSet(const Options& options, const std::vector<Input>& inputs, Reporter& reporter);
int DeleteFromSet(const Options& options, const std::vector<std::string>& names,
                  Reporter& reporter);
int RenameInSet(const Options& options, Reporter& reporter);

int CreateCommand(const Options& options, Reporter& reporter);
int AddCommand(const Options& options, Reporter& reporter);
int ListCommand(const Options& options, Reporter& reporter);
int CatCommand(const Options& options, Reporter& reporter);
// list and cat over the search path of --path; `archive` is then a name.
int ListPathCommand(const Options& options, Reporter& reporter);
int CatPathCommand(const Options& options, Reporter& reporter);
int ExtractCommand(const Options& options, Reporter& reporter);
int DeleteCommand(const Options& options, Reporter& reporter);
int RenameCommand(const Options& options, Reporter& reporter);
int VerifyCommand(const Options& options, Reporter& reporter);
int SumsCommand(const Options& options, Reporter& reporter);
int ResourcesCommand(const Options& options, Reporter& reporter);
// inputs: the archives, then the mount point (with --path, the mount point
// alone).
int MountCommand(const Options& options, Reporter& reporter);
// inputs: the one mount point, a kymf mount's.
int UmountCommand(const Options& options, Reporter& reporter);

}  // namespace kymf

#endif  // KYMF_COMMANDS_H
