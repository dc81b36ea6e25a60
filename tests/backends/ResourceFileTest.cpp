#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "backends/ResourceLookupCases.h"

namespace {

using namespace testing_support;

std::string ModulePath(const std::string& arch) {
  return std::string(RXMFILES_TEST_MODULES) + "/resources-" + arch + ".dll";
}

class ResourceFileTest : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    module = RXM::LoadResourceModule(ModulePath(GetParam()).c_str());
    ASSERT_NE(module, nullptr);
    file = new ResourceFile();
    file->SetModule(module);
  }
  void TearDown() override {
    file = nullptr;
    EXPECT_TRUE(RXM::FreeResourceModule(module));
  }
  // The whole resource that `name` opens, or "<none>".
  std::string Contents(const std::string& name) {
    if (!file->OpenFile(name.c_str(), "whatever"))
      return "<none>";
    std::string data(file->GetFileSize(), '\0');
    file->ReadData(data.data(), 1, static_cast<unsigned int>(data.size()));
    return data;
  }
  HINSTANCE module = nullptr;
  Pointer<ResourceFile> file;
};

TEST_P(ResourceFileTest, EveryResourceMatchesTheIndependentReader) {
  // Written by python3-pefile when the module was built.
  std::ifstream listing(ModulePath(GetParam()) + ".pefile.txt");
  ASSERT_TRUE(listing.is_open());
  std::set<std::string> expected;
  for (std::string line; std::getline(listing, line);)
    expected.insert(line);
  std::set<std::string> ours;
  const int count = RXM::ListResources(
      module,
      [](const RXM::ResourceInfo& info, void* context) {
        std::ostringstream hex;
        for (std::uint32_t i = 0; i < info.size; ++i) {
          char digits[3];
          std::snprintf(digits, sizeof digits, "%02x", info.bytes[i]);
          hex << digits;
        }
        static_cast<std::set<std::string>*>(context)->insert(
            std::string(info.type) + "\t" + info.name + "\t" + std::to_string(info.language) +
            "\t" + hex.str());
      },
      &ours);
  EXPECT_EQ(count, 16);
  EXPECT_EQ(ours, expected);
}

TEST_P(ResourceFileTest, LooksUpNamesTypesIdsAndLanguagesAsWindowsDoes) {
  for (const auto& [name, expected] : ResourceLookupCases()) {
    EXPECT_EQ(Contents(name), expected) << name;
  }
}

// The module handle serves the resource functions themselves (on Windows the
// system's, over a module that LoadLibraryExA mapped as a data file).
TEST_P(ResourceFileTest, TheModuleAnswersTheResourceFunctionsDirectly) {
  const char* rcdata = reinterpret_cast<const char*>(std::uintptr_t{10});
  for (const char* type : {"#10", rcdata}) {
    HRSRC found = FindResourceA(module, "MYDATA", type);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SizeofResource(module, found), 10u);
    HGLOBAL loaded = LoadResource(module, found);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(LockResource(loaded)), 10), "0123456789");
    FreeResource(loaded);
  }
  const char* id123 = reinterpret_cast<const char*>(std::uintptr_t{123});
  HRSRC byId = FindResourceA(module, id123, rcdata);
  ASSERT_NE(byId, nullptr);
  EXPECT_EQ(SizeofResource(module, byId), 5u);
  EXPECT_EQ(FindResourceA(module, "NOSUCH", rcdata), nullptr);
}

TEST_P(ResourceFileTest, ReadsWholeItemsAndClampsSeeks) {
  ASSERT_TRUE(file->OpenFile("MYDATA\n#10", "wb"));
  char data[12];
  EXPECT_EQ(file->ReadData(data, 4, 3), 2u);
  EXPECT_EQ(file->GetPosition(), 8);
  EXPECT_FALSE(file->EndOfFile());
  EXPECT_EQ(file->ReadData(data, 1, 5), 2u);
  EXPECT_TRUE(file->EndOfFile());
  EXPECT_EQ(file->ReadData(data, 0, 7), 7u);
  EXPECT_EQ(file->WriteData("x", 1, 1), 0u);

  const std::vector<std::tuple<long, int, long>> seeks = {{-5, 0, 0}, {50, 0, 10}, {3, 2, 10},
                                                          {-3, 2, 7}, {-50, 1, 0}, {4, 0, 4},
                                                          {4, 7, 4},  {2, 1, 6},   {-50, 2, 0}};
  for (const auto& [offset, origin, position] : seeks) {
    EXPECT_TRUE(file->Seek(offset, origin)) << offset << " from " << origin;
    EXPECT_EQ(file->GetPosition(), position) << offset << " from " << origin;
  }
  ASSERT_TRUE(file->Seek(-4, 2));
  EXPECT_EQ(file->ReadData(data, 4, 1), 1u);
  EXPECT_EQ(std::string(data, 4), "6789");
}

TEST_P(ResourceFileTest, ClosedFileKeepsTheLastSizeAndPosition) {
  ASSERT_TRUE(file->OpenFile("EMPTY\n#10", "rb"));
  EXPECT_TRUE(file->EndOfFile());
  ASSERT_TRUE(file->OpenFile("MYDATA\n#10", "rb"));
  file->Seek(3, 0);
  EXPECT_TRUE(file->CloseFile());
  EXPECT_FALSE(file->CloseFile());
  EXPECT_EQ(file->GetFileSize(), 10u);
  EXPECT_EQ(file->GetPosition(), 3);
  char data[1];
  EXPECT_EQ(file->ReadData(data, 1, 1), 0u);
  EXPECT_FALSE(file->Seek(0, 0));
  EXPECT_FALSE(file->EndOfFile());
}

TEST_P(ResourceFileTest, ANameLongerThanTheBufferIsRefused) {
  ASSERT_TRUE(file->OpenFile("MYDATA\n#10", "rb"));
  EXPECT_FALSE(file->OpenFile((std::string(300, 'N') + "\n#10").c_str(), "rb"));
  EXPECT_FALSE(file->IsFileOpened());
  EXPECT_FALSE(file->OpenFile(std::string(259, 'N').c_str(), "rb"));
}

TEST_P(ResourceFileTest, CopiesReadTheSameBytesFromTheirOwnPositions) {
  ASSERT_TRUE(file->OpenFile("MYDATA\n#10", "rb"));
  char data[4];
  file->ReadData(data, 1, 4);
  ResourceFile copy(*file);
  EXPECT_TRUE(copy.IsFileOpened());
  EXPECT_EQ(copy.GetPosition(), 4);
  copy.ReadData(data, 1, 2);
  EXPECT_EQ(std::string(data, 2), "45");
  EXPECT_EQ(file->GetPosition(), 4);
}

TEST_P(ResourceFileTest, AnArchiveStoredAsAResourceOpensThroughIt) {
  MultiFile archive;
  ASSERT_TRUE(archive.OpenMultiFile(Pointer<KYFile>(file.Get()), "ARCHIVE\n#10"));
  EXPECT_EQ(archive.GetDirectory().GetCount(), 2);
  for (const auto& [name, data] :
       {std::pair<const char*, std::string>{"a.txt", "abc"}, {"B", "12345"}}) {
    ASSERT_TRUE(archive.OpenFile(name, "rb")) << name;
    std::string read(archive.GetFileSize(), '\0');
    EXPECT_EQ(archive.ReadData(read.data(), static_cast<unsigned int>(read.size()), 1), 1u);
    EXPECT_EQ(read, data);
  }
}

INSTANTIATE_TEST_SUITE_P(Modules, ResourceFileTest, testing::Values("i686", "x86_64"));

// --- Hostile modules ----------------------------------------------------------

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

// Type #10 -> name #1 -> language 0 -> a data entry of `size` bytes at `rva`.
Bytes Tree(std::uint32_t rva, std::uint32_t size) {
  Bytes tree;
  Directory(tree, 0, 10, 0x80000000u | 24);
  Directory(tree, 24, 1, 0x80000000u | 48);
  Directory(tree, 48, 0, 72);
  Put(tree, 72, LittleEndian(rva));
  Put(tree, 76, LittleEndian(size));
  Put(tree, 96, BytesOf("data"));
  return tree;
}

// Each module is refused, or loads and finds nothing, never crashing: through
// the library's own reader, and on Windows through the system's loader, which
// refuses the same modules.
TEST(HostileModuleTest, MalformedModulesAreRefusedOrFindNothing) {
  TempDir dir;
  const Bytes good = Module(Tree(0x1000 + 96, 4));
  struct Case {
    std::string label;
    Bytes image;
    bool loads;
    std::string found;  // the contents of "#1\n#10", or "<none>"
  };
  Bytes selfLoop = Tree(0x1000 + 96, 4);
  Directory(selfLoop, 24, 1, 0x80000000u | 0);  // the name level points back at the root
  Bytes dataAtLanguage = Tree(0x1000 + 96, 4);
  Directory(dataAtLanguage, 0, 10, 72);  // a leaf where a directory belongs
  Bytes hugeCount = Tree(0x1000 + 96, 4);
  hugeCount[12] = 0xFF;
  hugeCount[13] = 0xFF;
  Bytes stringPastEnd = Tree(0x1000 + 96, 4);
  Directory(stringPastEnd, 0, 0, 0x80000000u | 24);
  stringPastEnd[16] = 0xF0, stringPastEnd[19] = 0x80;  // a name string far outside the tree
  const std::vector<Case> cases = {
      {"well formed", good, true, "data"},
      {"empty file", {}, false, ""},
      {"truncated DOS header", Bytes(good.begin(), good.begin() + 40), false, ""},
      {"truncated PE header", Bytes(good.begin(), good.begin() + 0x60), false, ""},
      {"no MZ", With(good, 0, {'X'}), false, ""},
      {"e_lfanew past the end", With(good, 0x3C, LittleEndian(0x7F0000FF)), false, ""},
      {"unknown optional magic", With(good, 0x58, {0x07}), false, ""},
      {"sections past the end", With(good, 0x46, {0xFF}), false, ""},
      {"resource RVA outside every section", Module(Tree(0x1000 + 96, 4), 0x9000), true, "<none>"},
      {"data RVA outside every section", Module(Tree(0x7000, 4)), true, "<none>"},
      {"data size past the file", Module(Tree(0x1000 + 96, 0x7FFFFFFF)), true, "<none>"},
      {"data size wrapping around", Module(Tree(0x1000 + 96, 0xFFFFFFF0u)), true, "<none>"},
      {"directory pointing to itself", Module(selfLoop), true, "<none>"},
      {"leaf where a directory belongs", Module(dataAtLanguage), true, "<none>"},
      {"entry count past the tree", Module(hugeCount), true, "<none>"},
      {"name string past the tree", Module(stringPastEnd), true, "<none>"},
      {"tree cut short",
       [&] {
         Bytes b = Module(Tree(0x1000 + 96, 4));
         b.resize(0x200 + 60);
         return b;
       }(),
       true, "<none>"},
  };
  for (const Case& c : cases) {
    WriteAll(dir.Path("m.dll"), c.image);
    HINSTANCE module = RXM::LoadResourceModule(dir.Path("m.dll").c_str());
    ASSERT_EQ(module != nullptr, c.loads) << c.label;
    if (module == nullptr)
      continue;
    ResourceFile file;
    file.SetModule(module);
    std::string contents = "<none>";
    if (file.OpenFile("#1\n#10", "rb")) {
      contents.assign(file.GetFileSize(), '\0');
      file.ReadData(contents.data(), 1, file.GetFileSize());
    }
    EXPECT_EQ(contents, c.found) << c.label;
    EXPECT_EQ(FindResourceA(module, "NAME", "#10"), nullptr) << c.label;
    RXM::ListResources(
        module, [](const RXM::ResourceInfo&, void*) {}, nullptr);
    EXPECT_TRUE(RXM::FreeResourceModule(module)) << c.label;
  }
  EXPECT_EQ(RXM::LoadResourceModule(dir.Path("missing.dll").c_str()), nullptr);
  EXPECT_FALSE(RXM::FreeResourceModule(nullptr));
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
  {
    ResourceFile file;
    file.SetModule(module);
    ASSERT_TRUE(file.OpenFile("#65535\n#7", "rb"));
    EXPECT_EQ(file.GetFileSize(), 4u);
  }
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
