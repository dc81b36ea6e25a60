// Whether a folder listing carries its files' attributes.
#ifndef KYMF_MOUNT_LISTINGPOLICY_H
#define KYMF_MOUNT_LISTINGPOLICY_H

#include <atomic>
#include <cstdint>

namespace kymf {
namespace mount {

// A listing with attributes (FUSE's READDIRPLUS) makes the kernel build an
// inode for every file in it: wasted on a program that only walks names
// (find), and a saving of one lookup per file, each a round trip to the
// server, for one that looks at every file it lists (ls -l, rsync). Which
// program lists cannot be seen, so it is measured: a listing without the
// files' attributes is a probe, and a lookup of one of its files before the
// next listing turns attributes on; a probe without one turns them off.
// While they are on, every kProbeEvery-th listing probes again. Folders'
// attributes are always given (there are few, and every walk enters them).
//
// Called from the server's threads at once; a race costs at most one
// listing in the less fitting form, never a wrong answer.
class ListingPolicy {
 public:
  static constexpr std::uint32_t kProbeEvery = 64;
  static constexpr std::uint32_t kNoFolder = UINT32_MAX;

  // A listing of `folder` begins: whether it gives its files' attributes.
  bool StartListing(std::uint32_t folder);
  // A listing of `folder` goes on where nothing kept the answer of its
  // start: that answer again, unless another listing began since.
  bool ContinueListing(std::uint32_t folder) const;
  // A file of `folder` was looked up.
  void FileLookedUp(std::uint32_t folder);

 private:
  std::atomic<bool> withFiles{false};
  std::atomic<std::uint32_t> probe{kNoFolder};
  std::atomic<std::uint32_t> hits{0};
  std::atomic<std::uint32_t> listings{0};
};

}  // namespace mount
}  // namespace kymf

#endif  // KYMF_MOUNT_LISTINGPOLICY_H
