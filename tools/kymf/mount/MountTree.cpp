#include "mount/MountTree.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include <RXMFiles.h>

#include "multifile/ArchiveFormat.h"

namespace kymf {
namespace mount {
namespace {

unsigned char Fold(char c) {
  return RXM::multifile::FoldByte(static_cast<unsigned char>(c));
}

// <0, 0 or >0 as `a` sorts before, equal to or after `b`, both folded.
int CompareFolded(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (Fold(a[i]) != Fold(b[i])) {
      return Fold(a[i]) - Fold(b[i]);
    }
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// FNV-1a of the folded name, seeded by the parent.
std::uint64_t HashOf(std::uint32_t parent, std::string_view name) {
  std::uint64_t hash = 14695981039346656037ull ^ (parent * 0x9E3779B97F4A7C15ull);
  for (char c : name) {
    hash = (hash ^ Fold(c)) * 1099511628211ull;
  }
  return hash;
}

// The part of `path` before its last "/" ("" for none), and the part after.
std::string_view FolderPart(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string_view LastPart(std::string_view path) {
  return path.substr(path.rfind('/') + 1);  // npos + 1 == 0
}

}  // namespace

MountTree::MountTree() : nodes(1) {
  nodes[0].folder = true;
}

std::uint32_t MountTree::Find(std::uint32_t parent, std::string_view name) const {
  if (parent >= nodes.size() || !nodes[parent].folder) {
    return kNone;
  }
  const auto begin = nodes.begin() + nodes[parent].first;
  const auto end = begin + nodes[parent].count;
  const auto found = std::lower_bound(begin, end, name, [](const MountNode& node, auto wanted) {
    return CompareFolded(node.name, wanted) < 0;
  });
  if (found == end || CompareFolded(found->name, name) != 0) {
    return kNone;
  }
  return static_cast<std::uint32_t>(found - nodes.begin());
}

std::uint32_t MountTree::FindPath(std::string_view path) const {
  std::uint32_t at = 0;
  while (at != kNone && !path.empty()) {
    const std::size_t slash = std::min(path.find('/'), path.size());
    at = Find(at, path.substr(0, slash));
    path.remove_prefix(std::min(slash + 1, path.size()));
  }
  return at;
}

std::string MountTree::PathOf(std::uint32_t index) const {
  std::string path;
  for (; index != 0; index = nodes[index].parent) {
    path.insert(0, std::string(path.empty() ? "" : "/"));
    path.insert(0, nodes[index].name);
  }
  return path;
}

MountTreeBuilder::MountTreeBuilder() : drafts(1), text(1, '\0'), slots(1024, 0) {
  drafts[0].node.folder = true;
}

std::string_view MountTreeBuilder::NameOf(std::uint32_t index) const {
  return std::string_view(text.data() + drafts[index].nameAt, drafts[index].nameSize);
}

std::uint32_t MountTreeBuilder::FindChild(std::uint32_t parent, std::string_view name,
                                          Probe* probe) const {
  const std::uint64_t hash = HashOf(parent, name);
  probe->hash = hash;
  const std::uint64_t tag = hash & ~0xFFFFFFFFull;
  const std::size_t mask = slots.size() - 1;
  std::size_t at = hash & mask;
  for (; slots[at] != 0; at = (at + 1) & mask) {
    const auto index = static_cast<std::uint32_t>(slots[at] - 1);
    if ((slots[at] & ~0xFFFFFFFFull) == tag && drafts[index].node.parent == parent &&
        CompareFolded(NameOf(index), name) == 0) {
      return index;
    }
  }
  probe->free = at;
  return MountTree::kNone;
}

void MountTreeBuilder::Index(std::uint32_t index) {
  const std::uint64_t hash = HashOf(drafts[index].node.parent, NameOf(index));
  const std::size_t mask = slots.size() - 1;
  std::size_t at = hash & mask;
  while (slots[at] != 0) {
    at = (at + 1) & mask;
  }
  slots[at] = (hash & ~0xFFFFFFFFull) | (index + 1);
}

void MountTreeBuilder::Grow(std::size_t size) {
  slots.assign(size, 0);
  for (std::uint32_t i = 1; i < drafts.size(); ++i) {
    Index(i);
  }
}

// The folders the names make are not known yet: room is kept for half as
// many again, which costs address space only until it is used, where
// growing past the room would copy every draft made so far.
void MountTreeBuilder::Reserve(std::size_t names) {
  const std::size_t room = names + names / 2;
  std::size_t size = slots.size();
  while (size < (drafts.size() + room) * 2) {
    size *= 2;
  }
  if (size != slots.size()) {
    Grow(size);
  }
  drafts.reserve(drafts.size() + room);
}

std::uint32_t MountTreeBuilder::AddChild(std::uint32_t parent, std::string_view name,
                                         const MountNode& node, const Probe& probe) {
  const auto index = static_cast<std::uint32_t>(drafts.size());
  Draft draft;
  draft.node = node;
  draft.node.parent = parent;
  if (parent == 0 && drafts[0].node.time == 0) {
    drafts[0].node.time = node.time;  // the root: the time of the source that leads
  }
  draft.nameAt = static_cast<std::uint32_t>(text.size());
  draft.nameSize = static_cast<std::uint32_t>(name.size());
  text.insert(text.end(), name.begin(), name.end());
  text.push_back('\0');
  drafts.push_back(draft);
  if (drafts.size() * 2 > slots.size()) {  // at most half full
    Grow(slots.size() * 2);
  } else {
    slots[probe.free] = (probe.hash & ~0xFFFFFFFFull) | (index + 1);
  }
  return index;
}

std::uint32_t MountTreeBuilder::FolderAt(std::string_view folder, std::uint16_t layer,
                                         std::int64_t time) {
  if (CompareFolded(folder, lastFolder) == 0) {
    return lastFolderIndex;
  }
  std::uint32_t at = 0;
  for (std::string_view rest = folder; at != MountTree::kNone && !rest.empty();) {
    const std::size_t slash = std::min(rest.find('/'), rest.size());
    const std::string_view part = rest.substr(0, slash);
    rest.remove_prefix(std::min(slash + 1, rest.size()));
    Probe probe;
    std::uint32_t child = FindChild(at, part, &probe);
    if (child == MountTree::kNone) {
      MountNode made;
      made.folder = true;
      made.layer = layer;
      made.time = time;
      child = AddChild(at, part, made, probe);
    }
    at = drafts[child].node.folder ? child : MountTree::kNone;
  }
  if (at != MountTree::kNone) {
    lastFolder.assign(folder);
    lastFolderIndex = at;
  }
  return at;
}

Placement MountTreeBuilder::AddFile(std::string_view name, std::uint64_t size, std::uint16_t layer,
                                    std::uint32_t source, std::int64_t time) {
  const std::uint32_t parent = FolderAt(FolderPart(name), layer, time);
  if (parent == MountTree::kNone) {
    return Placement::kConflict;
  }
  Probe probe;
  const std::uint32_t known = FindChild(parent, LastPart(name), &probe);
  if (known != MountTree::kNone) {
    return drafts[known].node.folder ? Placement::kConflict : Placement::kShadowed;
  }
  MountNode file;
  file.size = size;
  file.layer = layer;
  file.source = source;
  file.time = time;
  AddChild(parent, LastPart(name), file, probe);
  return Placement::kShown;
}

Placement MountTreeBuilder::AddFolder(std::string_view name, std::uint16_t layer,
                                      std::int64_t time) {
  const std::uint32_t parent = FolderAt(FolderPart(name), layer, time);
  Probe probe;
  const std::uint32_t known =
      parent == MountTree::kNone ? MountTree::kNone : FindChild(parent, LastPart(name), &probe);
  if (parent == MountTree::kNone || known != MountTree::kNone) {
    return known != MountTree::kNone && drafts[known].node.folder ? Placement::kShadowed
                                                                  : Placement::kConflict;
  }
  return FolderAt(name, layer, time) == MountTree::kNone ? Placement::kConflict : Placement::kShown;
}

// An archive is mostly written in name order and its records are given last
// first, so a folder's children mostly come in reverse order: a check of
// order in either direction (one comparison a child) spares the sort.
void MountTreeBuilder::SortFolded(std::vector<std::uint32_t>::iterator begin,
                                  std::vector<std::uint32_t>::iterator end) const {
  const auto before = [this](std::uint32_t a, std::uint32_t b) {
    return CompareFolded(NameOf(a), NameOf(b)) < 0;
  };
  if (std::is_sorted(begin, end, before)) {
    return;
  }
  using Backwards = std::reverse_iterator<std::vector<std::uint32_t>::iterator>;
  if (std::is_sorted(Backwards(end), Backwards(begin), before)) {
    std::reverse(begin, end);
  } else {
    std::sort(begin, end, before);
  }
}

MountTree MountTreeBuilder::Build() {
  // Each folder's children together (a counting sort by parent), in folded order.
  const auto count = static_cast<std::uint32_t>(drafts.size());
  std::vector<std::uint32_t> start(count + 1, 0);
  for (std::uint32_t i = 1; i < count; ++i) {
    ++start[drafts[i].node.parent + 1];
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    start[i + 1] += start[i];
  }
  std::vector<std::uint32_t> children(count > 0 ? count - 1 : 0);
  std::vector<std::uint32_t> filled(start.begin(), start.end() - 1);
  for (std::uint32_t i = 1; i < count; ++i) {
    children[filled[drafts[i].node.parent]++] = i;
  }
  // Breadth first, so that each folder's children take consecutive numbers.
  std::vector<std::uint32_t> order{0};
  std::vector<std::uint32_t> number(count, 0);
  order.reserve(count);
  for (std::size_t at = 0; at < order.size(); ++at) {
    const std::uint32_t folder = order[at];
    const auto begin = children.begin() + start[folder], end = children.begin() + start[folder + 1];
    SortFolded(begin, end);
    for (auto child = begin; child != end; ++child) {
      number[*child] = static_cast<std::uint32_t>(order.size());
      order.push_back(*child);
    }
  }
  MountTree tree;
  tree.text = std::move(text);
  tree.nodes.clear();
  tree.nodes.reserve(count);
  for (std::uint32_t old : order) {
    MountNode node = drafts[old].node;
    node.name = tree.text.data() + drafts[old].nameAt;
    node.parent = number[node.parent];
    node.count = start[old + 1] - start[old];
    node.first = node.count == 0 ? 0 : number[children[start[old]]];
    for (std::uint32_t c = start[old]; c < start[old + 1]; ++c) {
      node.folders += drafts[children[c]].node.folder ? 1 : 0;
    }
    if (!node.folder) {
      ++tree.files;
      tree.bytes += node.size;
    }
    tree.nodes.push_back(node);
  }
  *this = MountTreeBuilder();
  return tree;
}

}  // namespace mount
}  // namespace kymf
