// A PE image from arbitrary bytes, with no file in between: read its headers,
// walk its resource tree, look a few resources up, and reach every resource's
// bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "backends/ResourceImage.h"
#include "backends/ResourceTree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  RXM::ResourceImage image;
  std::string reason;
  if (image.Load(std::vector<std::uint8_t>(data, data + size), reason) != RXM::ErrorCode::kOk ||
      image.Tree().size == 0) {
    return 0;
  }
  const RXM::ResourceTree tree(image.Tree());
  for (const char* type : {"#10", "#3", "MYTYPE"}) {
    for (const char* name : {"#1", "ARCHIVE", "# 7"}) {
      RXM::ResourceKey typeKey, nameKey;
      std::uint32_t entry = 0, rva = 0, length = 0;
      if (RXM::ResourceKey::FromText(type, typeKey) && RXM::ResourceKey::FromText(name, nameKey) &&
          tree.Find(typeKey, nameKey, entry) && tree.Data(entry, rva, length)) {
        (void)image.At(rva, length);
      }
    }
  }
  for (auto shared : {RXM::ResourceTree::Shared::kWalkOnce, RXM::ResourceTree::Shared::kRefuse}) {
    std::string fault;
    tree.Walk(
        shared,
        [&](const RXM::ResourceLeaf& leaf, std::string&) {
          char text[260];
          tree.Describe(leaf.nameField, text);
          const std::uint8_t* bytes = image.At(leaf.rva, leaf.size);
          volatile std::uint8_t sink = 0;
          for (std::uint32_t i = 0; bytes != nullptr && i < leaf.size; i += 512) {
            sink ^= bytes[i];
          }
          (void)sink;
          return true;
        },
        fault);
  }
  return 0;
}
