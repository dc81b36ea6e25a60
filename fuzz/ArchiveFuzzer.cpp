// An archive from arbitrary bytes, read: opened through a caller's file over
// the input and through the library's own DiskFile (in a file system in
// memory, MemorySystem, made only for the runs that need one); every entry
// looked up, read, seeked and extracted through the open entry and through
// OpenEntry; CheckEntry and the layout check held to the same rule. Each
// answer is held against the input's own bytes, and nothing may be left open
// at the end. ArchiveWriteFuzzer.cpp inserts and commits.
#include <climits>
#include <cstring>
#include <vector>

#include "ArchiveFuzzing.h"
#include "backends/MemorySystem.h"

namespace {

using namespace archive_fuzzing;
using RXM::multifile::FindingKind;
using testing_support::MemorySystem;

constexpr const char* kExtracted = "/fuzz/extracted";
// The caller's file is named what no disk holds: the name of a file that is
// no archive is asked of the system (is it a folder?), and that system is the
// real one in the runs without a file system in memory.
constexpr const char* kCallersName = "";

// The input's last byte chooses one thing to do with the archive (its low
// three bits) and how (the bits above): each run does one, so that a run
// costs little, and the fuzzer, which mutates that byte like any other,
// reaches every one over the runs. Only the actions on the disk, and the
// extraction, need the file system in memory.
enum Action : std::uint8_t {
  kElementsOfCallersFile,  // the open entry over a caller's file: reads and seeks
  kExtractOfCallersFile,   // the same, and each entry extracted
  kElementsOnDisk,         // the same over the library's DiskFile
  kStreamsOfCallersFile,   // OpenEntry (a copy through the caller's file), CheckEntry
  kStreamsOnDisk,          // the same over the DiskFile (positional reads)
  kStreamsWandered,        // OpenEntry's streams on both, read in pieces and seeked
  kLayoutOfCallersFile,    // CheckArchive, whole and cut short
  kLayoutOnDisk,           // the same over the DiskFile
};

bool NeedsMemory(int action) {
  return action != kElementsOfCallersFile && action != kStreamsOfCallersFile &&
         action != kLayoutOfCallersFile;
}

bool OnDisk(int action) {
  return action == kElementsOnDisk || action == kStreamsOnDisk || action == kStreamsWandered ||
         action == kLayoutOnDisk;
}

// Reads of many item sizes and seeks from every origin, with no answer to
// check but the absence of a fault; then the byte at a few positions.
void Wander(KYFile& file, View data) {
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
  for (std::size_t at : {std::size_t{0}, data.size / 2, data.size - 1}) {
    if (at < data.size) {
      Require(file.Seek(static_cast<long>(at), 0), "a seek inside the entry succeeds");
      Require(file.ReadData(buffer, 1, 1) == 1 && buffer[0] == static_cast<char>(data.data[at]),
              "the byte at a position is the input's");
    }
  }
}

// ExtractToFile of the open entry `record`, whose bytes are `data` (none
// when the file does not back it).
void Extract(MultiFile& archive, const DirectoryRecord& record, View input, View data,
             MemorySystem& memory) {
  const bool readable = RXM::multifile::CheckReadable(record, archive.GetDirectory().GetCount(),
                                                      input.FileSize()) == RXM::ErrorCode::kOk;
  const bool extracted = archive.ExtractToFile(kExtracted);
  Require(extracted == (readable && data.size > 0),
          "an entry is extracted exactly when its bytes are its own and all in the file");
  Bytes written;
  Require(!extracted || (memory.get(kExtracted, &written) && ViewOf(written) == data),
          "the extracted file holds the entry's bytes");
}

// The open entry (OpenFile, ReadData, Seek, and ExtractToFile when there is
// a file system in memory) of each name.
void ReadElements(MultiFile& archive, View input, MemorySystem* memory) {
  for (int i = 0; i < Checked(archive); ++i) {
    const char* name = archive.GetDirectory().Peek(i)->name;
    const DirectoryRecord& record = *Found(archive, name);
    const bool backed = RXM::multifile::FileBacksEntry(record, input.FileSize());
    if (!archive.OpenFile(name, "rb")) {
      Require(!backed, "an entry the file backs opens");
      continue;
    }
    const std::uint32_t size = RXM::multifile::EntrySize(record);
    Require(archive.GetFileSize() == size, "the open entry's size is its record's");
    const View data = backed ? DataOf(input, record) : View{nullptr, 0};
    Require(!backed || Reads(archive, data), "the open entry reads the input's bytes");
    Wander(archive, data);
    if (memory != nullptr) {
      Extract(archive, record, input, data, *memory);
    }
  }
}

// OpenEntry and CheckEntry of each name, against the rule and the input's bytes.
void ReadStreams(const MultiFile& archive, View input, bool wander) {
  const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
  for (int i = 0; i < Checked(archive); ++i) {
    const String name(directory.Peek(i)->name);  // one copy for both calls
    const DirectoryRecord& record = *Found(archive, name.GetText());
    const RXM::ErrorCode rule =
        RXM::multifile::CheckReadable(record, directory.GetCount(), input.FileSize());
    const bool readable = rule == RXM::ErrorCode::kOk;
    Require(!readable || RXM::multifile::FileBacksEntry(record, input.FileSize()),
            "an entry the rule reads is all in the file");
    Require(archive.CheckEntry(name).GetCode() == rule, "CheckEntry says what the rule says");
    RXM::Status why;
    Pointer<KYFile> stream = archive.OpenEntry(name, why);
    Require(stream.IsNull() != readable && why.GetCode() == rule,
            "OpenEntry gives a stream exactly for an entry the rule reads, else its reason");
    if (readable) {
      const View data = DataOf(input, record);
      Require(Reads(*stream, data), "OpenEntry reads the input's bytes");
      if (wander) {
        Wander(*stream, data);
      }
    }
  }
}

// CheckArchive against the input's bytes, and cut short after `limit`
// findings (when there are that many) against itself whole.
void CheckLayout(const MultiFile& archive, View input, std::size_t limit) {
  Require(archive.GetArchiveSize() == input.FileSize(), "the archive's size is the input's");
  const std::vector<RXM::multifile::Finding> findings = archive.CheckArchive();
  std::vector<bool> pastEnd(static_cast<std::size_t>(Checked(archive)), false);
  std::int64_t errors = 0;
  for (const RXM::multifile::Finding& finding : findings) {
    if (finding.kind == FindingKind::kDataPastEnd && finding.entry >= 0 &&
        finding.entry < Checked(archive)) {
      pastEnd[static_cast<std::size_t>(finding.entry)] = true;
    }
    errors += finding.severity == RXM::multifile::Severity::kError ? 1 : 0;
  }
  for (int i = 0; i < Checked(archive); ++i) {
    const DirectoryRecord& own = *archive.GetDirectory().Peek(i);
    if (own.dataStart >= 0 && own.dataEnd >= own.dataStart) {
      Require(RXM::multifile::FileBacksEntry(own, input.FileSize()) != pastEnd[i],
              "the layout check says past the end exactly for an entry the file does not back");
    }
  }
  if (limit > findings.size()) {
    return;  // the report would keep them all: what the whole check just did
  }
  const RXM::multifile::LayoutReport report = archive.CheckArchive(limit);
  Require(report.total == static_cast<std::int64_t>(findings.size()) && report.errors == errors &&
              report.first.size() == std::min(limit, findings.size()),
          "a layout report cut short counts every finding and keeps the first");
  for (std::size_t i = 0; i < report.first.size(); ++i) {
    Require(report.first[i].entry == findings[i].entry && report.first[i].kind == findings[i].kind,
            "a layout report cut short keeps the first findings in order");
  }
}

void Run(int action, std::uint8_t choices, MultiFile& archive, View input, MemorySystem* memory) {
  switch (action) {
    case kElementsOfCallersFile:
    case kExtractOfCallersFile:
    case kElementsOnDisk:
      ReadElements(archive, input, memory);
      break;
    case kStreamsOfCallersFile:
    case kStreamsOnDisk:
    case kStreamsWandered:
      ReadStreams(archive, input, action == kStreamsWandered);
      break;
    default:
      CheckLayout(archive, input, choices >> 3);
      break;
  }
}

// The runs that go through the file system in memory: the archive opened
// through a caller's file and, for the disk's actions, through the DiskFile
// too, which must read the same directory.
void RunInMemory(int action, std::uint8_t choices, View input) {
  MemorySystem memory;
  Require(memory.makeFolder(kFolder) && memory.put(kArchive, input.data, input.size),
          "the archive is made");
  {
    MultiFile callers(memory);
    const bool opened = callers.OpenMultiFile(
        Pointer<KYFile>(new fuzzing::BytesFile(input.data, input.size)), kCallersName);
    MultiFile disk(memory);
    if (OnDisk(action)) {
      Require(disk.OpenMultiFile(Pointer<KYFile>(), kArchive) == opened,
              "a caller's file and the disk open the same archives");
      Require(disk.GetDirectory().GetCount() == callers.GetDirectory().GetCount(),
              "a caller's file and the disk read the same directory");
    }
    if (opened) {
      Run(action, choices, OnDisk(action) ? disk : callers, input, &memory);
      if (action == kStreamsWandered) {
        ReadStreams(callers, input, true);
      }
    }
  }
  Require(memory.openStreams() == 0 && memory.openHandles() == 0,
          "every stream and handle is closed");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  Quiet();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const View input{data, size};
  const std::uint8_t choices = size == 0 ? 0 : data[size - 1];
  const int action = choices & 7;
  if (NeedsMemory(action)) {
    RunInMemory(action, choices, input);
    return 0;
  }
  MultiFile archive;
  if (archive.OpenMultiFile(Pointer<KYFile>(new fuzzing::BytesFile(data, size)), kCallersName)) {
    Run(action, choices, archive, input, nullptr);
  }
  return 0;
}
