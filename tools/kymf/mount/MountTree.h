// The read-only tree that `kymf mount` shows: folders and files made from
// the "/"-separated names of one or more sources, fixed once built.
#ifndef KYMF_MOUNT_MOUNTTREE_H
#define KYMF_MOUNT_MOUNTTREE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kymf {
namespace mount {

// One folder or file. A node's index in its tree is its inode number less
// one (the root is 0), so numbers never change while the tree is served.
struct MountNode {
  const char* name = "";      // the name shown, NUL-terminated; "" for the root
  std::uint64_t size = 0;     // a file: its bytes
  std::int64_t time = 0;      // seconds since 1970: the time of its layer's source
  std::uint32_t parent = 0;   // the root is its own parent
  std::uint32_t first = 0;    // a folder: the index of its first child
  std::uint32_t count = 0;    // a folder: its children, contiguous from `first`
  std::uint32_t folders = 0;  // a folder: how many of its children are folders
  std::uint32_t source = 0;   // a file: the key its layer opens it by
  std::uint16_t layer = 0;    // the source that holds the file, or first made the folder
  bool folder = false;
};

// Children of a folder are contiguous and sorted by their names with the
// ASCII letters folded; no two children of a folder are equal so folded.
// Nothing changes after Build, so any number of threads may read at once.
// Nodes point into the tree's own text: a tree moves, it is never copied.
class MountTree {
 public:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  // The root alone: an empty folder.
  MountTree();
  MountTree(MountTree&&) = default;
  MountTree& operator=(MountTree&&) = default;
  MountTree(const MountTree&) = delete;
  MountTree& operator=(const MountTree&) = delete;

  std::uint32_t GetCount() const { return static_cast<std::uint32_t>(nodes.size()); }
  // Node `index` (below GetCount).
  const MountNode& Get(std::uint32_t index) const { return nodes[index]; }
  // The child of the folder `parent` whose name equals `name` with the ASCII
  // letters folded, as an archive matches names; kNone when there is none or
  // `parent` is no folder of this tree.
  std::uint32_t Find(std::uint32_t parent, std::string_view name) const;
  // The node a "/"-separated path leads to from the root ("" the root);
  // kNone when none.
  std::uint32_t FindPath(std::string_view path) const;
  // The path of node `index` from the root, for messages.
  std::string PathOf(std::uint32_t index) const;

  std::uint64_t GetFileCount() const { return files; }
  // The sum of the files' sizes.
  std::uint64_t GetFileBytes() const { return bytes; }

 private:
  friend class MountTreeBuilder;

  std::vector<MountNode> nodes;
  std::vector<char> text;  // the names, each ended by a NUL
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
//
// A name costs one hash probe when its folder is the previous name's, as in
// an archive packed folder by folder, and one per component otherwise; the
// names are copied once, into one block.
class MountTreeBuilder {
 public:
  MountTreeBuilder();

  // Adds the file `name` with its folders; the name shown is `name`'s last
  // component, and each folder made keeps the spelling of the first name
  // that made it. `source` is the key that layer `layer` opens it by.
  Placement AddFile(std::string_view name, std::uint64_t size, std::uint16_t layer,
                    std::uint32_t source, std::int64_t time);
  // Makes room for `names` more names at once.
  void Reserve(std::size_t names);
  // Adds the folder `name` with its folders (a source's empty folders).
  Placement AddFolder(std::string_view name, std::uint16_t layer, std::int64_t time);

  // The tree, numbered breadth first from the root with each folder's
  // children in folded order; the builder is left empty.
  MountTree Build();

 private:
  struct Draft {
    MountNode node;
    std::uint32_t nameAt = 0;  // in `text`
    std::uint32_t nameSize = 0;
  };

  // Where a name was looked for: its hash, and the free slot where it
  // would go when it was not found.
  struct Probe {
    std::uint64_t hash = 0;
    std::size_t free = 0;
  };

  std::string_view NameOf(std::uint32_t index) const;
  // The child of `parent` named `name` (folded), or kNone; `probe` then says
  // where AddChild puts it.
  std::uint32_t FindChild(std::uint32_t parent, std::string_view name, Probe* probe) const;
  std::uint32_t AddChild(std::uint32_t parent, std::string_view name, const MountNode& node,
                         const Probe& probe);
  // Children's indexes in folded order of their names (equal names never meet).
  void SortFolded(std::vector<std::uint32_t>::iterator begin,
                  std::vector<std::uint32_t>::iterator end) const;
  void Index(std::uint32_t index);
  void Grow(std::size_t size);
  // The folder at the path `folder`, made with its parents when missing;
  // kNone when a file holds a part of it.
  std::uint32_t FolderAt(std::string_view folder, std::uint16_t layer, std::int64_t time);

  std::vector<Draft> drafts;
  std::vector<char> text;
  // Open addressing: a child's index + 1 in the low 32 bits (0: empty), and
  // the high 32 bits of its hash above, so that a probe reads a name only
  // when those agree.
  std::vector<std::uint64_t> slots;
  std::string lastFolder;             // the previous FolderAt's path, folded...
  std::uint32_t lastFolderIndex = 0;  // ...and its node
};

}  // namespace mount
}  // namespace kymf

#endif  // KYMF_MOUNT_MOUNTTREE_H
