// An archive from arbitrary bytes, written, in a file system in memory
// (MemorySystem): a file inserted into it (InsertFile), or a MultiFileWriter
// that keeps it committed with an entry added, kept entries renamed or
// replaced. What was kept must keep its name and bytes, what was added must
// read back, a failure must leave the archive as it was, and nothing may be
// left open or behind. ArchiveFuzzer.cpp reads archives.
#include <cstring>
#include <string>
#include <vector>

#include "ArchiveFuzzing.h"
#include "backends/MemorySystem.h"

namespace {

using namespace archive_fuzzing;
using RXM::multifile::FindingKind;
using testing_support::MemorySystem;

constexpr const char* kInput = "/fuzz/input";
constexpr const char* kInserted = "inserted by the fuzzer";
constexpr const char* kAdded = "added by the fuzzer";
const Bytes kFuzz = {'f', 'u', 'z', 'z'};

// The input's last byte chooses what to do (its lowest bit) and how (the
// writer's options, the bits above).
enum Option : std::uint8_t {
  kCommit = 1,            // a writer commits; otherwise InsertFile
  kAllowEmpty = 8,        // the writer writes empty entries
  kReplaceExisting = 16,  // the writer's added entry replaces a kept one
  kRename = 32,           // the writer renames the first kept entry
};

// The first records of the directory, as they are now.
std::vector<DirectoryRecord> RecordsOf(const MultiFile& archive) {
  std::vector<DirectoryRecord> records;
  for (int i = 0; i < Checked(archive); ++i) {
    records.push_back(*archive.GetDirectory().Peek(i));
  }
  return records;
}

// The first records of the directory in `archive`'s bytes, decoded where
// they lie; none when the bytes hold no whole directory (no writer keeps
// anything of those). Cheaper than opening the archive, which the writer
// under test does anyway.
std::vector<DirectoryRecord> RecordsIn(View archive) {
  namespace format = RXM::multifile;
  std::vector<DirectoryRecord> records;
  if (archive.size < static_cast<std::size_t>(format::kHeaderSize) ||
      std::memcmp(archive.data, format::kMagic, sizeof format::kMagic) != 0) {
    return records;
  }
  const std::int32_t count = format::DecodeInt32(archive.data + sizeof format::kMagic);
  if (count < 0 || format::DirectoryEnd(count) > archive.FileSize()) {
    return records;
  }
  for (int i = 0; i < std::min(count, kMostEntries); ++i) {
    DirectoryRecord record{};
    if (!format::DecodeRecord(archive.data + format::DirectoryEnd(i), record)) {
      return {};
    }
    records.push_back(record);
  }
  return records;
}

// The archive `after`, reopened as `reopened`, begins with the records
// `kept` of the archive `before`, each with its name and bytes.
void RequireKept(const MultiFile& reopened, View after, const std::vector<DirectoryRecord>& kept,
                 View before) {
  const std::vector<DirectoryRecord> now = RecordsOf(reopened);
  Require(now.size() >= kept.size(), "every kept record is there");
  for (std::size_t i = 0; i < kept.size(); ++i) {
    Require(std::strncmp(now[i].name, kept[i].name, sizeof now[i].name) == 0,
            "a kept entry keeps its name");
    Require(RXM::multifile::FileBacksEntry(now[i], after.FileSize()),
            "the new archive backs every entry");
    Require(DataOf(after, now[i]) == DataOf(before, kept[i]), "a kept entry keeps its bytes");
  }
}

// InsertFile on the archive opened from the memory's disk.
void Insert(View input, MemorySystem& memory) {
  MultiFile archive(memory);
  archive.OpenMultiFile(Pointer<KYFile>(), kArchive);
  const std::vector<DirectoryRecord> kept = RecordsOf(archive);
  const int count = archive.GetDirectory().GetCount();
  const bool wasOpen = archive.IsMultiFileOpen();
  Require(memory.put(kInput, kFuzz.data(), kFuzz.size()), "the input can be made");
  bool inserted = false;
  try {
    inserted = archive.InsertFile(Pointer<KYFile>(), kInput, kInserted);
  } catch (Exception* e) {
    delete e;
  }
  Bytes after;
  Require(memory.get(kArchive, &after), "the archive is still there");
  if (!inserted) {
    Require(ViewOf(after) == input, "a failed insertion leaves the archive as it was");
    return;
  }
  Require(wasOpen && archive.GetDirectory().GetCount() == count + 1,
          "an insertion adds one record");
  Pointer<KYFile> stream = archive.OpenEntry(kInserted);
  Require(!stream.IsNull() && Reads(*stream, ViewOf(kFuzz)), "the inserted entry reads back");
  RequireKept(archive, ViewOf(after), kept, input);
}

// The archive `after` that a writer committed opens, keeps the layout
// invariant and holds the added entry.
void RequireCommitted(View after, MultiFile& written) {
  Require(written.OpenMultiFile(Pointer<KYFile>(new fuzzing::BytesFile(after.data, after.size)),
                                kArchive),
          "a committed archive opens");
  for (const RXM::multifile::Finding& finding : written.CheckArchive()) {
    Require(finding.kind == FindingKind::kUnsafeName || finding.kind == FindingKind::kPathClash ||
                finding.kind == FindingKind::kShadowedName,
            "a committed archive keeps the layout invariant");
  }
  Pointer<KYFile> stream = written.OpenEntry(kAdded);
  Require(!stream.IsNull() && Reads(*stream, ViewOf(kFuzz)), "the added entry reads back");
}

// MultiFileWriter keeping the archive, with choices taken from the input.
void Commit(View input, std::uint8_t choices, MemorySystem& memory) {
  const std::vector<DirectoryRecord> kept = RecordsIn(input);
  const bool renames = (choices & kRename) != 0 && !kept.empty();
  bool committed = false;
  {
    // Small chunks: the copy of an entry takes many of them.
    MultiFileWriter writer(memory, kArchive, true, 7);
    writer.SetAllowEmpty((choices & kAllowEmpty) != 0);
    writer.SetReplaceExisting((choices & kReplaceExisting) != 0);
    writer.AddBytes(kAdded, kFuzz.data(), 4);
    if (renames) {
      writer.RenameExisting(kept[0].name, "renamed by the fuzzer");
    }
    committed = writer.Commit();
  }
  Bytes after;
  Require(memory.get(kArchive, &after), "the archive is still there");
  for (const std::string& name : memory.files()) {
    Require(name.find(".tmp-") == std::string::npos, "a writer leaves no temporary file");
  }
  if (!committed) {
    Require(ViewOf(after) == input, "a failed commit leaves the archive as it was");
    return;
  }
  MultiFile written(memory);
  RequireCommitted(ViewOf(after), written);
  if (!renames && (choices & kReplaceExisting) == 0) {
    RequireKept(written, ViewOf(after), kept, input);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  Quiet();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const View input{data, size};
  const std::uint8_t choices = size == 0 ? 0 : data[size - 1];
  MemorySystem memory;
  Require(memory.makeFolder(kFolder) && memory.put(kArchive, data, size), "the archive is made");
  if ((choices & kCommit) != 0) {
    Commit(input, choices, memory);
  } else {
    Insert(input, memory);
  }
  Require(memory.openStreams() == 0 && memory.openHandles() == 0,
          "every stream and handle is closed");
  return 0;
}
