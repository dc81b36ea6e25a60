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
  // The names given to the builder that are not shown because a file and a
  // folder would share a name (ASCII letters folded): the later one, and
  // every name inside a folder that lost to a file.
  std::uint64_t GetConflicts() const { return conflicts; }

 private:
  friend class MountTreeBuilder;

  std::vector<MountNode> nodes;
  std::vector<char> text;  // the names, each ended by a NUL
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t conflicts = 0;
};

// Builds a tree from names in order of precedence: the first name given wins
// over every later one equal to it with the ASCII letters folded, so a source
// searched first is given first, and an archive's records last to first (the
// last of equal names is the one the archive finds). When a file and a
// folder would share a name, the one given first stays and the other is
// left out with everything in it (MountTree::GetConflicts counts them).
// Names must be safe names (RXM::CheckSafeName): the caller leaves out and
// counts the others.
//
// Only folders are looked up while names are added: a name costs one hash
// probe of the (few) folders when its folder is not the previous name's, and
// nothing otherwise, as in an archive packed folder by folder. A file is
// only appended; equal names meet where Build sorts each folder's children,
// one folder at a time, so adding 10^5 files never waits on a table too big
// for the caches. The names are copied once, into one block.
class MountTreeBuilder {
 public:
  MountTreeBuilder();

  // Adds the file `name` with its folders; the name shown is `name`'s last
  // component, and each folder made keeps the spelling of the first name
  // that made it. `source` is the key that layer `layer` opens it by.
  void AddFile(std::string_view name, std::uint64_t size, std::uint16_t layer, std::uint32_t source,
               std::int64_t time);
  // Makes room for `names` more names at once.
  void Reserve(std::size_t names);
  // Adds the folder `name` with its folders (a source's empty folders).
  void AddFolder(std::string_view name, std::uint16_t layer, std::int64_t time);

  // The tree, numbered breadth first from the root with each folder's
  // children in folded order, each name shown once; the builder is left
  // empty.
  MountTree Build();

 private:
  // A node as names are added, kept small: 10^5 of them are made and
  // written once or twice each.
  struct Draft {
    std::uint64_t size = 0;  // a file: its bytes
    std::int64_t time = 0;
    std::uint32_t parent = 0;
    std::uint32_t nameAt = 0;  // in `text`
    std::uint32_t nameSize = 0;
    std::uint32_t source = 0;  // a file: the key its layer opens it by
    std::uint32_t given = 0;   // a folder: the AddFolder calls that named it
    std::uint16_t layer = 0;
    bool folder = false;
  };

  // Where a folder was looked for: its hash, and the free slot where it
  // would go when it was not found.
  struct Probe {
    std::uint64_t hash = 0;
    std::size_t free = 0;
  };
  using Children = std::vector<std::uint32_t>::iterator;

  std::string_view NameOf(std::uint32_t index) const;
  // The folder of `parent` named `name` (folded), or kNone; `probe` then
  // says where it goes.
  std::uint32_t FindFolder(std::uint32_t parent, std::string_view name, Probe* probe) const;
  std::uint32_t Append(std::string_view name, const Draft& draft);
  void IndexFolder(std::uint32_t index, const Probe& probe);
  void Grow(std::size_t size);
  // The folder at the path `folder`, made with its parents when missing.
  std::uint32_t FolderAt(std::string_view folder, std::uint16_t layer, std::int64_t time);
  // Puts children's indexes in folded order of their names; false when
  // they are all distinct.
  bool SortFolded(Children begin, Children end) const;
  // Of each run of children of one name in a sorted range, keeps the one
  // given first at the front and counts into `conflicts` what the others
  // leave out; the end of those kept. `start` and `children` hold every
  // draft's children.
  Children KeepFirstOfEachName(Children begin, Children end,
                               const std::vector<std::uint32_t>& start,
                               const std::vector<std::uint32_t>& children,
                               std::uint64_t& conflicts) const;
  // The names given in the folder `folder`, all of it.
  std::uint64_t GivenIn(std::uint32_t folder, const std::vector<std::uint32_t>& start,
                        const std::vector<std::uint32_t>& children) const;

  std::vector<Draft> drafts;
  std::vector<char> text;
  // The folders, by open addressing: a folder's index + 1 in the low 32
  // bits (0: empty), and the high 32 bits of its hash above, so that a probe
  // reads a name only when those agree.
  std::vector<std::uint64_t> slots;
  std::size_t folders = 0;            // in `slots`
  std::string lastFolder;             // the previous FolderAt's path...
  std::uint32_t lastFolderIndex = 0;  // ...and its node
};

}  // namespace mount
}  // namespace kymf

#endif  // KYMF_MOUNT_MOUNTTREE_H
