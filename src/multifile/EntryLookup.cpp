#include "multifile/EntryLookup.h"

#include <cstring>
#include <new>

#include "multifile/ArchiveFormat.h"

namespace RXM {
namespace {

// How many elements ahead a scan asks for (see NameIndex's build).
constexpr std::int32_t kFetchAhead = 16;

}  // namespace

int EntryLookup::Find(const char* name, const PointerArray<MultiFileElement>& directory) const {
  if (std::strlen(name) > multifile::kLongestName) {
    return -1;  // no record holds a name this long
  }
  // Once the scans are used up the count stays where it is, so it cannot
  // wrap however many lookups follow.
  if (lookups.load(std::memory_order_relaxed) < kScansBeforeIndex &&
      lookups.fetch_add(1, std::memory_order_relaxed) < kScansBeforeIndex) {
    return Scan(name, directory);
  }
  std::call_once(building, [this, &directory] {
    try {
      index = std::make_unique<const NameIndex>(directory);
    } catch (const std::bad_alloc&) {
      index.reset();  // lookups go on scanning
    }
  });
  return index ? index->Find(name, directory) : Scan(name, directory);
}

int EntryLookup::Scan(const char* name, const PointerArray<MultiFileElement>& directory) {
  for (std::int32_t i = directory.GetCount() - 1; i >= 0; --i) {
#if defined(__GNUC__)
    if (i >= kFetchAhead) {
      __builtin_prefetch(directory.Peek(i - kFetchAhead));
    }
#endif
    const MultiFileElement* element = directory.Peek(i);
    if (element != nullptr && multifile::NameMatches(name, *element)) {
      return i;
    }
  }
  return -1;
}

}  // namespace RXM
