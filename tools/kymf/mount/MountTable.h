// The system's table of mounts (/proc/self/mountinfo on Linux), asked
// whether a folder is a mount point of kymf's: kymf mount refuses to stack a
// second mount there, and kymf umount takes only such a folder.
#ifndef KYMF_MOUNT_MOUNTTABLE_H
#define KYMF_MOUNT_MOUNTTABLE_H

#include <string>
#include <string_view>
#include <vector>

#include "backends/System.h"

namespace kymf {
namespace mount {

struct MountEntry {
  std::string point;   // absolute, its escapes (\040 ...) undone
  std::string type;    // "fuse.kymf", "ext4", ...
  std::string source;  // what was mounted, as the table names it
};

// The mounts `mountinfo` (the text of /proc/self/mountinfo) lists, in its
// order (a later one at the same point lies above an earlier one). Lines
// that do not have the table's form are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view mountinfo);

// `point` as the mount table names a folder: absolute (from the current
// folder), without "." or ".." parts, and every link in it followed, each
// component looked at through `system` (resolveLinks), a ".." after a link
// taken from where the link leads. 0 with the path in `resolved`, or the
// errno value when a link cannot be read, links lead on more than 40 times
// (ELOOP) or the current folder cannot be known; `resolved` is then as it
// was. A component that names nothing, or that cannot be looked into (a
// mount whose server is gone), is kept as written.
int ResolveMountPoint(RXM::sys::System& system, const std::string& point, std::string& resolved);

// Whether the folder `point` (a path as given; compared once resolved by
// ResolveMountPoint through `system`, lexically where it cannot be) is the
// mount point of a kymf mount (MountEntry::type kMountType) in this
// process's mount table; `source` then names what is mounted there. False
// where there is no such table (not Linux).
bool FindKymfMount(const std::string& point, std::string& source,
                   RXM::sys::System& system = RXM::sys::System::Default());

}  // namespace mount
}  // namespace kymf

#endif  // KYMF_MOUNT_MOUNTTABLE_H
