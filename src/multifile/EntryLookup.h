// Which record of a directory a name finds.
#ifndef RXMFILES_MULTIFILE_ENTRYLOOKUP_H
#define RXMFILES_MULTIFILE_ENTRYLOOKUP_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "multifile/MultiFileElement.h"
#include "multifile/NameIndex.h"
#include "multifile/PointerArray.h"

namespace RXM {

// A name finds the last record of the directory whose name equals it under
// the ASCII fold: what a scan from the last record to the first answers.
//
// A NameIndex answers that in O(1), but building it reads every record again
// and costs about as much as four scans. A program that opens an archive to
// list it or check it needs no lookup, and one that opens it to read one
// entry, or to insert one (which asks whether the name is taken), needs one:
// neither should pay for the index at the open. So the first lookup scans,
// the second builds the index, and the index answers from then on. One
// lookup costs a quarter of a build; many cost a build and one scan.
//
// Find may run on many threads at once. The lookups are counted atomically
// and the index is built once, under std::call_once; a thread that comes
// while it is being built waits for it. When there is no memory for the
// index, lookups go on scanning: slower, never wrong.
//
// The directory passed to Find must be the same (the same elements in the
// same slots) at every call; whoever changes it starts a new EntryLookup.
class EntryLookup {
 public:
  static constexpr std::int32_t kScansBeforeIndex = 1;

  // The index of the record that `name` finds in `directory`, or -1 (a name
  // longer than any record holds finds none). Null slots find nothing.
  int Find(const char* name, const PointerArray<MultiFileElement>& directory) const;

  // The same answer by a scan from the last record to the first.
  static int Scan(const char* name, const PointerArray<MultiFileElement>& directory);

 private:
  mutable std::atomic<std::int32_t> lookups{0};
  mutable std::once_flag building;
  // Written once inside call_once, read only after it.
  mutable std::unique_ptr<const NameIndex> index;
};

}  // namespace RXM

#endif  // RXMFILES_MULTIFILE_ENTRYLOOKUP_H
