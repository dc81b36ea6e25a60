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
// twice the entries; a slot holds a record index + 1, 0 when empty.
class NameIndex {
 public:
  explicit NameIndex(const PointerArray<MultiFileElement>& directory);

  // The index of the record that `name` finds, or -1. `directory` must be the
  // one the index was built from.
  int Find(const char* name, const PointerArray<MultiFileElement>& directory) const;

 private:
  static std::uint32_t Hash(const char* name);

  std::vector<std::int32_t> slots;
  std::uint32_t mask = 0;
};

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_NAMEINDEX_H
