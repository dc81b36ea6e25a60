// Modules built to break the reader: each is refused with its reason, or
// loads, finds nothing broken and lists only what it can open, never reading
// outside what it holds. On Windows the system's loader refuses the same.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#if defined(_WIN32)
#include <windows.h>  // the Win32 resource calls
#endif

#include "RXMFiles.h"
#include "TestSupport.h"

namespace {

using namespace testing_support;
using RXM::ErrorCode;

// A minimal PE32 image that Windows maps too: headers, one section at RVA
// 0x1000 whose raw data (at file offset 0x200, padded to 0x200 bytes) is
// `section`, and the resource directory at its start.
Bytes Module(const Bytes& section, std::uint32_t resourceRva = 0x1000) {
  const std::uint32_t raw = static_cast<std::uint32_t>((section.size() + 0x1FF) & ~0x1FFu);
  Bytes image(0x200 + raw, 0);
  Put(image, 0x200, section);
  auto put16 = [&](std::size_t at, std::uint16_t v) { Put(image, at, LittleEndian(v, 2)); };
  auto put32 = [&](std::size_t at, std::uint32_t v) { Put(image, at, LittleEndian(v)); };
  constexpr std::size_t optional = 0x58;
  put16(0, 0x5A4D);
  put32(0x3C, 0x40);
  put32(0x40, 0x00004550);
  put16(0x44, 0x14C);                                        // machine
  put16(0x46, 1);                                            // one section
  put16(0x54, 224);                                          // optional header size
  put16(0x56, 0x2102);                                       // a 32-bit executable DLL
  put16(optional, 0x10B);                                    // PE32
  put32(optional + 28, 0x10000000);                          // image base
  put32(optional + 32, 0x1000);                              // section alignment
  put32(optional + 36, 0x200);                               // file alignment
  put16(optional + 40, 4);                                   // OS version
  put16(optional + 48, 4);                                   // subsystem version
  put32(optional + 56, 0x1000 + ((raw + 0xFFF) & ~0xFFFu));  // image size
  put32(optional + 60, 0x200);                               // header size
  put16(optional + 68, 2);                                   // GUI subsystem
  put32(optional + 92, 16);                                  // data directories
  put32(optional + 96 + 16, resourceRva);
  put32(optional + 96 + 20, static_cast<std::uint32_t>(section.size()));
  const std::size_t header = optional + 224;
  put32(header + 8, static_cast<std::uint32_t>(section.size()));
  put32(header + 12, 0x1000);
  put32(header + 16, raw);
  put32(header + 20, 0x200);
  put32(header + 36, 0x40000040);  // initialized, readable data
  return image;
}

// A directory of one ID entry.
void Directory(Bytes& tree, std::size_t at, std::uint16_t id, std::uint32_t target) {
  Put(tree, at + 14, LittleEndian(1, 2));
  Put(tree, at + 16, LittleEndian(id, 2));
  Put(tree, at + 20, LittleEndian(target));
}

// Type #10 -> name #1 -> language 0 -> a data entry of `size` bytes at `rva`
// (by default its own "data", at offset 96 of the section).
constexpr std::uint32_t kData = 0x1000 + 96;
Bytes Tree(std::uint32_t rva = kData, std::uint32_t size = 4) {
  Bytes tree;
  Directory(tree, 0, 10, 0x80000000u | 24);
  Directory(tree, 24, 1, 0x80000000u | 48);
  Directory(tree, 48, 0, 72);
  Put(tree, 72, LittleEndian(rva));
  Put(tree, 76, LittleEndian(size));
  Put(tree, 96, BytesOf("data"));
  return tree;
}

struct HostileCase {
  std::string label;
  Bytes image;
  std::string found;     // the contents of "#1\n#10", "<none>", or "" when it does not load
  ErrorCode code;        // why loading, or else listing, fails; kOk when neither does
  std::string why = "";  // a part of that failure's text
};

std::vector<HostileCase> HostileCases() {
  const Bytes good = Module(Tree());
  Bytes selfLoop = Tree();
  Directory(selfLoop, 24, 1, 0x80000000u | 0);  // the name level points back at the root
  Bytes dataAtLanguage = Tree();
  Directory(dataAtLanguage, 0, 10, 72);  // a leaf where a directory belongs
  Bytes hugeCount = Tree();
  hugeCount[12] = 0xFF;
  hugeCount[13] = 0xFF;
  Bytes stringPastEnd = Tree();
  Directory(stringPastEnd, 0, 0, 0x80000000u | 24);
  Put(stringPastEnd, 16, LittleEndian(0xFFFFFFF0u));  // a name string far outside the tree
  Bytes cutShort = good;
  cutShort.resize(0x200 + 60);
  Bytes cutAfterData = good;
  cutAfterData.resize(0x200 + 100);
  const ErrorCode damaged = ErrorCode::kDamagedModule;
  return {
      {"well formed", good, "data", ErrorCode::kOk},
      {"empty file", {}, "", ErrorCode::kNotAModule},
      {"truncated DOS header", Bytes(good.begin(), good.begin() + 40), "", damaged},
      {"truncated PE header", Bytes(good.begin(), good.begin() + 0x60), "", damaged},
      {"no MZ", With(good, 0, {'X'}), "", ErrorCode::kNotAModule},
      {"no PE signature", With(good, 0x40, {'N', 'E'}), "", ErrorCode::kNotAModule},
      {"e_lfanew past the end", With(good, 0x3C, LittleEndian(0x7F0000FF)), "", damaged},
      {"unknown optional magic", With(good, 0x58, {0x07}), "", damaged},
      {"sections past the end", With(good, 0x46, {0xFF}), "", damaged},
      {"resource RVA outside every section", Module(Tree(), 0x9000), "<none>", damaged},
      {"data RVA outside every section", Module(Tree(0x7000)), "<none>", damaged},
      {"data size past the file", Module(Tree(kData, 0x7FFFFFFF)), "<none>", damaged},
      {"data size wrapping around", Module(Tree(kData, 0xFFFFFFF0u)), "<none>", damaged},
      {"directory pointing to itself", Module(selfLoop), "<none>", damaged},
      {"leaf where a directory belongs", Module(dataAtLanguage), "<none>", damaged},
      {"entry count past the tree", Module(hugeCount), "<none>", damaged},
      {"name string past the tree", Module(stringPastEnd), "<none>", damaged},
      {"tree cut short", cutShort, "<none>", damaged},
      // Reported as truncated where the file ends; what is there can still be read.
      {"file ending inside the section", cutAfterData, "data", damaged, "truncated at byte 612"},
  };
}

// The contents of the resource `name` in `module`, or "<none>".
std::string Contents(HINSTANCE module, const char* name = "#1\n#10") {
  ResourceFile file;
  file.SetModule(module);
  return file.OpenFile(name, "rb") ? ReadRest(file) : "<none>";
}

TEST(HostileModuleTest, MalformedModulesAreRefusedOrFindNothing) {
  TempDir dir;
  const std::string path = dir.Path("m.dll");
  for (const HostileCase& c : HostileCases()) {
    WriteAll(path, c.image);
    RXM::Status status;
    HINSTANCE module = RXM::LoadResourceModule(path.c_str(), status);
    ASSERT_EQ(module != nullptr, !c.found.empty()) << c.label << ": " << status.GetText();
    if (module == nullptr) {
      EXPECT_EQ(status.GetCode(), c.code) << c.label << ": " << status.GetText();
      EXPECT_EQ(std::string(status.GetText()).rfind(path + ": ", 0), 0u) << c.label;
      EXPECT_EQ(RXM::LoadResourceModule(path.c_str()), nullptr) << c.label;
      continue;
    }
    EXPECT_TRUE(status.IsOk()) << c.label;
    EXPECT_EQ(Contents(module), c.found) << c.label;
    EXPECT_EQ(FindResourceA(module, "NAME", "#10"), nullptr) << c.label;
    int visited = 0;
    const int listed = RXM::ListResources(
        module, [](const RXM::ResourceInfo&, void* count) { ++*static_cast<int*>(count); },
        &visited, status);
    EXPECT_EQ(status.GetCode(), c.code) << c.label << ": " << status.GetText();
    EXPECT_NE(std::string(status.GetText()).find(c.why), std::string::npos) << c.label;
    EXPECT_EQ(listed, c.code == ErrorCode::kOk ? visited : -1) << c.label;
    EXPECT_TRUE(c.code == ErrorCode::kOk || visited == 0) << c.label << ": visited " << visited;
    EXPECT_TRUE(RXM::FreeResourceModule(module)) << c.label;
  }
}

// (A missing module and a folder are refused, each with its reason, through
// kymf resources: kymf.bats.)
TEST(HostileModuleTest, NoModuleIsNeitherFreedNorListed) {
  EXPECT_FALSE(RXM::FreeResourceModule(nullptr));
  RXM::Status status;
  EXPECT_EQ(RXM::ListResources(
                nullptr, [](const RXM::ResourceInfo&, void*) {}, nullptr, status),
            -1);
  EXPECT_EQ(status.GetCode(), ErrorCode::kNotOpen);
}

// 65535 types leading to one name directory of 65535 names, all leading to
// one language directory: a megabyte that, listed path by path, would be
// 4 billion resources. The shared directories are listed once (on Windows,
// where the system would walk every path, the listing is refused), and
// looking a resource up is unaffected.
TEST(HostileModuleTest, SharedDirectoriesAreNotListedOncePerPath) {
  constexpr std::uint32_t kWide = 0xFFFF;
  const std::uint32_t names = 16 + 8 * kWide, languages = names + 16 + 8 * kWide;
  const std::uint32_t data = languages + 24, bytes = data + 16;
  Bytes tree(bytes, 0);
  for (const auto& [directory, count, target] :
       {std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>{0, kWide, 0x80000000u | names},
        {names, kWide, 0x80000000u | languages},
        {languages, 1, data}}) {
    Put(tree, directory + 14, LittleEndian(count, 2));
    for (std::uint32_t i = 0; i < count; ++i) {
      Put(tree, directory + 16 + 8 * i, LittleEndian(directory == languages ? 0 : i + 1));
      Put(tree, directory + 20 + 8 * i, LittleEndian(target));
    }
  }
  Put(tree, data, LittleEndian(0x1000 + bytes));
  Put(tree, data + 4, LittleEndian(4));
  Put(tree, bytes, BytesOf("data"));

  TempDir dir;
  WriteAll(dir.Path("wide.dll"), Module(tree));
  HINSTANCE module = RXM::LoadResourceModule(dir.Path("wide.dll").c_str());
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(Contents(module, "#65535\n#7"), "data");
  int visited = 0;
  const int listed = RXM::ListResources(
      module, [](const RXM::ResourceInfo&, void* count) { ++*static_cast<int*>(count); }, &visited);
#if defined(_WIN32)
  EXPECT_EQ(listed, -1);
  EXPECT_EQ(visited, 0);
#else
  EXPECT_EQ(listed, 1);
  EXPECT_EQ(visited, 1);
#endif
  EXPECT_TRUE(RXM::FreeResourceModule(module));
}

}  // namespace
