// The build without FUSE (no libfuse3 found, or Windows): kymf mount refuses
// in one line.
#include "mount/FuseServer.h"

namespace kymf {
namespace mount {

std::string WhyMountingUnavailable() {
#if defined(_WIN32)
  return "Windows has no FUSE";
#else
  return "kymf was built without FUSE (libfuse3)";
#endif
}

int Serve(const MountedFiles&, const ServeOptions&, Reporter& reporter) {
  reporter.Fail("mounting is not available here", WhyMountingUnavailable());
  return kFailure;
}

int Unmount(const std::string&, Reporter& reporter) {
  reporter.Fail("unmounting is not available here", WhyMountingUnavailable());
  return kFailure;
}

}  // namespace mount
}  // namespace kymf
