#include "mount/MountTree.h"

#include <algorithm>
#include <utility>

#include <RXMFiles.h>

namespace kymf {
namespace mount {
namespace {

// <0, 0 or >0 as `name` folded sorts before, equal to or after `folded`.
int CompareFolded(const std::string& name, const std::string& folded) {
  const std::size_t common = std::min(name.size(), folded.size());
  for (std::size_t i = 0; i < common; ++i) {
    const int a = RXM::kymf::FoldByte(static_cast<unsigned char>(name[i]));
    const int b = static_cast<unsigned char>(folded[i]);
    if (a != b) {
      return a - b;
    }
  }
  return name.size() < folded.size() ? -1 : (name.size() > folded.size() ? 1 : 0);
}

std::string LastComponent(const std::string& path) {
  return path.substr(path.rfind('/') + 1);  // npos + 1 == 0
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

MountTree::MountTree() : nodes(1) {
  nodes[0].folder = true;
}

std::uint32_t MountTree::Find(std::uint32_t parent, const char* name) const {
  if (parent >= nodes.size() || !nodes[parent].folder) {
    return kNone;
  }
  const std::string folded = RXM::kymf::FoldName(name);
  const auto begin = nodes.begin() + nodes[parent].first;
  const auto end = begin + nodes[parent].count;
  const auto found = std::lower_bound(begin, end, folded, [](const MountNode& node, const auto& f) {
    return CompareFolded(node.name, f) < 0;
  });
  if (found == end || CompareFolded(found->name, folded) != 0) {
    return kNone;
  }
  return static_cast<std::uint32_t>(found - nodes.begin());
}

std::uint32_t MountTree::FindPath(const std::string& path) const {
  std::uint32_t at = 0;
  std::size_t from = 0;
  while (at != kNone && from < path.size()) {
    std::size_t slash = path.find('/', from);
    if (slash == std::string::npos) {
      slash = path.size();
    }
    at = Find(at, path.substr(from, slash - from).c_str());
    from = slash + 1;
  }
  return at;
}

MountTreeBuilder::MountTreeBuilder() : pending(1) {
  pending[0].node.folder = true;
  byPath.emplace(std::string(), 0);
}

std::uint32_t MountTreeBuilder::Attach(std::uint32_t parent, const std::string& folded,
                                       const std::string& name, MountNode node) {
  if (pending[0].node.time == 0) {
    pending[0].node.time = node.time;  // the root: the time of the source that leads
  }
  const auto index = static_cast<std::uint32_t>(pending.size());
  node.parent = parent;
  node.name = LastComponent(name);
  pending.push_back(Pending{std::move(node), LastComponent(folded), {}});
  pending[parent].children.push_back(index);
  byPath.emplace(folded, index);
  return index;
}

std::uint32_t MountTreeBuilder::EnsureFolder(const std::string& folded, const std::string& name,
                                             std::int64_t time) {
  const auto known = byPath.find(folded);
  if (known != byPath.end()) {
    return pending[known->second].node.folder ? known->second : MountTree::kNone;
  }
  const std::uint32_t parent = EnsureFolder(ParentOf(folded), ParentOf(name), time);
  if (parent == MountTree::kNone) {
    return parent;
  }
  MountNode folder;
  folder.folder = true;
  folder.time = time;
  return Attach(parent, folded, name, std::move(folder));
}

Placement MountTreeBuilder::AddFile(const std::string& name, std::uint64_t size,
                                    std::uint16_t layer, std::string source, std::int64_t time) {
  const std::string folded = RXM::kymf::FoldName(name.c_str());
  const auto known = byPath.find(folded);
  if (known != byPath.end()) {
    return pending[known->second].node.folder ? Placement::kConflict : Placement::kShadowed;
  }
  const std::uint32_t parent = EnsureFolder(ParentOf(folded), ParentOf(name), time);
  if (parent == MountTree::kNone) {
    return Placement::kConflict;
  }
  MountNode file;
  file.size = size;
  file.layer = layer;
  file.source = std::move(source);
  file.time = time;
  Attach(parent, folded, name, std::move(file));
  return Placement::kShown;
}

Placement MountTreeBuilder::AddFolder(const std::string& name, std::int64_t time) {
  const std::string folded = RXM::kymf::FoldName(name.c_str());
  const auto known = byPath.find(folded);
  if (known != byPath.end()) {
    return pending[known->second].node.folder ? Placement::kShadowed : Placement::kConflict;
  }
  return EnsureFolder(folded, name, time) == MountTree::kNone ? Placement::kConflict
                                                              : Placement::kShown;
}

MountTree MountTreeBuilder::Build() {
  // Breadth first, so that each folder's children take consecutive numbers.
  std::vector<std::uint32_t> order{0};
  std::vector<std::uint32_t> number(pending.size(), 0);
  for (std::size_t at = 0; at < order.size(); ++at) {
    std::vector<std::uint32_t>& children = pending[order[at]].children;
    std::sort(children.begin(), children.end(), [this](std::uint32_t a, std::uint32_t b) {
      return pending[a].folded < pending[b].folded;
    });
    for (std::uint32_t child : children) {
      number[child] = static_cast<std::uint32_t>(order.size());
      order.push_back(child);
    }
  }
  MountTree tree;
  tree.nodes.clear();
  tree.nodes.reserve(order.size());
  for (std::uint32_t old : order) {
    Pending& from = pending[old];
    MountNode node = std::move(from.node);
    node.parent = number[node.parent];
    node.count = static_cast<std::uint32_t>(from.children.size());
    node.first = from.children.empty() ? 0 : number[from.children.front()];
    for (std::uint32_t child : from.children) {
      node.folders += pending[child].node.folder ? 1 : 0;
    }
    if (!node.folder) {
      ++tree.files;
      tree.bytes += node.size;
    }
    tree.nodes.push_back(std::move(node));
  }
  *this = MountTreeBuilder();
  return tree;
}

}  // namespace mount
}  // namespace kymf
