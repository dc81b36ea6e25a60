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
  drafts[0].folder = true;
}

std::string_view MountTreeBuilder::NameOf(std::uint32_t index) const {
  return std::string_view(text.data() + drafts[index].nameAt, drafts[index].nameSize);
}

std::uint32_t MountTreeBuilder::FindFolder(std::uint32_t parent, std::string_view name,
                                           Probe* probe) const {
  const std::uint64_t hash = HashOf(parent, name);
  probe->hash = hash;
  const std::uint64_t tag = hash & ~0xFFFFFFFFull;
  const std::size_t mask = slots.size() - 1;
  std::size_t at = hash & mask;
  for (; slots[at] != 0; at = (at + 1) & mask) {
    const auto index = static_cast<std::uint32_t>(slots[at] - 1);
    if ((slots[at] & ~0xFFFFFFFFull) == tag && drafts[index].parent == parent &&
        CompareFolded(NameOf(index), name) == 0) {
      return index;
    }
  }
  probe->free = at;
  return MountTree::kNone;
}

void MountTreeBuilder::IndexFolder(std::uint32_t index, const Probe& probe) {
  if (++folders * 2 > slots.size()) {  // at most half full
    Grow(slots.size() * 2);
  } else {
    slots[probe.free] = (probe.hash & ~0xFFFFFFFFull) | (index + 1);
  }
}

// Every folder made so far, again: the drafts are walked once per doubling.
void MountTreeBuilder::Grow(std::size_t size) {
  slots.assign(size, 0);
  const std::size_t mask = size - 1;
  for (std::uint32_t i = 1; i < drafts.size(); ++i) {
    if (drafts[i].folder) {
      const std::uint64_t hash = HashOf(drafts[i].parent, NameOf(i));
      std::size_t at = hash & mask;
      while (slots[at] != 0) {
        at = (at + 1) & mask;
      }
      slots[at] = (hash & ~0xFFFFFFFFull) | (i + 1);
    }
  }
}

// The folders the names make are not known yet: room is kept for half as
// many again, which costs address space only until it is used, where
// growing past the room would copy every draft made so far.
void MountTreeBuilder::Reserve(std::size_t names) {
  drafts.reserve(drafts.size() + names + names / 2);
}

std::uint32_t MountTreeBuilder::Append(std::string_view name, const Draft& draft) {
  const auto index = static_cast<std::uint32_t>(drafts.size());
  if (draft.parent == 0 && drafts[0].time == 0) {
    drafts[0].time = draft.time;  // the root: the time of the source that leads
  }
  drafts.push_back(draft);
  drafts.back().nameAt = static_cast<std::uint32_t>(text.size());
  drafts.back().nameSize = static_cast<std::uint32_t>(name.size());
  text.insert(text.end(), name.begin(), name.end());
  text.push_back('\0');
  return index;
}

std::uint32_t MountTreeBuilder::FolderAt(std::string_view folder, std::uint16_t layer,
                                         std::int64_t time) {
  if (folder == lastFolder || CompareFolded(folder, lastFolder) == 0) {
    return lastFolderIndex;
  }
  std::uint32_t at = 0;
  for (std::string_view rest = folder; !rest.empty();) {
    const std::size_t slash = std::min(rest.find('/'), rest.size());
    const std::string_view part = rest.substr(0, slash);
    rest.remove_prefix(std::min(slash + 1, rest.size()));
    Probe probe;
    std::uint32_t child = FindFolder(at, part, &probe);
    if (child == MountTree::kNone) {
      Draft made;
      made.parent = at;
      made.folder = true;
      made.layer = layer;
      made.time = time;
      child = Append(part, made);
      IndexFolder(child, probe);
    }
    at = child;
  }
  lastFolder.assign(folder);
  lastFolderIndex = at;
  return at;
}

// A file of a folder's name, given before or after it, is only found out in
// Build; until then the folder and the file are both drafts.
void MountTreeBuilder::AddFile(std::string_view name, std::uint64_t size, std::uint16_t layer,
                               std::uint32_t source, std::int64_t time) {
  Draft file;
  file.parent = FolderAt(FolderPart(name), layer, time);
  file.size = size;
  file.layer = layer;
  file.source = source;
  file.time = time;
  Append(LastPart(name), file);
}

void MountTreeBuilder::AddFolder(std::string_view name, std::uint16_t layer, std::int64_t time) {
  ++drafts[FolderAt(name, layer, time)].given;
}

// An archive is mostly written in name order and its records are given last
// first, so a folder's children mostly come in reverse order: one comparison
// a child finds either order, and names strictly in either order are all
// distinct, so that only children that needed sorting are searched for runs.
bool MountTreeBuilder::SortFolded(Children begin, Children end) const {
  int direction = 0;  // <0: ascending, >0: descending, so far
  for (Children at = begin; at != end && at + 1 != end; ++at) {
    const int order = CompareFolded(NameOf(*at), NameOf(*(at + 1)));
    if (order == 0 || (direction != 0 && (order < 0) != (direction < 0))) {
      std::sort(begin, end, [this](std::uint32_t a, std::uint32_t b) {
        return CompareFolded(NameOf(a), NameOf(b)) < 0;
      });
      return true;
    }
    direction = order;
  }
  if (direction > 0) {
    std::reverse(begin, end);
  }
  return false;
}

// A run holds at most one folder (folders are found, never made twice). The
// child given first has the lowest index; beside it, a later file is shadowed
// by a file and a conflict beside a folder, and a later folder is a conflict
// with every name given in it.
MountTreeBuilder::Children MountTreeBuilder::KeepFirstOfEachName(
    Children begin, Children end, const std::vector<std::uint32_t>& start,
    const std::vector<std::uint32_t>& children, std::uint64_t& conflicts) const {
  Children kept = begin;
  for (Children run = begin; run != end;) {
    Children next = run + 1;
    while (next != end && CompareFolded(NameOf(*run), NameOf(*next)) == 0) {
      ++next;
    }
    const std::uint32_t first = *std::min_element(run, next);
    for (Children other = run; other != next; ++other) {
      if (*other != first) {
        conflicts += drafts[*other].folder  ? GivenIn(*other, start, children)
                     : drafts[first].folder ? 1
                                            : 0;
      }
    }
    *kept++ = first;  // kept never passes run: what it overwrites is done with
    run = next;
  }
  return kept;
}

// Every file below the folder, and every AddFolder call that named it or a
// folder below it. Only a folder that lost is counted, so rarely.
std::uint64_t MountTreeBuilder::GivenIn(std::uint32_t folder,
                                        const std::vector<std::uint32_t>& start,
                                        const std::vector<std::uint32_t>& children) const {
  std::uint64_t given = 0;
  std::vector<std::uint32_t> pending{folder};
  while (!pending.empty()) {
    const std::uint32_t at = pending.back();
    pending.pop_back();
    given += drafts[at].folder ? drafts[at].given : 1;
    if (drafts[at].folder) {
      pending.insert(pending.end(), children.begin() + start[at], children.begin() + start[at + 1]);
    }
  }
  return given;
}

MountTree MountTreeBuilder::Build() {
  // Each folder's children together (a counting sort by parent).
  const auto count = static_cast<std::uint32_t>(drafts.size());
  std::vector<std::uint32_t> start(count + 1, 0);
  for (std::uint32_t i = 1; i < count; ++i) {
    ++start[drafts[i].parent + 1];
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    start[i + 1] += start[i];
  }
  std::vector<std::uint32_t> children(count > 0 ? count - 1 : 0);
  std::vector<std::uint32_t> kept(start.begin(), start.end() - 1);
  for (std::uint32_t i = 1; i < count; ++i) {
    children[kept[drafts[i].parent]++] = i;
  }
  // Breadth first, so that each folder's children take consecutive numbers;
  // a folder left out is never entered.
  MountTree tree;
  std::vector<std::uint32_t> order{0};
  std::vector<std::uint32_t> number(count, 0);
  order.reserve(count);
  for (std::size_t at = 0; at < order.size(); ++at) {
    const std::uint32_t folder = order[at];
    const Children begin = children.begin() + start[folder];
    const Children end = children.begin() + start[folder + 1];
    const Children last = SortFolded(begin, end)
                              ? KeepFirstOfEachName(begin, end, start, children, tree.conflicts)
                              : end;
    kept[folder] = static_cast<std::uint32_t>(last - begin);
    for (Children child = begin; child != last; ++child) {
      number[*child] = static_cast<std::uint32_t>(order.size());
      order.push_back(*child);
    }
  }
  tree.text = std::move(text);
  tree.nodes.clear();
  tree.nodes.reserve(order.size());
  for (std::uint32_t old : order) {
    const Draft& draft = drafts[old];
    MountNode node;
    node.name = tree.text.data() + draft.nameAt;
    node.size = draft.size;
    node.time = draft.time;
    node.parent = number[draft.parent];
    node.layer = draft.layer;
    node.folder = draft.folder;
    node.source = draft.source;
    node.count = draft.folder ? kept[old] : 0;
    node.first = node.count == 0 ? 0 : number[children[start[old]]];
    for (std::uint32_t c = start[old]; c < start[old] + node.count; ++c) {
      node.folders += drafts[children[c]].folder ? 1 : 0;
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
