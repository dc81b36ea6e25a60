#include "mount/ListingPolicy.h"

namespace kymf {
namespace mount {

bool ListingPolicy::StartListing(std::uint32_t folder) {
  if (probe.load(std::memory_order_relaxed) != kNoFolder) {
    withFiles.store(hits.load(std::memory_order_relaxed) > 0, std::memory_order_relaxed);
  }
  const bool probing =
      !withFiles.load(std::memory_order_relaxed) ||
      listings.fetch_add(1, std::memory_order_relaxed) % kProbeEvery == kProbeEvery - 1;
  hits.store(0, std::memory_order_relaxed);
  probe.store(probing ? folder : kNoFolder, std::memory_order_relaxed);
  return !probing;
}

bool ListingPolicy::ContinueListing(std::uint32_t folder) const {
  return probe.load(std::memory_order_relaxed) != folder &&
         withFiles.load(std::memory_order_relaxed);
}

void ListingPolicy::FileLookedUp(std::uint32_t folder) {
  if (folder == probe.load(std::memory_order_relaxed)) {
    hits.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace mount
}  // namespace kymf
