// The sources of a mount: an archive (a file, or one at an http(s):// URL),
// a folder or a Windows module, each adding its files to the tree and
// opening them again when a reader asks.
#ifndef KYMF_MOUNT_MOUNTLAYER_H
#define KYMF_MOUNT_MOUNTLAYER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <RXMFiles.h>

#include "mount/MountTree.h"

namespace kymf {
namespace mount {

// What a source left out of the tree, said once per mount.
struct LayerReport {
  std::uint64_t unsafe = 0;     // names that are no safe paths ("..", "/x", "a\b", controls)
  std::uint64_t conflicts = 0;  // a file and a folder of one name: the later one is left out,
                                // with all in it (MountTree::GetConflicts)
};

// One source. Made once, then read from any number of threads at once.
class MountLayer {
 public:
  MountLayer() = default;
  MountLayer(const MountLayer&) = delete;
  MountLayer& operator=(const MountLayer&) = delete;
  virtual ~MountLayer() = default;

  // Gives every file of the source to `builder` as layer `index`, the one
  // the source itself would find first for a name given first; counts the
  // names it leaves out as no safe paths in `report`. Called once, before
  // any Open.
  virtual void AddTo(MountTreeBuilder& builder, std::uint16_t index, LayerReport& report) = 0;
  // A new stream over the file that AddTo gave the key `source`: one of the
  // library's entry streams (an archive's OpenEntry, a search path's Open),
  // which the server reads by position (RXM::ReadEntryAt) from many threads
  // at once; null when it can no longer be opened or its bytes are not its
  // own (an archive's damaged entry), with `why` naming the source and the
  // file.
  virtual Pointer<KYFile> Open(std::uint32_t source, RXM::Status& why) const = 0;
  // Whether Open is cheap and gives the same bytes each time, so that a
  // stream may be made for each read and the kernel may open files without
  // asking the server: an archive, opened once, whose files are not held to
  // sums when opened. Not a folder, whose files could change between reads.
  virtual bool OpensForEachRead() const { return false; }
  // The bytes the source takes (an archive's file size), for statfs.
  virtual std::uint64_t GetBytes() const = 0;
  // Why a read of the source's files last failed, when the source knows (an
  // archive over the network: the library's reason, naming its URL
  // redacted); Ok otherwise.
  virtual RXM::Status GetReadFailure() const { return RXM::Status::Ok(); }
};

// The archive `text`: a KYMF archive file, or an http(s):// URL. Null when
// it cannot be opened, with `status` saying why and naming `text`.
// With `checkSums`, each file is read whole and held to the sums file beside
// its archive when opened (an archive without one is not checked).
std::unique_ptr<MountLayer> OpenArchiveSource(const std::string& text, RXM::Status& status,
                                              bool checkSums = false);

// A search path source `text`: an archive (as OpenArchiveSource), a folder
// or a Windows module. Null, with `status` saying why, when it is none.
std::unique_ptr<MountLayer> OpenPathSource(const std::string& text, RXM::Status& status,
                                           bool checkSums = false);

// Whether `text` names a remote archive (http:// or https://).
bool IsRemote(const std::string& text);

// Everything a mount serves: its sources, the first one searched first, and
// the tree they make together.
struct MountedFiles {
  std::vector<std::unique_ptr<MountLayer>> layers;
  MountTree tree;
  LayerReport report;
  std::uint64_t sourceBytes = 0;  // the sources' sizes (the files' sizes for folders)
  bool opensForEachRead = false;  // every layer's OpensForEachRead
};

// The tree of `layers` (at most 65535), each name taken from the first layer
// that has it.
MountedFiles Assemble(std::vector<std::unique_ptr<MountLayer>> layers);

}  // namespace mount
}  // namespace kymf

#endif  // KYMF_MOUNT_MOUNTLAYER_H
