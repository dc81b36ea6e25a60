// A module's resource tree, read through bounds-checked offsets from its root.
//
// Three levels, type -> name -> language, each an IMAGE_RESOURCE_DIRECTORY
// (16 bytes: named entries, then ID entries) of 8-byte entries; an entry's
// first field is an ID, or (high bit set) the offset of a name string (a
// 16-bit length and UTF-16 characters); its second the offset of a
// subdirectory (high bit set) or of a leaf, a 16-byte data entry (RVA, size,
// code page, reserved). Offsets are from the tree's root.
//
// A lookup descends exactly three levels and a walk refuses a directory that
// leads back up the tree, so a hostile module can neither make a read fall
// outside the tree nor make a lookup or a walk loop.
#ifndef RXMFILES_BACKENDS_RESOURCETREE_H
#define RXMFILES_BACKENDS_RESOURCETREE_H

#include <cstdint>
#include <functional>
#include <string>

#include "backends/ResourceImage.h"

namespace RXM {

// What FindResourceA is asked for at one level: an integer ID, or a name
// upper-cased as Windows compares names.
struct ResourceKey {
  bool isId = false;
  std::uint16_t id = 0;
  std::u16string name;

  // From FindResourceA's argument: an ID passed as MAKEINTRESOURCE (a value
  // below 0x10000), "#<decimal>", or a name. False for an invalid "#" form.
  static bool FromText(const char* text, ResourceKey& key);
};

// "<decimal>" (what follows the '#') read as Windows reads it
// (RtlCharToInteger in base 10): leading blanks, one sign, digits up to the
// first other character, wrapping at 32 bits. False when the value does not
// fit in 16 bits (a negative one does not).
bool ParseResourceId(const char* text, std::uint16_t& id);

// One resource that a walk reaches.
struct ResourceLeaf {
  std::uint32_t typeField;  // the entries' ID-or-name fields
  std::uint32_t nameField;
  std::uint16_t language;
  std::uint32_t rva;  // as the data entry records them
  std::uint32_t size;
};

class ResourceTree {
 public:
  // What a walk does with a directory that two entries of one level lead to.
  // No compiler writes one; walked path by path, a small module could hold
  // billions of resources.
  enum class Shared { kWalkOnce, kRefuse };

  // The tree whose root is the start of `bytes`.
  explicit ResourceTree(ByteSpan bytes) : tree(bytes) {}

  // The offset of the data entry of the resource `name` of type `type`: the
  // neutral language first, then US English (0x0409), then English (0x0009),
  // then the first language stored. False when there is none.
  bool Find(const ResourceKey& type, const ResourceKey& name, std::uint32_t& entry) const;
  // The RVA and size that the data entry at `entry` records; false when it
  // lies outside the tree.
  bool Data(std::uint32_t entry, std::uint32_t& rva, std::uint32_t& size) const;
  // An entry's ID-or-name field as "#<id>" or as its name (Latin-1; other
  // characters as '?').
  void Describe(std::uint32_t field, char (&out)[260]) const;

  // Calls `visit` for each resource, type then name then language in the
  // order stored. True when the whole tree was walked; false with `fault`
  // set when part of it is damaged (or refused) or when `visit` returned
  // false (`visit` then sets `fault`).
  using Visitor = std::function<bool(const ResourceLeaf& leaf, std::string& fault)>;
  bool Walk(Shared shared, const Visitor& visit, std::string& fault) const;

 private:
  struct Walking;
  bool Entries(std::uint32_t directory, std::uint32_t& named, std::uint32_t& total) const;
  void Entry(std::uint32_t directory, std::uint32_t i, std::uint32_t& name,
             std::uint32_t& target) const;
  bool NameString(std::uint32_t offset, std::u16string& text) const;
  bool Matches(std::uint32_t field, const ResourceKey& key) const;
  bool Lookup(std::uint32_t directory, const ResourceKey& key, bool wantDirectory,
              std::uint32_t& found) const;
  bool First(std::uint32_t directory, bool wantDirectory, std::uint32_t& found) const;
  bool Kind(std::uint32_t target, bool wantDirectory, std::uint32_t& found) const;
  bool WalkDirectory(Walking& walking, std::uint32_t offset, int level) const;

  ByteSpan tree;
};

}  // namespace RXM

#endif  // RXMFILES_BACKENDS_RESOURCETREE_H
