// An archive from arbitrary bytes, in a file system in memory (MemorySystem):
// opened through a caller's file and through the library's own DiskFile; every
// entry looked up, read, seeked and extracted through the open entry and
// through OpenEntry; its layout checked; a file inserted; a writer committed.
// Each answer is held against the input's own bytes, and nothing may be left
// open at the end.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "FuzzSupport.h"
#include "backends/MemorySystem.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using RXM::kymf::FindingKind;
using testing_support::MemorySystem;

constexpr const char* kArchive = "/fuzz/archive.kymf";
constexpr const char* kInput = "/fuzz/input";
constexpr const char* kExtracted = "/fuzz/extracted";
constexpr const char* kInserted = "inserted by the fuzzer";
constexpr const char* kAdded = "added by the fuzzer";
constexpr int kMostEntries = 64;
const Bytes kFuzz = {'f', 'u', 'z', 'z'};

// The input's last byte chooses one thing to do with the archive (its low
// three bits) and how (the writer's options, the bits above): each run does
// one, so that a run costs little and reaches few paths, and the fuzzer, which
// mutates that byte like any other, reaches every one over the runs.
enum Action : std::uint8_t {
  kElementsOfCallersFile,  // the open entry over a caller's file, and its extraction
  kElementsOnDisk,         // the same over the library's DiskFile
  kStreamsOfCallersFile,   // OpenEntry (a copy through the caller's file), CheckEntry, the layout
  kStreamsOnDisk,          // the same over the DiskFile (positional reads)
  kStreamsWandered,        // OpenEntry's streams on both, read in pieces and seeked
  kInsert,                 // InsertFile
  kCommit,                 // MultiFileWriter keeping the archive
  kCommitAgain,            // the same (eight actions fill the three bits)
};
enum Option : std::uint8_t {
  kAllowEmpty = 8,        // the writer writes empty entries
  kReplaceExisting = 16,  // the writer's added entry replaces a kept one
  kRename = 32,           // the writer renames the first kept entry
};

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "archive fuzzer: %s\n", what);
    std::abort();
  }
}

int Checked(const MultiFile& archive) {
  const int count = archive.GetDirectory().GetCount();
  return count < kMostEntries ? count : kMostEntries;
}

// The record that a lookup of `name` finds: the last one of that name.
const DirectoryRecord* Found(const MultiFile& archive, const char* name) {
  const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
  for (int i = directory.GetCount() - 1; i >= 0; --i) {
    if (RXM::kymf::NameMatches(name, *directory.Peek(i))) {
      return directory.Peek(i);
    }
  }
  return nullptr;
}

// The entry's bytes in `file`, which backs it.
Bytes DataOf(const Bytes& file, const DirectoryRecord& record) {
  const auto start = file.begin() + record.dataStart;
  return Bytes(start, start + RXM::kymf::EntrySize(record));
}

Bytes ReadWhole(KYFile& file, std::uint32_t size) {
  Bytes bytes(size);
  if (size > 0 && file.ReadData(bytes.data(), size, 1) != 1) {
    bytes.clear();
  }
  return bytes;
}

// Reads of many item sizes and seeks from every origin, with no answer to
// check but the absence of a fault; then the byte at a few positions.
void Wander(KYFile& file, const Bytes& data) {
  char buffer[8192];
  for (unsigned int itemSize : {1u, 3u, 80u, 4096u}) {
    file.ReadData(buffer, itemSize, 2);
    file.EndOfFile();
  }
  for (int origin = 0; origin <= 3; ++origin) {
    for (long offset :
         {-1L, 0L, 1L, 7L, static_cast<long>(INT32_MIN), static_cast<long>(INT32_MAX)}) {
      file.Seek(offset, origin);
      file.ReadData(buffer, 1, 1);
      file.EndOfFile();
      file.GetPosition();
    }
  }
  for (std::size_t at : {std::size_t{0}, data.size() / 2, data.size() - 1}) {
    if (at < data.size()) {
      Require(file.Seek(static_cast<long>(at), 0), "a seek inside the entry succeeds");
      Require(file.ReadData(buffer, 1, 1) == 1 && buffer[0] == static_cast<char>(data[at]),
              "the byte at a position is the input's");
    }
  }
}

// The open entry (OpenFile, ReadData, Seek, ExtractToFile) of each name.
void ReadElements(MultiFile& archive, const Bytes& input, MemorySystem& memory) {
  for (int i = 0; i < Checked(archive); ++i) {
    const String name(archive.GetDirectory().Peek(i)->name);
    const DirectoryRecord& record = *Found(archive, name.GetText());
    const bool backed = RXM::kymf::FileBacksEntry(record, static_cast<std::int64_t>(input.size()));
    if (!archive.OpenFile(name, "rb")) {
      Require(!backed, "an entry the file backs opens");
      continue;
    }
    const std::uint32_t size = RXM::kymf::EntrySize(record);
    Require(archive.GetFileSize() == size, "the open entry's size is its record's");
    const Bytes data = backed ? DataOf(input, record) : Bytes();
    if (backed) {
      Require(ReadWhole(archive, size) == data, "the open entry reads the input's bytes");
      Wander(archive, data);
    } else {
      Wander(archive, Bytes());
    }
    const bool readable =
        RXM::kymf::CheckReadable(record, archive.GetDirectory().GetCount(),
                                 static_cast<std::int64_t>(input.size())) == RXM::ErrorCode::kOk;
    const bool extracted = archive.ExtractToFile(kExtracted);
    Require(extracted == (readable && size > 0),
            "an entry is extracted exactly when its bytes are its own and all in the file");
    Bytes written;
    Require(!extracted || (memory.get(kExtracted, &written) && written == data),
            "the extracted file holds the entry's bytes");
  }
}

// OpenEntry and CheckEntry of each name, against the file's bytes and the
// layout's findings.
void ReadStreams(const MultiFile& archive, const Bytes& input, bool wander) {
  std::set<int> pastEnd;
  for (const RXM::kymf::Finding& finding : archive.CheckArchive()) {
    if (finding.kind == FindingKind::kDataPastEnd) {
      pastEnd.insert(finding.entry);
    }
  }
  const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
  const auto fileSize = static_cast<std::int64_t>(input.size());
  for (int i = 0; i < Checked(archive); ++i) {
    const DirectoryRecord& own = *directory.Peek(i);
    if (own.dataStart >= 0 && own.dataEnd >= own.dataStart) {
      Require(RXM::kymf::FileBacksEntry(own, fileSize) == (pastEnd.count(i) == 0),
              "the layout check says past the end exactly for an entry the file does not back");
    }
    const DirectoryRecord& record = *Found(archive, own.name);
    const RXM::ErrorCode rule = RXM::kymf::CheckReadable(record, directory.GetCount(), fileSize);
    const bool readable = rule == RXM::ErrorCode::kOk;
    Require(!readable || RXM::kymf::FileBacksEntry(record, fileSize),
            "an entry the rule reads is all in the file");
    Require(archive.CheckEntry(own.name).GetCode() == rule, "CheckEntry says what the rule says");
    RXM::Status why;
    Pointer<KYFile> stream = archive.OpenEntry(own.name, why);
    Require(stream.IsNull() != readable && why.GetCode() == rule,
            "OpenEntry gives a stream exactly for an entry the rule reads, else its reason");
    if (readable) {
      const Bytes data = DataOf(input, record);
      Require(ReadWhole(*stream, RXM::kymf::EntrySize(record)) == data,
              "OpenEntry reads the input's bytes");
      if (wander) {
        Wander(*stream, data);
      }
    }
  }
}

// The first records of the directory, as they are now.
std::vector<DirectoryRecord> RecordsOf(const MultiFile& archive) {
  std::vector<DirectoryRecord> records;
  for (int i = 0; i < Checked(archive); ++i) {
    records.push_back(*archive.GetDirectory().Peek(i));
  }
  return records;
}

// The archive `after`, reopened as `reopened`, begins with the records
// `kept` of the archive `before`, each with its name and bytes.
void RequireKept(const MultiFile& reopened, const Bytes& after,
                 const std::vector<DirectoryRecord>& kept, const Bytes& before) {
  const std::vector<DirectoryRecord> now = RecordsOf(reopened);
  Require(now.size() >= kept.size(), "every kept record is there");
  for (std::size_t i = 0; i < kept.size(); ++i) {
    Require(std::strncmp(now[i].name, kept[i].name, sizeof now[i].name) == 0,
            "a kept entry keeps its name");
    Require(RXM::kymf::FileBacksEntry(now[i], static_cast<std::int64_t>(after.size())),
            "the new archive backs every entry");
    Require(DataOf(after, now[i]) == DataOf(before, kept[i]), "a kept entry keeps its bytes");
  }
}

// InsertFile on the archive opened from the memory's disk.
void Insert(MultiFile& archive, const Bytes& input, MemorySystem& memory) {
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
    Require(after == input, "a failed insertion leaves the archive as it was");
    return;
  }
  Require(wasOpen && archive.GetDirectory().GetCount() == count + 1,
          "an insertion adds one record");
  Pointer<KYFile> stream = archive.OpenEntry(kInserted);
  Require(!stream.IsNull() && ReadWhole(*stream, 4) == kFuzz, "the inserted entry reads back");
  RequireKept(archive, after, kept, input);
}

// MultiFileWriter keeping the archive, with choices taken from the input.
void Commit(const Bytes& input, std::uint8_t choices, MemorySystem& memory) {
  std::vector<DirectoryRecord> kept;
  {
    MultiFile old;
    old.OpenMultiFile(Pointer<KYFile>(new fuzzing::BytesFile(input.data(), input.size())), "old");
    kept = RecordsOf(old);
  }
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
    Require(after == input, "a failed commit leaves the archive as it was");
    return;
  }
  MultiFile written(memory);
  Require(written.OpenMultiFile(Pointer<KYFile>(new fuzzing::BytesFile(after.data(), after.size())),
                                kArchive),
          "a committed archive opens");
  for (const RXM::kymf::Finding& finding : written.CheckArchive()) {
    Require(finding.kind == FindingKind::kUnsafeName || finding.kind == FindingKind::kPathClash ||
                finding.kind == FindingKind::kShadowedName,
            "a committed archive keeps the layout invariant");
  }
  Pointer<KYFile> stream = written.OpenEntry(kAdded);
  Require(!stream.IsNull() && ReadWhole(*stream, 4) == kFuzz, "the added entry reads back");
  if (!renames && (choices & kReplaceExisting) == 0) {
    RequireKept(written, after, kept, input);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  RXM::SetDebugger(CTPointer<Debugger>(new NullDebugger()));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes input(data, data + size);
  const std::uint8_t choices = size == 0 ? 0 : data[size - 1];
  const int action = choices & 7;
  MemorySystem memory;
  Require(memory.makeFolder("/fuzz") && memory.put(kArchive, data, size), "the archive is made");
  if (action == kCommit || action == kCommitAgain) {
    Commit(input, choices, memory);
  } else {
    MultiFile callers(memory);
    const bool opened =
        callers.OpenMultiFile(Pointer<KYFile>(new fuzzing::BytesFile(data, size)), "fuzz");
    const bool onDisk = action == kElementsOnDisk || action == kStreamsOnDisk ||
                        action == kStreamsWandered || action == kInsert;
    MultiFile disk(memory);
    if (onDisk) {
      Require(disk.OpenMultiFile(Pointer<KYFile>(), kArchive) == opened,
              "a caller's file and the disk open the same archives");
      Require(disk.GetDirectory().GetCount() == callers.GetDirectory().GetCount(),
              "a caller's file and the disk read the same directory");
    }
    MultiFile& archive = onDisk ? disk : callers;
    if (action == kInsert) {
      Insert(disk, input, memory);
    } else if (opened && (action == kElementsOfCallersFile || action == kElementsOnDisk)) {
      ReadElements(archive, input, memory);
    } else if (opened) {
      ReadStreams(archive, input, action == kStreamsWandered);
      if (action == kStreamsWandered) {
        ReadStreams(callers, input, true);
      }
    }
  }
  Require(memory.openStreams() == 0 && memory.openHandles() == 0,
          "every stream and handle is closed");
  return 0;
}
