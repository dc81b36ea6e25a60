#include "multifile/NameIndex.h"

namespace RXM {

NameIndex::NameIndex(const PointerArray<MultiFileElement>& directory) {
  std::vector<std::uint32_t> hashes(static_cast<std::size_t>(directory.GetCount()), 0);
  for (std::int32_t i = 0; i < directory.GetCount(); ++i) {
    if (directory.Peek(i) != nullptr) {
      hashes[static_cast<std::size_t>(i)] = Hash(directory.Peek(i)->name);
    }
  }
  Build(directory, hashes);
}

NameIndex::NameIndex(const PointerArray<MultiFileElement>& directory,
                     const std::vector<std::uint32_t>& hashes) {
  Build(directory, hashes);
}

void NameIndex::Build(const PointerArray<MultiFileElement>& directory,
                      const std::vector<std::uint32_t>& hashes) {
  const std::int32_t count = directory.GetCount();
  std::uint32_t size = 16;
  while (size < 2u * static_cast<std::uint32_t>(count)) {
    size <<= 1;
  }
  slots.assign(size, Slot{0, 0});
  mask = size - 1;
  for (std::int32_t i = 0; i < count; ++i) {
    const MultiFileElement* element = directory.Peek(i);
    if (element == nullptr) {
      continue;
    }
    const std::uint32_t hash = hashes[static_cast<std::size_t>(i)];
    std::uint32_t slot = hash & mask;
    while (slots[slot].entry != 0 &&
           (slots[slot].hash != hash ||
            !kymf::NameMatches(element->name, *directory.Peek(slots[slot].entry - 1)))) {
      slot = (slot + 1) & mask;
    }
    slots[slot] = Slot{hash, i + 1};  // a later record of an equal name takes the slot over
  }
}

int NameIndex::Find(const char* name, const PointerArray<MultiFileElement>& directory) const {
  const std::uint32_t hash = Hash(name);
  std::uint32_t slot = hash & mask;
  while (slots[slot].entry != 0) {
    const std::int32_t index = slots[slot].entry - 1;
    if (slots[slot].hash == hash && index < directory.GetCount() &&
        directory.Peek(index) != nullptr && kymf::NameMatches(name, *directory.Peek(index))) {
      return index;
    }
    slot = (slot + 1) & mask;
  }
  return -1;
}

// FNV-1a over the folded bytes.
std::uint32_t NameIndex::Hash(const char* name) {
  std::uint32_t hash = 2166136261u;
  for (const char* c = name; *c != '\0'; ++c) {
    hash ^= kymf::FoldByte(static_cast<unsigned char>(*c));
    hash *= 16777619u;
  }
  return hash;
}

}  // namespace RXM
