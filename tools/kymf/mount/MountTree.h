// The read-only tree that `kymf mount` shows: folders and files made from
// the "/"-separated names of one or more sources, fixed once built.
#ifndef KYMF_MOUNT_MOUNTTREE_H
#define KYMF_MOUNT_MOUNTTREE_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kymf {
namespace mount {

// One folder or file. A node's index in its tree is its inode number less
// one (the root is 0), so numbers never change while the tree is served.
struct MountNode {
  std::string name;           // the name shown; "" for the root
  std::string source;         // a file: the name its layer opens it by
  std::uint64_t size = 0;     // a file: its bytes
  std::int64_t time = 0;      // seconds since 1970: the time of its layer's source
  std::uint32_t parent = 0;   // the root is its own parent
  std::uint32_t first = 0;    // a folder: the index of its first child
  std::uint32_t count = 0;    // a folder: its children, contiguous from `first`
  std::uint32_t folders = 0;  // a folder: how many of its children are folders
  std::uint16_t layer = 0;    // a file: which source holds it
  bool folder = false;
};

// Children of a folder are contiguous and sorted by their names with the
// ASCII letters folded; no two children of a folder are equal so folded.
// Nothing changes after Build, so any number of threads may read at once.
class MountTree {
 public:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  // The root alone: an empty folder.
  MountTree();

  std::uint32_t GetCount() const { return static_cast<std::uint32_t>(nodes.size()); }
  // Node `index` (below GetCount).
  const MountNode& Get(std::uint32_t index) const { return nodes[index]; }
  // The child of the folder `parent` whose name equals `name` with the ASCII
  // letters folded, as an archive matches names; kNone when there is none or
  // `parent` is no folder of this tree.
  std::uint32_t Find(std::uint32_t parent, const char* name) const;
  // The node a "/"-separated path leads to from the root ("" the root);
  // kNone when none.
  std::uint32_t FindPath(const std::string& path) const;

  std::uint64_t GetFileCount() const { return files; }
  // The sum of the files' sizes.
  std::uint64_t GetFileBytes() const { return bytes; }

 private:
  friend class MountTreeBuilder;

  std::vector<MountNode> nodes;
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
};

// What became of a name given to the builder.
enum class Placement {
  kShown,     // in the tree
  kShadowed,  // a node of the same name (ASCII letters folded) came first
  kConflict,  // a file and a folder would share a name: the first one stays
};

// Builds a tree from names in order of precedence: the first name given wins
// over every later one equal to it with the ASCII letters folded, so a source
// searched first is given first, and an archive's records last to first (the
// last of equal names is the one the archive finds). Names must be safe
// names (RXM::CheckSafeName): the caller leaves out and counts the others.
class MountTreeBuilder {
 public:
  MountTreeBuilder();

  // Adds the file `name` with its folders; the name shown is `name`'s last
  // component, and each folder made keeps the spelling of the first name
  // that made it.
  Placement AddFile(const std::string& name, std::uint64_t size, std::uint16_t layer,
                    std::string source, std::int64_t time);
  // Adds the folder `name` with its folders (a source's empty folders).
  Placement AddFolder(const std::string& name, std::int64_t time);

  // The tree, numbered breadth first from the root with each folder's
  // children in folded order; the builder is left empty.
  MountTree Build();

 private:
  struct Pending {
    MountNode node;
    std::string folded;  // the last component folded: the children's order
    std::vector<std::uint32_t> children;
  };

  // The folder at `folded` (the whole path folded; `name` its own spelling),
  // made with its parents when missing; kNone when a file holds a part of it.
  std::uint32_t EnsureFolder(const std::string& folded, const std::string& name, std::int64_t time);
  std::uint32_t Attach(std::uint32_t parent, const std::string& folded, const std::string& name,
                       MountNode node);

  std::vector<Pending> pending;
  std::unordered_map<std::string, std::uint32_t> byPath;  // the whole path folded
};

}  // namespace mount
}  // namespace kymf

#endif  // KYMF_MOUNT_MOUNTTREE_H
