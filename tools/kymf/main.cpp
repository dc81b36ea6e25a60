// kymf: create, list, change, extract and verify KYMF archives, and look
// into the resources of Windows modules. main parses the command line; each
// command lives in its own file (Commands.h).
#include <CLI/CLI.hpp>

#include <RXMFiles.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "Commands.h"
#include "files/Url.h"
#include "support/RemoteNames.h"
#include "support/Reporter.h"
#include "support/SignalCleanup.h"
#include "support/Suggestion.h"

namespace {

using kymf::Options;

constexpr const char* kDescription =
    "kymf: create, inspect, change and unpack KYMF multi-file archives, the archives of the "
    "RXM\nframework (many named files back to back in one file), and read the resources of "
    "Windows modules.\n\n"
    "ARCHIVE may be \"-\" for standard output (create) or standard input (list, cat, extract,\n"
    "verify); list, cat, extract, verify and --path also take an http:// or https:// URL.\n"
    "add, delete and rename change a file in place and need its name.\n"
    "A set of volumes (NAME.kymf, NAME.2.kymf, ... up to the first missing one; create\n"
    "--split writes one) reads as one archive wherever NAME.kymf is given.\n"
    "Writing: one writer at a time per archive; another waits for it (up to a minute,\n"
    "saying so), or fails at once with --no-wait. The archive is replaced whole, keeping its\n"
    "permissions; through a symbolic link, the file it points to is replaced and the link\n"
    "stays. A read-only archive is refused.\n"
    "PATTERN: a name, a folder (selects everything below it) or a glob: * and ? stay within\n"
    "one folder, ** crosses folders, [abc] [a-z] [!0-9] take one character of a class (a [\n"
    "without its ] is a plain character). Letter case is ignored, as the archive does. The\n"
    "same rule serves the PATTERNs of every command and --exclude (create, add, list,\n"
    "extract).\n"
    "create and add store a folder under its own name (cxx/12/a.txt; -C DIR . packs from\n"
    "inside DIR); symbolic links are skipped with a warning unless -h follows them, as are\n"
    "FIFOs, sockets, devices and the archive being written; -k skips names too long to store.\n"
    "list --json gives each name's bytes as name_hex; cat --hex and extract --hex take them.\n"
    "Exit codes: 0 success (also with warnings), 1 failure, 2 usage error.\n\n"
    "Examples:\n"
    "  kymf create game.kymf -C assets . --exclude '**/*.tmp'\n"
    "  kymf create --split 1G big.kymf data/   # big.kymf, big.2.kymf, ...\n"
    "  kymf list -l game.kymf 'levels/*'\n"
    "  kymf extract game.kymf -C out\n"
    "  kymf cat --path base.kymf --path patch.kymf levels/level1.map\n"
    "  kymf list https://cdn.example.com/game.kymf\n"
    "  kymf mount game.kymf mnt/ && ls mnt/ && kymf umount mnt/\n";

constexpr const char* kCommands[] = {"create",  "add",       "list",   "cat",
                                     "extract", "sums",      "delete", "rename",
                                     "verify",  "resources", "mount",  "umount"};

// " (did you mean 'list'?)" for a word a command is near to, or "".
std::string Suggestion(const std::string& word) {
  const std::string nearest =
      kymf::NearestWord(word, std::vector<std::string>(std::begin(kCommands), std::end(kCommands)));
  return nearest.empty() ? std::string() : " (did you mean '" + nearest + "'?)";
}

// The first word that is not an option names the command; an unknown one is
// said as such rather than as a stray argument.
bool UnknownCommand(int argc, char** argv, std::string& word) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') {
      continue;
    }
    word = argv[i];
    for (const char* command : kCommands) {
      if (word == command) {
        return false;
      }
    }
    return true;
  }
  return false;
}

struct OutputFlags {
  bool quiet = false;
  bool verbose = false;
  bool progress = false;
};

// -q, -v and --progress, on the program and on each command (kymf -q add
// ..., kymf add -q ...).
void AddOutputFlags(CLI::App& app, OutputFlags& flags) {
  app.add_flag("-q,--quiet", flags.quiet, "No summary lines, no progress");
  app.add_flag("-v,--verbose", flags.verbose, "Name each file as it is processed");
  app.add_flag("--progress", flags.progress,
               "Show a long job's progress even when standard error is not a terminal");
}

// A command-line error of the parser, said as the tool says its own:
// "kymf: the following argument was not expected: --bogus".
std::string UsageText(std::string text) {
  if (text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) &&
      !std::isupper(static_cast<unsigned char>(text[1]))) {
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  }
  return text;
}

struct Command {
  CLI::App* app;
  int (*run)(const Options&, kymf::Reporter&);
};

// --exclude, the same on create, add, list and extract.
void AddExcludeOption(CLI::App& command, Options& o) {
  command
      .add_option("--exclude", o.excludes,
                  "Leave out the entries this PATTERN selects (repeatable; a folder: "
                  "everything below it)")
      ->type_name("PATTERN")
      ->allow_extra_args(false);
}

std::vector<Command> AddWritingCommands(CLI::App& app, Options& o) {
  CLI::App* create = app.add_subcommand("create", "Make a new archive from files and folders");
  create->add_option("ARCHIVE", o.archive, "The archive to write (replaced), or - for stdout")
      ->required();
  create->add_option("PATH", o.inputs,
                     "Files and folders: a file is stored under its name, a folder's files "
                     "under the folder's name and their path below it (. for a folder's "
                     "contents)");
  create->add_flag("--sums", o.sums,
                   "Also write ARCHIVE.sha256, a SHA-256 sum per entry (sha256sum's format), "
                   "which writers then keep current");

  CLI::App* add = app.add_subcommand("add", "Add files to an existing archive, in one pass");
  add->add_option("ARCHIVE", o.archive, "The archive (a file)")->required();
  add->add_option("PATH", o.inputs, "Files and folders to add, named as create names them");
  add->add_option("--as", o.as, "The entry name for the one file given");
  add->add_flag("--replace", o.replace, "Replace entries of the same name");
  for (CLI::App* command : {create, add}) {
    AddExcludeOption(*command, o);
    command->set_help_flag("--help", "Print this help message and exit");
    command
        ->add_option("-T,--files-from", o.lists,
                     "Also the PATHs named in FILE, one per line (- for standard input)")
        ->type_name("FILE")
        ->allow_extra_args(false);
    command->add_flag("--null", o.nullSeparated, "-T's names end in a NUL byte, not a line feed");
    command->add_option("-C,--directory", o.folder,
                        "Read the PATHs from inside this folder (as tar -C): -C assets . stores "
                        "what assets/ holds");
    command->add_flag("-h,--dereference", o.dereference,
                      "Follow symbolic links (a link back to a folder it is in is skipped); "
                      "without -h each link is skipped with a warning");
    command
        ->add_option("--split", o.split,
                     "Write volumes of at most SIZE bytes (K, M, G: 1024-based; at most "
                     "2147483647): ARCHIVE, then NAME.2.kymf, NAME.3.kymf, ... (no entry "
                     "split; docs/volumes.md). add: the largest a volume grows to")
        ->type_name("SIZE");
    command->add_flag("-k,--keep-going", o.keepGoing,
                      "Skip each file whose name cannot be stored (too long, refused), pack the "
                      "rest, and exit 1");
  }

  CLI::App* remove = app.add_subcommand("delete", "Remove entries from an archive, in one pass");
  remove->add_option("ARCHIVE", o.archive, "The archive (a file)")->required();
  remove->add_option("PATTERN", o.patterns, "Entries to remove")->required();

  CLI::App* rename = app.add_subcommand("rename", "Give an entry a new name");
  rename->add_option("ARCHIVE", o.archive, "The archive (a file)")->required();
  rename->add_option("FROM", o.from, "The entry")->required();
  rename->add_option("TO", o.to, "Its new name")->required();

  CLI::App* sums = app.add_subcommand(
      "sums", "Write ARCHIVE.sha256 anew: a SHA-256 sum per entry, for verify and --check");
  sums->add_option("ARCHIVE", o.archive, "The archive (a file)")->required();
  for (CLI::App* writing : {create, add, remove, rename, sums}) {
    writing->add_flag("--no-wait", o.noWait,
                      "Fail at once when another writer is changing the archive (by default, "
                      "wait for it up to a minute)");
  }
  return {{create, kymf::CreateCommand},
          {add, kymf::AddCommand},
          {remove, kymf::DeleteCommand},
          {sums, kymf::SumsCommand},
          {rename, kymf::RenameCommand}};
}

// --cacert and --header on every command that reads an archive, which may be
// an http(s) URL.
void AddRemoteOptions(CLI::App& command, Options& o) {
  command.add_option("--cacert", o.caFile, "With a URL: trust this PEM file's CAs too");
  command.add_option("--header", o.header,
                     "With a URL: send this 'Authorization: VALUE' header line");
  command.add_option("--timeout", o.timeout,
                     "With a URL: give up on a request after SECONDS (plus its bytes' time)");
  command.add_option("--netrc-file", o.netrcFile,
                     "With a URL: the user and password for its host from this netrc file");
}

// The remote options reach the library through its environment variables, so
// that archives and --path mounts alike see them. False (said) for a header
// other than Authorization.
bool ApplyRemoteOptions(const Options& o) {
  // Set at the start, before any thread reads the environment.
  const auto set = [](const char* name, const std::string& value) {
#if defined(_WIN32)
    (void)_putenv_s(name, value.c_str());
#else
    (void)setenv(name, value.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
#endif
  };
  if (!o.caFile.empty()) {
    set("RXMFILES_CA_FILE", o.caFile);
  }
  if (o.timeout > 0) {
    set("RXMFILES_HTTP_TIMEOUT", std::to_string(o.timeout));
  }
  if (!o.netrcFile.empty()) {
    set("RXMFILES_NETRC_FILE", o.netrcFile);
  }
  if (o.header.empty()) {
    return true;
  }
  const std::string prefix = "authorization:";
  std::string name = o.header.substr(0, prefix.size());
  for (char& c : name) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (name != prefix) {
    (void)std::fprintf(stderr, "kymf: --header: only 'Authorization: VALUE' is sent\n");
    return false;
  }
  set("RXMFILES_HTTP_AUTHORIZATION",
      o.header.substr(o.header.find_first_not_of(' ', prefix.size())));
  return true;
}

// Writing commands and resources read files only: a URL is refused before
// the library could take it for a path, named as every URL is (redacted).
bool RefuseRemote(const std::string& command, const Options& o, kymf::Reporter& reporter) {
  const bool writes = command == "create" || command == "add" || command == "delete" ||
                      command == "rename" || command == "sums";
  const std::string& named = writes ? o.archive : o.module;
  if ((writes || command == "resources") && RXM::IsRemoteUrl(named.c_str())) {
    reporter.Fail(RXM::RedactUrl(named), writes ? "an archive over the network is read-only"
                                                : "a module is read from a file, not a URL");
    return true;
  }
  for (const std::string& input : writes ? o.inputs : std::vector<std::string>()) {
    if (RXM::IsRemoteUrl(input.c_str())) {
      reporter.Fail(RXM::RedactUrl(input), "an input is a file or a folder, not a URL");
      return true;
    }
  }
  return false;
}

std::vector<Command> AddReadingCommands(CLI::App& app, Options& o) {
  CLI::App* list = app.add_subcommand("list", "List the entries of an archive");
  list->add_option("ARCHIVE", o.archive, "The archive, or - for stdin (with --path: a folder)");
  list->add_option("PATTERN", o.patterns, "Entries to list (default: all)");
  list->add_option("--path", o.paths,
                   "Search SOURCE (folder, archive or module) instead of one archive; the last "
                   "--path is searched first")
      ->allow_extra_args(false);
  list->add_flag("-l,--long", o.longFormat,
                 "Also show size, dataStart and dataEnd, under a line of column names");
  list->add_flag("--no-header", o.noHeader, "With -l: no line of column names");
  list->add_flag("--json", o.json,
                 "A JSON array, for scripts: each name also as name_hex, the hex of its bytes");

  CLI::App* cat = app.add_subcommand("cat", "Write entries to standard output");
  cat->add_option("ARCHIVE", o.archive, "The archive, or - for stdin (with --path: a name)")
      ->required();
  cat->add_option("PATTERN", o.patterns, "The entries, in archive order");
  cat->add_flag("--hex", o.hex,
                "Each PATTERN is the hex of a name's bytes (list --json's name_hex), matched "
                "exactly");
  cat->add_option("--path", o.paths,
                  "Search SOURCE (folder, archive or module) instead of one archive; the last "
                  "--path is searched first")
      ->allow_extra_args(false);

  CLI::App* extract = app.add_subcommand("extract", "Copy entries out of an archive into files");
  extract->add_option("ARCHIVE", o.archive, "The archive, or - for stdin")->required();
  extract->add_option("PATTERN", o.patterns, "Entries to extract (default: all)");
  extract->add_option("-C,--directory", o.folder, "Existing folder to extract into");
  extract->add_flag("--hex", o.hex,
                    "Each PATTERN is the hex of a name's bytes (list --json's name_hex), "
                    "matched exactly");
  extract->add_flag("-f,--force", o.force, "Replace files (and links) that exist");
  extract->add_flag("-k,--keep", o.keep, "Keep files that exist, and go on");
  for (CLI::App* reading : {cat, extract}) {
    reading->add_flag("--check", o.check,
                      "Check each entry against ARCHIVE.sha256 before any of it is written; a "
                      "damaged entry is an error, and nothing of it is written");
  }

  CLI::App* verify = app.add_subcommand("verify", "Check an archive's names and layout");
  verify->add_option("ARCHIVE", o.archive, "The archive, or - for stdin")->required();
  verify->add_flag("--json", o.json, "The findings as JSON");
  verify->add_flag("--strict", o.strict, "Warnings fail too");
  verify->add_flag("--all", o.all, "Every finding (without it: the first 100 and a count)");

  CLI::App* resources =
      app.add_subcommand("resources", "List the resources of a Windows module, or extract them");
  resources->add_option("MODULE", o.module, "The .exe or .dll")->required();
  resources->add_option("NAME", o.name, "Resource name, or #ID");
  resources->add_option("TYPE", o.type, "Resource type: RCDATA, ICON, ..., #ID or ID");
  resources->add_option("-o,--output", o.output,
                        "Write the one resource to this new file (as extract writes), not to "
                        "stdout");
  resources->add_option("--lang", o.language,
                        "Only this language ID (0x409, 1033); with NAME TYPE, the resource of "
                        "that language or an error");
  resources->add_flag("--all", o.all, "Extract every resource as TYPE/NAME below -C");
  resources->add_option("-C,--directory", o.folder, "Existing folder for --all");
  resources->add_flag("-f,--force", o.force, "With --all or -o, replace files that exist");
  resources->add_flag("-k,--keep", o.keep, "With --all or -o, keep files that exist, and go on");
  resources->add_flag("--json", o.json, "The listing as JSON");
  for (CLI::App* reading : {list, cat, extract, verify}) {
    AddRemoteOptions(*reading, o);
  }
  for (CLI::App* leaving : {list, extract}) {
    AddExcludeOption(*leaving, o);
  }
  return {{list, kymf::ListCommand},
          {cat, kymf::CatCommand},
          {extract, kymf::ExtractCommand},
          {verify, kymf::VerifyCommand},
          {resources, kymf::ResourcesCommand}};
}

std::vector<Command> AddMountCommands(CLI::App& app, Options& o) {
  CLI::App* mount = app.add_subcommand(
      "mount",
      "Show an archive (a file or an http(s):// URL), or a search path, as a read-only folder "
      "(FUSE; unmount with kymf umount MOUNTPOINT)");
  mount->add_option("SOURCE", o.inputs, "The archives, the last searched first, then MOUNTPOINT")
      ->required();
  mount
      ->add_option("--path", o.paths,
                   "Search SOURCE (folder, archive or module) instead; the last --path is "
                   "searched first")
      ->allow_extra_args(false);
  mount->add_flag("-f,--foreground", o.foreground,
                  "Stay in the foreground until unmounted or interrupted");
  mount->add_flag("--check", o.check,
                  "Read each file whole when it is opened and hold it to ARCHIVE.sha256: a "
                  "damaged file fails to open (EIO, logged), never gives wrong bytes");
  mount
      ->add_option("-o", o.fuseOptions,
                   "Pass OPTIONS on to FUSE (comma-separated, repeatable: allow_other, "
                   "default_permissions, ...); rw, fsname= and subtype= are kymf's own and "
                   "refused")
      ->type_name("OPTIONS")
      ->allow_extra_args(false);
  AddRemoteOptions(*mount, o);
  CLI::App* umount = app.add_subcommand(
      "umount", "Unmount what kymf mount mounted at MOUNTPOINT (with fusermount3 -u)");
  umount->add_option("MOUNTPOINT", o.inputs, "The folder of a kymf mount")->required()->expected(1);
  return {{mount, kymf::MountCommand}, {umount, kymf::UmountCommand}};
}

int Run(int argc, char** argv) {
  // The library's debug lines are dropped: kymf says every failure itself,
  // with the reason the library's Status gives.
  RXM::SetDebugger(CTPointer<Debugger>(new NullDebugger()));
  kymf::SignalCleanup::Install();
  // Parsed from copies: the arguments themselves lose any password at once.
  std::vector<std::string> copies(argv, argv + argc);
  std::vector<char*> arguments;
  arguments.reserve(copies.size());
  for (std::string& copy : copies) {
    arguments.push_back(copy.data());
  }
  arguments.push_back(nullptr);
  kymf::HideCredentials(argc, argv);  // NOLINT: argv is written in place on purpose
  argv = arguments.data();
  std::string unknown;
  if (UnknownCommand(argc, argv, unknown)) {
    kymf::Reporter().Usage("unknown command '" + unknown + "'" + Suggestion(unknown));
    return kymf::kUsage;
  }
  CLI::App app{kDescription, "kymf"};
  app.set_version_flag("--version", std::string("kymf ") + KYMF_VERSION);
  app.require_subcommand(1);
  // An argument beginning with "/" is a path (the root of the current drive on
  // Windows), never a "/option" spelling, which CLI11 allows there by default.
  app.allow_windows_style_options(false);
  OutputFlags flags;
  AddOutputFlags(app, flags);
  Options options;
  std::vector<Command> commands = AddWritingCommands(app, options);
  for (const Command& command : AddReadingCommands(app, options)) {
    commands.push_back(command);
  }
  for (const Command& command : AddMountCommands(app, options)) {
    commands.push_back(command);
  }
  for (const Command& command : commands) {
    AddOutputFlags(*command.app, flags);
  }
  kymf::Reporter reporter;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {  // --help, --version
      app.exit(e);
      return kymf::kSuccess;
    }
    reporter.Usage(UsageText(e.what()));
    return kymf::kUsage;
  }
  if (!ApplyRemoteOptions(options) || !kymf::ParseSplit(options, reporter)) {
    return kymf::kUsage;
  }
  reporter.SetQuiet(flags.quiet);
  reporter.SetVerbose(flags.verbose);
  reporter.SetForceProgress(flags.progress);
  for (const Command& command : commands) {
    if (command.app->parsed() && RefuseRemote(command.app->get_name(), options, reporter)) {
      return kymf::kFailure;
    }
    if (command.app->parsed()) {
      return command.run(options, reporter);
    }
  }
  return kymf::kUsage;
}

}  // namespace

// What no command catches (memory running out, above all) ends kymf with a
// message and a failure, never an abort.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    (void)std::fprintf(stderr, "kymf: %s\n", e.what());
  } catch (...) {
    (void)std::fprintf(stderr, "kymf: an unexpected failure\n");
  }
  return kymf::kFailure;
}
