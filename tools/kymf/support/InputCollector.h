// The files that create and add store, and the entry names they get.
//
// A file given by name becomes an entry named by its file name; a folder
// gives every file below it, named by its path below the folder
// ("/"-separated, sorted by name within each folder). Empty files are
// stored; empty folders, and things that are neither files nor folders,
// are skipped (and said so with -v). Names are checked by the entry-name
// rule before anything is written.
#ifndef KYMF_SUPPORT_INPUTCOLLECTOR_H
#define KYMF_SUPPORT_INPUTCOLLECTOR_H

#include <cstdint>
#include <string>
#include <vector>

#include "support/Reporter.h"
#include "support/Selection.h"

namespace kymf {

struct Input {
  std::string path;  // where the bytes are read from
  std::string name;  // the entry name
  std::uint64_t size = 0;
};

class InputCollector {
 public:
  // Reports through `reporter`; entries whose names `excludes` selects are
  // left out.
  InputCollector(Reporter& output, Selection& excluded);

  // Adds the file or folder `path`. False (reported) when it does not exist,
  // cannot be read, or gives a name that cannot be stored.
  bool Add(const std::string& path);
  // Gives the one input collected so far the entry name `name` (--as);
  // false (reported) when the name cannot be stored.
  bool Rename(const std::string& name);

  const std::vector<Input>& GetInputs() const { return inputs; }
  std::uint64_t GetTotalBytes() const;

 private:
  bool AddFolder(const std::string& path);
  bool Accept(const std::string& path, const std::string& name, std::uint64_t size);

  Reporter& reporter;
  Selection& excludes;
  std::vector<Input> inputs;
};

}  // namespace kymf

#endif  // KYMF_SUPPORT_INPUTCOLLECTOR_H
