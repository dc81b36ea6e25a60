// The tree that kymf mount shows, built without FUSE: which names it shows,
// how they are numbered and found, and what each source gives it. The
// mounted file system itself is tested end to end by kymf_mount.bats.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mount/ListingPolicy.h"
#include "mount/MountLayer.h"
#include "mount/MountTree.h"
#include "multifile/ArchiveFormat.h"

namespace fs = std::filesystem;
using kymf::mount::MountNode;
using kymf::mount::MountTree;
using kymf::mount::MountTreeBuilder;

namespace {

void Add(MountTreeBuilder& builder, const std::string& name, std::uint16_t layer = 0) {
  builder.AddFile(name, name.size(), layer, 0, 0);
}

TEST(MountTreeTest, TheFirstOfNamesEqualButForCaseWinsAndAnyCaseFindsIt) {
  MountTreeBuilder builder;
  Add(builder, "Levels/One.map");
  Add(builder, "levels/ONE.MAP", 1);
  Add(builder, "LEVELS/two.map", 1);
  const MountTree tree = builder.Build();

  ASSERT_EQ(tree.Get(0).count, 1u);
  EXPECT_STREQ(tree.Get(tree.Get(0).first).name, "Levels");  // the first name's spelling
  const std::uint32_t one = tree.FindPath("lEVELS/one.MAP");
  ASSERT_NE(one, MountTree::kNone);
  EXPECT_STREQ(tree.Get(one).name, "One.map");
  EXPECT_EQ(tree.Get(one).layer, 0);
  EXPECT_EQ(tree.FindPath("levels/two.map"), tree.FindPath("Levels/TWO.map"));
  EXPECT_EQ(tree.FindPath("levels/three.map"), MountTree::kNone);
  EXPECT_EQ(tree.GetFileCount(), 2u);
  EXPECT_EQ(tree.GetConflicts(), 0u);  // a name shadowed is no conflict
}

// Names given in order; "+" before a name gives it as a folder (AddFolder).
struct ConflictCase {
  std::vector<std::string> names;
  bool aIsFolder;                  // what "a" is in the tree
  std::vector<std::string> shown;  // every file and folder, by path
  std::uint64_t conflicts;
};

void PrintTo(const ConflictCase& given, std::ostream* out) {
  for (const std::string& name : given.names) {
    *out << name << " ";
  }
}

class MountTreeConflictTest : public testing::TestWithParam<ConflictCase> {};

// Whichever of a file and a folder was given first stays; the other is
// left out with everything given in it, whenever it came.
TEST_P(MountTreeConflictTest, TheFirstOfAFileAndAFolderStaysWithTheRestCountedOut) {
  MountTreeBuilder builder;
  for (const std::string& name : GetParam().names) {
    if (name[0] == '+') {
      builder.AddFolder(name.substr(1), 0, 0);
    } else {
      Add(builder, name);
    }
  }
  const MountTree tree = builder.Build();
  EXPECT_EQ(tree.Get(tree.FindPath("a")).folder, GetParam().aIsFolder);
  std::vector<std::string> shown;
  for (std::uint32_t i = 1; i < tree.GetCount(); ++i) {
    shown.push_back(tree.PathOf(i));
  }
  EXPECT_EQ(shown, GetParam().shown);
  EXPECT_EQ(tree.GetConflicts(), GetParam().conflicts);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, MountTreeConflictTest,
    testing::Values(ConflictCase{{"a", "a/b"}, false, {"a"}, 1},
                    ConflictCase{{"a/b", "A"}, true, {"a", "a/b"}, 1},
                    ConflictCase{{"a/b/c", "a/B"}, true, {"a", "a/b", "a/b/c"}, 1},
                    // Everything given in the folder that lost counts, even
                    // names that are the same but for case, or folders.
                    ConflictCase{{"a", "a/x", "A/X", "+a/y", "+a", "c"}, false, {"a", "c"}, 4},
                    // A file twice beside a folder: each is left out.
                    ConflictCase{{"a/x", "a", "A", "a/y"}, true, {"a", "a/x", "a/y"}, 2},
                    // Files first, of one name but for case: one is shown, the
                    // folder after them loses all it holds.
                    ConflictCase{{"A", "a", "a/b/c", "a/b/d"}, false, {"A"}, 2},
                    // A folder named again stays one folder.
                    ConflictCase{{"+a", "+A", "a/x"}, true, {"a", "a/x"}, 0},
                    // Inside a folder that stays, the same rule again.
                    ConflictCase{
                        {"a/b", "a/b/c", "a/d/e", "a/D"}, true, {"a", "a/b", "a/d", "a/d/e"}, 2}));

// Children come in any order (an archive's records arrive last first, so
// often in reverse): whatever it was, a folder's children end in folded order.
TEST(MountTreeTest, ChildrenEndInFoldedOrderWhateverOrderTheyCameIn) {
  const std::vector<std::vector<std::string>> orders = {{"A", "b", "C", "d", "E"},
                                                        {"E", "d", "C", "b", "A"},
                                                        {"d", "A", "E", "b", "C"},
                                                        {"A", "b", "E", "d", "C"},
                                                        {"E", "d", "A", "b", "C"}};
  for (const std::vector<std::string>& names : orders) {
    MountTreeBuilder builder;
    for (const std::string& name : names) {
      Add(builder, "f/" + name);
    }
    const MountTree tree = builder.Build();
    std::vector<std::string> shown;
    for (std::uint32_t i = 2; i < tree.GetCount(); ++i) {
      shown.push_back(tree.Get(i).name);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"A", "b", "C", "d", "E"})) << names[0] << names[1];
    EXPECT_EQ(tree.FindPath("f/c"), 4u);
  }
}

TEST(MountTreeTest, NumbersBreadthFirstWithEachFoldersChildrenTogetherInFoldedOrder) {
  MountTreeBuilder builder;
  for (const char* name : {"b/x", "c", "A", "b/Y/z"}) {
    Add(builder, name);
  }
  builder.AddFolder("b/empty", 0, 0);
  const MountTree tree = builder.Build();

  const std::vector<std::string> order = {"", "A", "b", "c", "empty", "x", "Y", "z"};
  ASSERT_EQ(tree.GetCount(), order.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(tree.Get(i).name, order[i]) << i;
  }
  const MountNode& b = tree.Get(2);
  EXPECT_EQ(b.first, 4u);
  EXPECT_EQ(b.count, 3u);
  EXPECT_EQ(b.folders, 2u);  // empty and Y: what st_nlink counts
  EXPECT_EQ(tree.Get(7).parent, 6u);
  EXPECT_EQ(tree.PathOf(7), "b/Y/z");
  EXPECT_EQ(tree.Get(0).parent, 0u);
  EXPECT_EQ(tree.Find(1, "anything"), MountTree::kNone);  // A is a file
}

// Archives and folders made in a folder of the test's own.
class MountLayerTest : public testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("kymf-mount-" +
            std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root);
    fs::create_directories(root);
  }
  void TearDown() override { fs::remove_all(root); }

  // An archive of `entries` as they are given, hostile names too, written
  // through the library's own record encoding.
  std::string Archive(const std::string& file,
                      const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string bytes = "KYMF", data;
    std::uint8_t field[80];
    RXM::multifile::EncodeInt32(static_cast<std::int32_t>(entries.size()), field);
    bytes.append(reinterpret_cast<const char*>(field), 4);
    std::int64_t at = RXM::multifile::DirectoryEnd(static_cast<std::int64_t>(entries.size()));
    for (const auto& [name, content] : entries) {
      DirectoryRecord record = RXM::multifile::NewRecord(name.c_str());
      record.dataStart = static_cast<std::int32_t>(at);
      record.dataEnd =
          static_cast<std::int32_t>(at + static_cast<std::int64_t>(content.size()) - 1);
      RXM::multifile::EncodeRecord(record, field);
      bytes.append(reinterpret_cast<const char*>(field), sizeof field);
      data += content;
      at += static_cast<std::int64_t>(content.size());
    }
    return Write(file, bytes + data);
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path path = root / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  static std::string ReadAll(const kymf::mount::MountedFiles& files, const std::string& name) {
    const MountNode& node = files.tree.Get(files.tree.FindPath(name));
    RXM::Status why;
    Pointer<KYFile> stream = files.layers[node.layer]->Open(node.source, why);
    EXPECT_TRUE(why.IsOk()) << why.GetText();
    std::string bytes(node.size, '\0');
    EXPECT_EQ(stream->ReadData(bytes.data(), 1, static_cast<unsigned int>(node.size)), node.size);
    return bytes;
  }

  fs::path root;
};

// An entry whose record names bytes that are not its own (the header's)
// is shown, but opening it is refused with the archive's reason, which
// names the archive and the entry, through an archive source and through a
// search path's; its sound neighbour reads.
TEST_F(MountLayerTest, AnEntryWhoseBytesAreNotItsOwnIsRefusedWithTheArchivesReason) {
  const std::string path = Archive("h.kymf", {{"head", "abcd"}, {"fine", "ok"}});
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::uint8_t start[4];
    RXM::multifile::EncodeInt32(0, start);  // the first record's data start at the magic
    file.seekp(8 + 72);
    file.write(reinterpret_cast<const char*>(start), 4);
  }
  for (const bool searchPath : {false, true}) {
    RXM::Status status;
    std::vector<std::unique_ptr<kymf::mount::MountLayer>> layers;
    layers.push_back(searchPath ? kymf::mount::OpenPathSource(path, status)
                                : kymf::mount::OpenArchiveSource(path, status));
    ASSERT_TRUE(layers.back()) << status.GetText();
    const kymf::mount::MountedFiles files = kymf::mount::Assemble(std::move(layers));
    const MountNode& node = files.tree.Get(files.tree.FindPath("head"));
    RXM::Status why;
    EXPECT_TRUE(files.layers[node.layer]->Open(node.source, why).IsNull());
    EXPECT_EQ(why.GetCode(), RXM::ErrorCode::kDamagedEntry);
    EXPECT_EQ(std::string(why.GetText()).rfind(path + ": head: data inside the header", 0), 0u)
        << why.GetText();
    EXPECT_EQ(ReadAll(files, "fine"), "ok");
  }
}

TEST_F(MountLayerTest, AnArchiveShowsWhatItsLookupFindsAndCountsNamesThatAreNoSafePaths) {
  const std::string path = Archive("t.kymf", {{"dup.txt", "old"},
                                              {"../evil", "x"},
                                              {"/abs", "x"},
                                              {"a\\b", "x"},
                                              {"ctl\x01", "x"},
                                              {"DUP.TXT", "new"},
                                              {"sub/ok", "ok"}});
  RXM::Status status;
  std::vector<std::unique_ptr<kymf::mount::MountLayer>> layers;
  layers.push_back(kymf::mount::OpenArchiveSource(path, status));
  ASSERT_TRUE(layers.back()) << status.GetText();
  const kymf::mount::MountedFiles files = kymf::mount::Assemble(std::move(layers));

  EXPECT_EQ(files.report.unsafe, 4u);
  EXPECT_EQ(files.tree.GetCount(), 4u);  // the root, DUP.TXT, sub, sub/ok
  EXPECT_STREQ(files.tree.Get(files.tree.FindPath("dup.txt")).name, "DUP.TXT");
  EXPECT_EQ(ReadAll(files, "dup.txt"), "new");
  EXPECT_EQ(ReadAll(files, "sub/ok"), "ok");
}

TEST_F(MountLayerTest, ASearchPathTakesEachNameFromTheFirstSourceThatHasIt) {
  const std::string archive =
      Archive("base.kymf", {{"levels/one.map", "archive 1"}, {"levels/two.map", "archive 2"}});
  Write("loose/Levels/one.map", "loose 1");
  fs::create_directories(root / "loose/empty");
#if !defined(_WIN32)
  fs::create_symlink("/etc/passwd", root / "loose/Levels/link");
#endif
  RXM::Status status;
  std::vector<std::unique_ptr<kymf::mount::MountLayer>> layers;
  for (const fs::path& source : {root / "loose", fs::path(archive)}) {
    layers.push_back(kymf::mount::OpenPathSource(source.string(), status));
    ASSERT_TRUE(layers.back()) << status.GetText();
  }
  const kymf::mount::MountedFiles files = kymf::mount::Assemble(std::move(layers));

  EXPECT_EQ(ReadAll(files, "levels/one.map"), "loose 1");
  EXPECT_EQ(ReadAll(files, "levels/two.map"), "archive 2");
  EXPECT_TRUE(files.tree.Get(files.tree.FindPath("empty")).folder);
  EXPECT_EQ(files.tree.FindPath("levels/link"), MountTree::kNone);
  EXPECT_EQ(kymf::mount::OpenPathSource((root / "nothing").string(), status), nullptr);
  EXPECT_EQ(status.GetCode(), RXM::ErrorCode::kNoSuchFile);
}

}  // namespace

namespace {

using kymf::mount::ListingPolicy;

// Folders 1, 2, ...: each listing's choice after the lookups that followed the one before.
TEST(ListingPolicyTest, AttributesFollowWhetherTheFilesOfAProbeWereLookedUp) {
  ListingPolicy policy;
  EXPECT_FALSE(policy.StartListing(1));  // the first listing probes
  EXPECT_FALSE(policy.StartListing(2));  // nothing looked up: a walk of names
  policy.FileLookedUp(1);                // too late: folder 2 is the probe
  EXPECT_FALSE(policy.StartListing(3));
  policy.FileLookedUp(3);
  for (std::uint32_t folder = 4; folder < 4 + ListingPolicy::kProbeEvery - 1; ++folder) {
    EXPECT_TRUE(policy.StartListing(folder)) << folder;
  }
  EXPECT_FALSE(policy.StartListing(100));  // a probe again, every kProbeEvery listings
  EXPECT_FALSE(policy.StartListing(101));  // ... whose files were not looked up
}

// A folder the kernel opened keeps no answer between the parts of its
// listing: each part after the first asks again, and a listing that probes
// stays without attributes to its end.
TEST(ListingPolicyTest, AListingGoesOnAsItBeganUnlessAnotherBeganSince) {
  ListingPolicy policy;
  EXPECT_FALSE(policy.StartListing(1));
  EXPECT_FALSE(policy.ContinueListing(1));
  policy.FileLookedUp(1);
  EXPECT_FALSE(policy.ContinueListing(1));  // still the probe
  EXPECT_TRUE(policy.StartListing(2));
  EXPECT_TRUE(policy.ContinueListing(2));
  EXPECT_TRUE(policy.ContinueListing(1));  // a listing of 1 going on since: as things are now
}

}  // namespace
