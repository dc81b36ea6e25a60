// The tree that kymf mount serves, built from hostile lists of names: any
// byte, duplicates, names equal but for ASCII letter case, a file and a
// folder of one name, deep nesting, empty components, very long names. Each
// name passes the rule the mount's sources apply (RXM::CheckSafeName) or is
// left out, as they leave it out; the rest go to the builder, whose answers
// and tree are checked against a plain model of the same rules:
//  - the names left out because a file and a folder share a name are as
//    many as the model's;
//  - every name the model holds is found, by its own spelling and by others
//    equal but for letter case, as the folder or file the model says, with
//    the spelling of the name that made it, its size, source and layer;
//  - every folder's children are its own, in strictly increasing folded
//    order, numbered after it, and each is found by its name; nothing else
//    is found; the counts and the sum of the sizes are the model's.
// Input: a list of operations (Reader and NextName say how each is read),
// bounded so that each input runs in a few milliseconds.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "RXMFiles.h"
#include "files/SafeName.h"
#include "mount/MountTree.h"
#include "multifile/ArchiveFormat.h"

namespace {

using kymf::mount::MountNode;
using kymf::mount::MountTree;
using kymf::mount::MountTreeBuilder;

// What became of a name in the model.
enum class Placement { kShown, kShadowed, kConflict };

// Each name costs the model and the checks about its length times its
// depth; the input is read no further than the name that would take the
// cost of all past this.
constexpr std::size_t kMostNames = 4096;
constexpr std::size_t kMostWork = std::size_t{1} << 20;

void Check(bool holds) {
  if (!holds) {
    std::abort();
  }
}

std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    c = static_cast<char>(RXM::multifile::FoldByte(static_cast<unsigned char>(c)));
  }
  return folded;
}

// The name with the case of every ASCII letter turned.
std::string Twin(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return name;
}

// The builder's rules, kept plainly: a map from folded paths.
class Model {
 public:
  struct Node {
    bool folder = false;
    std::string spelled;  // the whole path as first made
    std::uint64_t size = 0;
    std::uint32_t source = 0;
    std::uint16_t layer = 0;
  };

  Placement Add(const std::string& name, bool folder, const Node& given) {
    std::string path;
    std::string spelled;
    for (std::size_t begin = 0;;) {
      const std::size_t slash = name.find('/', begin);
      const bool last = slash == std::string::npos;
      const std::string part = name.substr(begin, last ? std::string::npos : slash - begin);
      path += (path.empty() ? "" : "/") + Folded(part);
      const auto found = nodes.find(path);
      if (last) {
        if (found != nodes.end()) {
          return found->second.folder && folder   ? Placement::kShadowed
                 : found->second.folder || folder ? Placement::kConflict
                                                  : Placement::kShadowed;
        }
        Node node = given;
        node.folder = folder;
        node.spelled = spelled + (spelled.empty() ? "" : "/") + part;
        nodes.emplace(path, node);
        return Placement::kShown;
      }
      if (found == nodes.end()) {
        Node made;
        made.folder = true;
        made.layer = given.layer;
        made.spelled = spelled + (spelled.empty() ? "" : "/") + part;
        nodes.emplace(path, made);
      } else if (!found->second.folder) {
        return Placement::kConflict;
      }
      spelled = nodes[path].spelled;
      begin = slash + 1;
    }
  }

  std::map<std::string, Node> nodes;
};

// Reads the operations: each is a byte, then what it needs. A name is a
// length byte and that many bytes; a count is one byte.
class Reader {
 public:
  Reader(const std::uint8_t* bytes, std::size_t length) : data(bytes), size(length) {}
  bool More() const { return at < size; }
  std::uint8_t Byte() { return at < size ? data[at++] : 0; }
  std::string Name() {
    const std::size_t length = Byte();
    const std::size_t taken = length < size - at ? length : size - at;
    std::string name(reinterpret_cast<const char*>(data + at), taken);
    at += taken;
    return name;
  }

 private:
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
};

// The next name to give: as read, a previous one again or its case twin,
// one component nested many times, or one repeated to a great length.
std::string NextName(Reader& in, std::uint8_t op, const std::vector<std::string>& given) {
  switch (op & 7) {
    case 4:
    case 5:
      if (!given.empty()) {
        const std::string& earlier = given[in.Byte() % given.size()];
        return (op & 7) == 4 ? earlier : Twin(earlier);
      }
      return in.Name();
    case 6: {
      const std::string part = in.Name();
      const int depth = 1 + in.Byte();
      std::string name = part;
      for (int i = 1; i < depth; ++i) {
        name += "/" + part;
      }
      return name;
    }
    case 7: {
      const std::string part = in.Name();
      const std::size_t length = ((std::size_t{in.Byte()} << 8) | in.Byte()) % 8193;
      std::string name;
      while (!part.empty() && name.size() < length) {
        name += part;
      }
      return name;
    }
    default:
      return in.Name();
  }
}

void CheckStructure(const MountTree& tree) {
  const MountNode& root = tree.Get(0);
  Check(root.folder && root.parent == 0 && *root.name == '\0');
  std::uint64_t children = 0;
  for (std::uint32_t i = 0; i < tree.GetCount(); ++i) {
    const MountNode& node = tree.Get(i);
    if (!node.folder) {
      Check(node.count == 0 && tree.Find(i, "x") == MountTree::kNone);
      continue;
    }
    Check(node.count == 0 || (node.first > i && node.first + node.count <= tree.GetCount()));
    std::uint32_t folders = 0;
    for (std::uint32_t c = node.first; c < node.first + node.count; ++c) {
      const MountNode& child = tree.Get(c);
      Check(child.parent == i && *child.name != '\0');
      Check(c == node.first || Folded(tree.Get(c - 1).name) < Folded(child.name));
      Check(tree.Find(i, child.name) == c && tree.Find(i, Twin(child.name)) == c);
      folders += child.folder ? 1 : 0;
    }
    Check(folders == node.folders);
    children += node.count;
  }
  Check(children + 1 == tree.GetCount());
  Check(tree.Find(tree.GetCount(), "") == MountTree::kNone);
}

// Each node of the model through its parent, one lookup each (a parent's
// folded path sorts before its children's); then each name given, by its
// whole path, as a program looks names up. Costs about what the names do.
void CheckAgainst(const MountTree& tree, const Model& model,
                  const std::vector<std::string>& names) {
  Check(tree.GetCount() == model.nodes.size() + 1);
  std::map<std::string, std::uint32_t> placed;  // folded path: node
  std::uint64_t files = 0, bytes = 0;
  for (const auto& [folded, expected] : model.nodes) {
    const std::size_t slash = folded.rfind('/');
    std::uint32_t parent = 0;
    if (slash != std::string::npos) {
      const auto found = placed.find(folded.substr(0, slash));
      Check(found != placed.end());
      parent = found->second;
    }
    const std::string leaf = expected.spelled.substr(expected.spelled.rfind('/') + 1);
    const std::uint32_t found = tree.Find(parent, leaf);
    Check(found != MountTree::kNone && tree.Find(parent, Twin(leaf)) == found);
    const MountNode& node = tree.Get(found);
    Check(node.name == leaf && node.folder == expected.folder && node.layer == expected.layer);
    if (!node.folder) {
      Check(node.size == expected.size && node.source == expected.source);
      ++files;
      bytes += node.size;
    }
    placed.emplace(folded, found);
  }
  Check(tree.GetFileCount() == files && tree.GetFileBytes() == bytes);
  for (const std::string& name : names) {
    const auto expected = placed.find(Folded(name));
    const std::uint32_t found = tree.FindPath(name);
    if (expected == placed.end()) {
      Check(found == MountTree::kNone);  // a file holds one of its folders
      continue;
    }
    Check(found == expected->second && tree.FindPath(Twin(name)) == found);
    Check(tree.PathOf(found) == model.nodes.at(expected->first).spelled);
    // A byte more, which no safe name holds, names nothing.
    Check(tree.FindPath(name + "\x01") == MountTree::kNone);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  MountTreeBuilder builder;
  Model model;
  std::vector<std::string> given;
  std::vector<std::string> safe;
  std::size_t work = 0;
  std::uint64_t conflicts = 0;
  while (in.More() && given.size() < kMostNames) {
    const std::uint8_t op = in.Byte();
    if (op == 0xFF) {
      builder.Reserve(in.Byte());
      continue;
    }
    const std::string name = NextName(in, op, given);
    const std::size_t cost =
        (name.size() + 1) * static_cast<std::size_t>(1 + std::count(name.begin(), name.end(), '/'));
    if (work + cost > kMostWork) {
      break;
    }
    work += cost;
    given.push_back(name);
    if (RXM::CheckSafeName(name.data(), name.size()) != RXM::NameFault::kNone) {
      continue;  // as the mount's sources leave such names out
    }
    safe.push_back(name);
    const bool folder = (op & 0x18) == 0x18;
    Model::Node node;
    node.size = given.size() * 7u;
    node.source = static_cast<std::uint32_t>(given.size());
    node.layer = static_cast<std::uint16_t>(op >> 5);
    if (folder) {
      builder.AddFolder(name, node.layer, 0);
    } else {
      builder.AddFile(name, node.size, node.layer, node.source, 0);
    }
    conflicts += model.Add(name, folder, node) == Placement::kConflict ? 1 : 0;
  }
  const MountTree tree = builder.Build();
  Check(tree.GetConflicts() == conflicts);
  CheckStructure(tree);
  CheckAgainst(tree, model, safe);
  return 0;
}
