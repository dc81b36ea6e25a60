#include "support/FileIdentity.h"

namespace kymf {

// The system's own rule of which file a name reaches (System::inspect), the
// one the archive lock compares by too. A file whose identity the system
// does not say (both numbers 0) is unknown, never equal to another.
FileIdentity IdentityOf(const RXM::sys::FileInfo& info) {
  FileIdentity identity;
  if (info.kind != RXM::sys::FileKind::kMissing && (info.device != 0 || info.node != 0)) {
    identity.device = info.device;
    identity.file = info.node;
    identity.known = true;
  }
  return identity;
}

}  // namespace kymf
