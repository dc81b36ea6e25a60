#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#if defined(_WIN32)
#include <windows.h>  // the Win32 resource calls
#endif

#include "RXMFiles.h"
#include "TestSupport.h"
#include "backends/FaultySystem.h"
#include "backends/ResourceLookupCases.h"
#include "backends/ResourceModuleFile.h"

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
    const bool opened = file->OpenFile(name.c_str(), "whatever");
    EXPECT_EQ(file->IsFileOpened(), opened) << name;  // a failed open leaves none open
    return opened ? ReadRest(*file) : "<none>";
  }
  HINSTANCE module = nullptr;
  Pointer<ResourceFile> file;
};

// Every resource of `language` (or all) that ListResources gives, in the
// independent reader's form: type, name, language and the bytes in hex. The
// bytes are read once the listing has ended, as kymf reads them, and after
// memory of every size the listing may have used and given back has been
// taken and overwritten: they must stay valid until the module is freed.
std::vector<std::string> Listed(HINSTANCE module, int language = RXM::kAnyLanguage) {
  std::vector<std::pair<std::string, RXM::ResourceInfo>> found;
  RXM::Status status;
  const int count = RXM::ListResources(
      module,
      [](const RXM::ResourceInfo& info, void* context) {
        static_cast<std::vector<std::pair<std::string, RXM::ResourceInfo>>*>(context)->emplace_back(
            std::string(info.type) + "\t" + info.name + "\t" + std::to_string(info.language) + "\t",
            info);
      },
      &found, status, language);
  EXPECT_TRUE(status.IsOk()) << status.GetText();
  EXPECT_EQ(count, static_cast<int>(found.size()));
  std::vector<std::vector<char>> scribbles;
  for (std::size_t size = 64; size <= (std::size_t{4} << 20); size *= 2) {
    scribbles.emplace_back(size, '\xEE');
  }
  std::vector<std::string> lines;
  for (const auto& [line, info] : found) {
    std::string text = line;
    for (std::uint32_t i = 0; i < info.size; ++i) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02x", info.bytes[i]);
      text += digits;
    }
    lines.push_back(text);
  }
  return lines;
}

TEST_P(ResourceFileTest, EveryResourceMatchesTheIndependentReader) {
  // Written by python3-pefile when the module was built.
  std::ifstream listing(ModulePath(GetParam()) + ".pefile.txt");
  ASSERT_TRUE(listing.is_open());
  std::vector<std::string> expected;
  for (std::string line; std::getline(listing, line);) {
    expected.push_back(line);
  }
  std::vector<std::string> ours = Listed(module);
  std::sort(expected.begin(), expected.end());
  std::sort(ours.begin(), ours.end());
  EXPECT_EQ(ours, expected);
}

// What a listing shows, FindResourceA finds. The module handle serves the
// resource functions themselves (on Windows the system's, over a module that
// LoadLibraryExA mapped as a data file), which also take IDs as
// MAKEINTRESOURCE gives them.
TEST_P(ResourceFileTest, ListsOneLanguageAndEveryListedResourceIsFoundByTheResourceFunctions) {
  EXPECT_EQ(Listed(module, 0x0407),
            (std::vector<std::string>{"#10\tLANGS1\t1031\t6465", "#10\tLANGS2\t1031\t6465",
                                      "#10\tLANGS3\t1031\t6465", "#10\tLANGS4\t1031\t6465"}));
  EXPECT_EQ(Listed(module, 0x0C01), std::vector<std::string>{});
  for (const std::string& listed : Listed(module)) {
    std::istringstream fields(listed);
    std::string type, name;
    std::getline(fields, type, '\t');
    std::getline(fields, name, '\t');
    EXPECT_NE(FindResourceA(module, name.c_str(), type.c_str()), nullptr) << listed;
  }
  const char* rcdata = reinterpret_cast<const char*>(std::uintptr_t{10});
  const char* id123 = reinterpret_cast<const char*>(std::uintptr_t{123});
  EXPECT_EQ(SizeofResource(module, FindResourceA(module, "MYDATA", rcdata)), 10u);
  EXPECT_EQ(SizeofResource(module, FindResourceA(module, id123, rcdata)), 5u);
  EXPECT_EQ(FindResourceA(module, "NOSUCH", rcdata), nullptr);
}

TEST_P(ResourceFileTest, LooksUpNamesTypesIdsAndLanguagesAsWindowsDoes) {
  for (const auto& [name, expected] : ResourceLookupCases()) {
    EXPECT_EQ(Contents(name), expected) << name;
  }
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

TEST_P(ResourceFileTest, CopiesReadFromTheirOwnPositionsAndAClosedFileKeepsItsSizeAndPosition) {
  ASSERT_TRUE(file->OpenFile("EMPTY\n#10", "rb"));
  EXPECT_TRUE(file->EndOfFile());
  ASSERT_TRUE(file->OpenFile("MYDATA\n#10", "rb"));
  char data[4];
  file->ReadData(data, 1, 3);
  ResourceFile copy(*file);
  EXPECT_TRUE(copy.IsFileOpened());
  EXPECT_EQ(copy.GetPosition(), 3);
  copy.ReadData(data, 1, 2);
  EXPECT_EQ(std::string(data, 2), "34");
  EXPECT_TRUE(file->CloseFile());
  EXPECT_FALSE(file->CloseFile());
  EXPECT_EQ(file->GetFileSize(), 10u);
  EXPECT_EQ(file->GetPosition(), 3);
  EXPECT_EQ(file->ReadData(data, 1, 1), 0u);
  EXPECT_FALSE(file->Seek(0, 0));
  EXPECT_FALSE(file->EndOfFile());
}

TEST_P(ResourceFileTest, AnArchiveStoredAsAResourceOpensThroughIt) {
  MultiFile archive;
  ASSERT_TRUE(archive.OpenMultiFile(Pointer<KYFile>(file.Get()), "ARCHIVE\n#10"));
  EXPECT_EQ(archive.GetDirectory().GetCount(), 2);
  for (const auto& [name, data] :
       {std::pair<const char*, std::string>{"a.txt", "abc"}, {"B", "12345"}}) {
    ASSERT_TRUE(archive.OpenFile(name, "rb")) << name;
    EXPECT_EQ(ReadRest(archive), data);
  }
}

INSTANTIATE_TEST_SUITE_P(Modules, ResourceFileTest, testing::Values("i686", "x86_64"));

// A module file is read whole or not at all: a read that fails before the
// file's end is said, never taken for that end (a System's read may fail
// without setting the stream's error indicator).
TEST(ModuleFileTest, AFailedCallWhileReadingIsSaidNeverAShortModule) {
  const std::string path = ModulePath("x86_64");
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> whole((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  ASSERT_FALSE(whole.empty());
  for (int call = 1;; ++call) {
    FaultySystem system;
    system.FailCall(call);
    std::vector<std::uint8_t> bytes;
    const RXM::Status read = RXM::ReadModuleFile(system, path.c_str(), bytes);
    if (system.failedCall() == nullptr) {
      EXPECT_TRUE(read.IsOk()) << read.GetText();
      EXPECT_EQ(bytes, whole);
      break;
    }
    // Ok only with every byte (a call that fails once all are in changes
    // nothing); otherwise a failure, with nothing kept.
    EXPECT_EQ(bytes, read.IsOk() ? whole : std::vector<std::uint8_t>())
        << "call " << call << " (" << system.failedCall() << ") failed: " << read.GetText();
  }
}

}  // namespace
