// The files that create and add store, and the entry names they get.
//
// A file given by name becomes an entry named by its file name; a folder
// gives every file below it, named by the folder's own name and the path
// below it ("cxx" gives "cxx/12/a.txt", as tar, zip and 7z name them; a
// trailing "/" changes nothing). A folder without a name of its own ("."
// or "..", a root) gives its contents at the top: "-C assets ." stores what
// assets/ holds. Names are "/"-separated and sorted by name within each
// input.
//
// Empty files are stored; empty folders are skipped, said with -v. Links
// are not followed unless asked (`dereference`, -h): a symbolic link is then
// skipped with a warning, as are FIFOs, sockets, devices, dangling links, a
// link back to a folder it is in (a loop, with -h) and the archive being
// written; a warning does not change the exit status. Names are checked by
// the entry-name rule before anything is written.
#ifndef KYMF_SUPPORT_INPUTCOLLECTOR_H
#define KYMF_SUPPORT_INPUTCOLLECTOR_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "backends/System.h"
#include "support/FileIdentity.h"
#include "support/Reporter.h"
#include "support/Selection.h"

namespace kymf {

struct Input {
  std::string path;  // where the bytes are read from
  std::string name;  // the entry name
  std::uint64_t size = 0;
};

// How inputs are found and named, from the command line.
struct CollectRules {
  bool dereference = false;  // -h: follow symbolic links (loops are skipped)
  bool keepGoing = false;    // -k: a name that cannot be stored is skipped (a failure), not fatal
  std::string base;          // -C: relative inputs are read from this folder
  std::string archive;       // the archive being written, never packed into itself ("": none)
};

class InputCollector {
 public:
  // Reports through `reporter`; entries whose names `excludes` selects are
  // left out.
  // Every look at the file system goes through `system`.
  InputCollector(Reporter& output, Selection& excluded, CollectRules rules = {},
                 RXM::sys::System& system = RXM::sys::System::Default());

  // Adds the file or folder `path`. False (reported) when it does not exist,
  // cannot be read, or gives a name that cannot be stored (unless
  // keepGoing: then that input is skipped, reported as a failure, and the
  // result stays true).
  bool Add(const std::string& path);
  // Gives the one input collected so far the entry name `name` (--as);
  // false (reported) when the name cannot be stored.
  bool Rename(const std::string& name);

  const std::vector<Input>& GetInputs() const { return inputs; }
  std::uint64_t GetTotalBytes() const;

 private:
  struct Found {
    std::string name;
    std::filesystem::path path;
    RXM::sys::FileInfo info;  // as examined (a link's: what it reaches)
  };
  bool Visit(const std::filesystem::path& path, const std::string& name, RXM::sys::FileInfo info,
             std::vector<FileIdentity>& above, std::vector<Found>& found);
  bool Walk(const std::filesystem::path& folder, const std::string& prefix,
            std::vector<FileIdentity>& above, std::vector<Found>& found);
  // Whether the link `path` is followed (-h, and it leads somewhere), `info`
  // becoming what it reaches; says why not.
  bool Follows(const std::filesystem::path& path, RXM::sys::FileInfo& info);
  int InspectName(const std::filesystem::path& path, RXM::sys::FileInfo* info) const;
  FileIdentity IdentityAt(const std::filesystem::path& path) const;
  bool Accept(const Found& file);

  Reporter& reporter;
  Selection& excludes;
  CollectRules rules;
  RXM::sys::System& system;
  FileIdentity archive;
  std::uint64_t archiveSize = 0;
  std::vector<Input> inputs;
};

}  // namespace kymf

#endif  // KYMF_SUPPORT_INPUTCOLLECTOR_H
