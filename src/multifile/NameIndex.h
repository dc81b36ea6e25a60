// The lookup of an archive's entries by name.
#ifndef RXMFILES_MULTIFILE_NAMEINDEX_H
#define RXMFILES_MULTIFILE_NAMEINDEX_H

#include <cstdint>
#include <vector>

#include "multifile/MultiFileElement.h"
#include "multifile/PointerArray.h"

namespace RXM {

// A hash of the case-folded names of a directory, built once when the
// directory is loaded: for each distinct name (under the ASCII fold) the index
// of its record nearest the end of the directory. So a lookup costs O(1) on
// average whatever the number of entries, and answers exactly what a scan of
// the directory from its last record to its first answers.
//
// Open addressing with linear probing over a power-of-two table of at least
// twice the entries. A slot holds the name's hash and its record index + 1
// (0 when empty), so a probe reads a record's name only when the hashes
// agree: with a million entries the records are far apart in memory, and
// reaching one is a cache miss.
class NameIndex {
 public:
  explicit NameIndex(const PointerArray<MultiFileElement>& directory);
  // The same, from the hashes of the directory's names (Hash of each record's
  // name, in order), taken while the records were read and still in cache.
  NameIndex(const PointerArray<MultiFileElement>& directory,
            const std::vector<std::uint32_t>& hashes);

  // The hash of a name under the ASCII case fold.
  static std::uint32_t Hash(const char* name);

  // The index of the record that `name` finds, or -1. `directory` must be the
  // one the index was built from.
  int Find(const char* name, const PointerArray<MultiFileElement>& directory) const;

 private:
  void Build(const PointerArray<MultiFileElement>& directory,
             const std::vector<std::uint32_t>& hashes);

  struct Slot {
    std::uint32_t hash;
    std::int32_t entry;  // record index + 1; 0 when empty
  };
  std::vector<Slot> slots;
  std::uint32_t mask = 0;
};

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_NAMEINDEX_H
