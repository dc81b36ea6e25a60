#include "backends/ResourceTree.h"

#include <cstdio>
#include <map>

namespace RXM {

namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint32_t kDirectoryHeader = 16;
constexpr std::uint32_t kEntrySize = 8;
constexpr std::uint32_t kDataEntrySize = 16;
constexpr int kLanguageLevel = 2;

// Bytes are taken as Latin-1 characters and upper-cased as Windows upper-cases
// them (ASCII and Latin-1 letters), since resource compilers store names
// upper-cased.
char16_t UpperCase(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
    return static_cast<char16_t>(c - 0x20);
  }
  if (c == 0xFF) {
    return u'\u0178';
  }
  if (c == 0xB5) {
    return u'\u039C';
  }
  return c;
}

std::string At(std::uint32_t offset) {
  return " at byte " + std::to_string(offset) + " of the resource directory";
}

}  // namespace

bool ParseResourceId(const char* text, std::uint16_t& id) {
  while (*text != '\0' && static_cast<unsigned char>(*text) <= ' ') {
    ++text;
  }
  bool negative = false;
  if (*text == '+') {
    ++text;
  } else if (*text == '-') {
    negative = true;
    ++text;
  }
  std::uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10u + static_cast<std::uint32_t>(*text - '0');
  }
  if (negative) {
    value = 0u - value;
  }
  if (value > 0xFFFFu) {
    return false;
  }
  id = static_cast<std::uint16_t>(value);
  return true;
}

bool ResourceKey::FromText(const char* text, ResourceKey& key) {
  key = ResourceKey();
  const auto raw = reinterpret_cast<std::uintptr_t>(text);
  if (raw <= 0xFFFFu) {  // MAKEINTRESOURCE
    key.isId = true;
    key.id = static_cast<std::uint16_t>(raw);
    return true;
  }
  if (text[0] == '#') {
    key.isId = true;
    return ParseResourceId(text + 1, key.id);
  }
  for (const char* c = text; *c != '\0'; ++c) {
    key.name.push_back(UpperCase(static_cast<unsigned char>(*c)));
  }
  return true;
}

bool ResourceTree::Entries(std::uint32_t directory, std::uint32_t& named,
                           std::uint32_t& total) const {
  std::uint16_t n = 0, ids = 0;
  if (!tree.U16(directory + 12ull, n) || !tree.U16(directory + 14ull, ids)) {
    return false;
  }
  named = n;
  total = static_cast<std::uint32_t>(n) + ids;
  return tree.Has(directory + std::uint64_t{kDirectoryHeader}, std::uint64_t{kEntrySize} * total);
}

void ResourceTree::Entry(std::uint32_t directory, std::uint32_t i, std::uint32_t& name,
                         std::uint32_t& target) const {
  const std::uint64_t at =
      directory + std::uint64_t{kDirectoryHeader} + std::uint64_t{kEntrySize} * i;
  tree.U32(at, name);
  tree.U32(at + 4, target);
}

bool ResourceTree::NameString(std::uint32_t offset, std::u16string& text) const {
  std::uint16_t length = 0;
  if (!tree.U16(offset, length) || !tree.Has(offset + 2ull, 2ull * length)) {
    return false;
  }
  text.clear();
  for (std::uint32_t i = 0; i < length; ++i) {
    std::uint16_t c = 0;
    tree.U16(offset + 2ull + 2ull * i, c);
    text.push_back(static_cast<char16_t>(c));
  }
  return true;
}

bool ResourceTree::Matches(std::uint32_t field, const ResourceKey& key) const {
  if (key.isId) {
    return field <= 0xFFFFu && field == key.id;
  }
  // Compared in place: a lookup reads every name of a level.
  const std::uint32_t offset = field & ~kHighBit;
  std::uint16_t length = 0;
  if ((field & kHighBit) == 0 || !tree.U16(offset, length) || length != key.name.size() ||
      !tree.Has(offset + 2ull, 2ull * length)) {
    return false;
  }
  for (std::uint32_t i = 0; i < length; ++i) {
    if (LittleEndian::Decode16(tree.data + offset + 2 + std::size_t{2} * i) != key.name[i]) {
      return false;
    }
  }
  return true;
}

bool ResourceTree::Kind(std::uint32_t target, bool wantDirectory, std::uint32_t& found) const {
  if (((target & kHighBit) != 0) != wantDirectory) {
    return false;
  }
  found = target & ~kHighBit;
  return tree.Has(found, kDataEntrySize);
}

bool ResourceTree::Lookup(std::uint32_t directory, const ResourceKey& key, bool wantDirectory,
                          std::uint32_t& found) const {
  std::uint32_t named = 0, total = 0;
  if (!Entries(directory, named, total)) {
    return false;
  }
  const std::uint32_t begin = key.isId ? named : 0, end = key.isId ? total : named;
  for (std::uint32_t i = begin; i < end; ++i) {
    std::uint32_t name = 0, target = 0;
    Entry(directory, i, name, target);
    if (Matches(name, key)) {
      return Kind(target, wantDirectory, found);
    }
  }
  return false;
}

bool ResourceTree::First(std::uint32_t directory, bool wantDirectory, std::uint32_t& found) const {
  std::uint32_t named = 0, total = 0;
  if (!Entries(directory, named, total)) {
    return false;
  }
  for (std::uint32_t i = 0; i < total; ++i) {
    std::uint32_t name = 0, target = 0;
    Entry(directory, i, name, target);
    if (Kind(target, wantDirectory, found)) {
      return true;
    }
  }
  return false;
}

// A neutral request from a US English user: neutral, then US English, then
// English, then whatever language comes first.
bool ResourceTree::Find(const ResourceKey& type, const ResourceKey& name,
                        std::uint32_t& entry) const {
  std::uint32_t names = 0, languages = 0;
  if (!Lookup(0, type, true, names) || !Lookup(names, name, true, languages)) {
    return false;
  }
  for (std::uint16_t language :
       {std::uint16_t{0x0000}, std::uint16_t{0x0409}, std::uint16_t{0x0009}}) {
    ResourceKey key;
    key.isId = true;
    key.id = language;
    if (Lookup(languages, key, false, entry)) {
      return true;
    }
  }
  return First(languages, false, entry);
}

bool ResourceTree::Data(std::uint32_t entry, std::uint32_t& rva, std::uint32_t& size) const {
  return tree.U32(entry, rva) && tree.U32(entry + 4ull, size);
}

void ResourceTree::Describe(std::uint32_t field, char (&out)[260]) const {
  if ((field & kHighBit) == 0) {
    (void)std::snprintf(out, sizeof out, "#%u", static_cast<unsigned>(field & 0xFFFFu));
    return;
  }
  std::u16string text;
  NameString(field & ~kHighBit, text);
  std::size_t i = 0;
  for (; i < text.size() && i + 1 < sizeof out; ++i) {
    out[i] = text[i] < 0x100 ? static_cast<char>(text[i]) : '?';
  }
  out[i] = '\0';
}

// What a walk carries down the tree.
struct ResourceTree::Walking {
  Shared shared;
  const Visitor& visit;
  std::string& fault;
  std::map<std::uint32_t, int> levels;  // the directories walked, and at which level
  ResourceLeaf leaf{};
};

bool ResourceTree::Walk(Shared shared, const Visitor& visit, std::string& fault) const {
  Walking walking{shared, visit, fault, {}, {}};
  return WalkDirectory(walking, 0, 0);
}

bool ResourceTree::WalkDirectory(Walking& walking, std::uint32_t offset, int level) const {
  const auto [walked, isNew] = walking.levels.emplace(offset, level);
  if (!isNew) {
    if (walked->second != level) {
      walking.fault = "a directory that leads back up the tree" + At(offset);
      return false;
    }
    if (walking.shared == Shared::kRefuse) {
      walking.fault = "a directory shared by two entries" + At(offset);
      return false;
    }
    return true;
  }
  std::uint32_t named = 0, total = 0;
  if (!Entries(offset, named, total)) {
    walking.fault = "a directory that runs past the end of the resource data" + At(offset);
    return false;
  }
  for (std::uint32_t i = 0; i < total; ++i) {
    std::uint32_t field = 0, target = 0, found = 0;
    Entry(offset, i, field, target);
    std::u16string name;
    if ((field & kHighBit) != 0 && !NameString(field & ~kHighBit, name)) {
      walking.fault = "a name outside the resource data" + At(offset);
      return false;
    }
    const bool leafLevel = level == kLanguageLevel;
    if (!Kind(target, !leafLevel, found)) {
      walking.fault = std::string(leafLevel ? "a directory where a resource belongs"
                                            : "a resource where a directory belongs") +
                      At(offset);
      return false;
    }
    if (level == 0) {
      walking.leaf.typeField = field;
    } else if (level == 1) {
      walking.leaf.nameField = field;
    }
    if (!leafLevel) {
      if (!WalkDirectory(walking, found, level + 1)) {
        return false;
      }
      continue;
    }
    walking.leaf.language = static_cast<std::uint16_t>(field & 0xFFFFu);
    Data(found, walking.leaf.rva, walking.leaf.size);
    if (!walking.visit(walking.leaf, walking.fault)) {
      return false;
    }
  }
  return true;
}

}  // namespace RXM
