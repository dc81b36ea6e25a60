// Which file a path reaches, whatever name or link it is reached by: the
// device and file number (inode; on Windows the volume serial number and
// the file index). Two paths reach the same file exactly when they give
// equal identities, as tar compares an input with its own archive.
#ifndef KYMF_SUPPORT_FILEIDENTITY_H
#define KYMF_SUPPORT_FILEIDENTITY_H

#include <cstdint>
#include <string>

#include "backends/System.h"

namespace kymf {

struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  bool known = false;  // false when the path could not be examined

  // Equal only when both are known and reach one file.
  bool operator==(const FileIdentity& other) const {
    return known && other.known && device == other.device && file == other.file;
  }
};

// The identity that `info` (filled by System::inspect, which follows links)
// gives; `known` false for a name that does not exist or whose identity the
// system does not say.
FileIdentity IdentityOf(const RXM::sys::FileInfo& info);

}  // namespace kymf

#endif  // KYMF_SUPPORT_FILEIDENTITY_H
