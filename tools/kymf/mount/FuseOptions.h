// The options kymf mounts with: its own (read-only, the file system's name
// and type), then those of `kymf mount -o`, checked against its own.
#ifndef KYMF_MOUNT_FUSEOPTIONS_H
#define KYMF_MOUNT_FUSEOPTIONS_H

#include <string>
#include <vector>

namespace kymf {
namespace mount {

// The type every kymf mount has in the mount table: FUSE's "fuse." and the
// subtype kymf sets.
constexpr const char* kMountType = "fuse.kymf";

// The option string for FUSE: "ro,default_permissions,subtype=kymf,fsname=
// <name>" (its "," and "\" escaped), then each of `given` (each item may
// hold several, comma-separated; empty ones are dropped). "" in `why` and
// the string when every option may be given; otherwise the string is ""
// and `why` says which option is refused and why: "rw" (kymf mounts
// read-only), fsname= and subtype= (kymf names its mounts itself, so that
// kymf umount and the refusal of a second mount find them).
std::string FuseOptions(const std::string& name, const std::vector<std::string>& given,
                        std::string& why);

}  // namespace mount
}  // namespace kymf

#endif  // KYMF_MOUNT_FUSEOPTIONS_H
