// The lookup of an archive's entries by name.
#ifndef RXMFILES_MULTIFILE_NAMEINDEX_H
#define RXMFILES_MULTIFILE_NAMEINDEX_H

#include <cstdint>
#include <memory>

#include "multifile/MultiFileElement.h"
#include "multifile/PointerArray.h"

namespace RXM {

// A hash of the case-folded names of a directory: for each distinct name
// (under the ASCII fold) the index of its record nearest the end of the
// directory. So a lookup costs O(1) on average whatever the number of
// entries, and answers exactly what a scan of the directory from its last
// record to its first answers.
//
// Open addressing with linear probing, at most 0.7 full. A slot is 32 bits:
// the record's index + 1 in the low bits (as many as the count needs; 0 when
// the slot is empty) and, above them, bits of the name's hash, so a probe
// reads a record's name only when those agree: with a million entries the
// records are far apart in memory, and reaching one is a cache miss.
class NameIndex {
 public:
  // The index of a whole directory; null slots are left out (std::bad_alloc
  // when there is no memory for it).
  explicit NameIndex(const PointerArray<MultiFileElement>& directory);

  // The hash of a record's name under the ASCII case fold.
  static std::uint64_t Hash(const DirectoryRecord& record);
  // The same for a name of at most kLongestName bytes (only those are taken).
  static std::uint64_t Hash(const char* name);

  // The index of the record that `name` finds, or -1. `directory` must be the
  // one the index was built from. A name longer than any record holds finds
  // none, but only after a probe: EntryLookup turns those away first.
  int Find(const char* name, const PointerArray<MultiFileElement>& directory) const;

 private:
  static constexpr std::int32_t kAhead = 16;

  // An empty table with room for `count` records.
  explicit NameIndex(std::int32_t count);

  // Adds record `entry` of `directory`, hashing its name at once. Records are
  // added in directory order, each once. An entry's slot is written a few
  // Adds later, so that its memory has been fetched meanwhile (with a million
  // entries nearly every slot is a cache miss); Complete writes those still
  // waiting.
  void Add(std::int32_t entry, const PointerArray<MultiFileElement>& directory);
  void Complete(const PointerArray<MultiFileElement>& directory);

  struct Waiting {
    std::int32_t entry;
    std::uint64_t hash;
  };

  std::uint32_t Home(std::uint64_t hash) const;
  std::uint32_t Tag(std::uint64_t hash) const;
  void Place(const Waiting& record, const PointerArray<MultiFileElement>& directory);

  struct Free {
    void operator()(std::uint32_t* memory) const;
  };
  std::unique_ptr<std::uint32_t[], Free> slots;
  std::uint32_t size = 0;
  std::uint32_t entryMask = 0;   // the low bits of a slot, which hold index + 1
  Waiting waiting[kAhead] = {};  // added, not yet placed: oldest first, in a ring
  std::int32_t oldest = 0;
  std::int32_t waitingCount = 0;
};

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_NAMEINDEX_H
