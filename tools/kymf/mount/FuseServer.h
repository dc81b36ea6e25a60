// Serving a mount's tree as a read-only file system: through libfuse3 where
// kymf was built with it, a one-line refusal elsewhere (FuseUnavailable.cpp).
#ifndef KYMF_MOUNT_FUSESERVER_H
#define KYMF_MOUNT_FUSESERVER_H

#include <string>

#include "mount/MountLayer.h"
#include "support/Reporter.h"

namespace kymf {
namespace mount {

struct ServeOptions {
  std::string mountPoint;   // an existing folder
  std::string fuseOptions;  // the whole -o string (FuseOptions): the source shown, ...
  bool foreground = false;  // stay attached to the terminal until unmounted
};

// "" when this build can mount on this machine; otherwise why not, in words
// that finish "kymf: mounting is not available here: ..." (no FUSE in this
// build, no /dev/fuse, no fusermount3).
std::string WhyMountingUnavailable();

// Mounts `files` read-only at the mount point and serves it until it is
// unmounted (fusermount3 -u) or, in the foreground, until SIGINT or
// SIGTERM. In the background the call returns in the first process once
// the mount is in place (so failures reach the terminal), and a second one
// serves. The exit code: kSuccess when served and unmounted, kFailure (said
// through `reporter`) when the mount could not be made.
int Serve(const MountedFiles& files, const ServeOptions& options, Reporter& reporter);

// Unmounts the mount at the folder `point` with fusermount3 -u (which
// says on standard error why it cannot: busy, not permitted); its server
// then ends. kSuccess, or kFailure (said through `reporter`). The caller
// makes sure the folder is a kymf mount (FindKymfMount).
int Unmount(const std::string& point, Reporter& reporter);

}  // namespace mount
}  // namespace kymf

#endif  // KYMF_MOUNT_FUSESERVER_H
