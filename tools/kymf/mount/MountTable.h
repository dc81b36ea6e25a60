// The system's table of mounts (/proc/self/mountinfo on Linux), asked
// whether a folder is a mount point of kymf's: kymf mount refuses to stack a
// second mount there, and kymf umount takes only such a folder.
#ifndef KYMF_MOUNT_MOUNTTABLE_H
#define KYMF_MOUNT_MOUNTTABLE_H

#include <string>
#include <string_view>
#include <vector>

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

// Whether the folder `point` (a path as given; compared once made absolute)
// is the mount point of a kymf mount (MountEntry::type kMountType) in this
// process's mount table; `source` then names what is mounted there. False
// where there is no such table (not Linux).
bool FindKymfMount(const std::string& point, std::string& source);

}  // namespace mount
}  // namespace kymf

#endif  // KYMF_MOUNT_MOUNTTABLE_H
