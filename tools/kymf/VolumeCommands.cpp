// Writing volume sets (docs/volumes.md): create, with or without --split,
// and add, delete and rename on a set.
//
// Every volume is written by a MultiFileWriter of its own (a temporary file,
// synced, renamed into place), so each volume is always whole. The first
// volume's writer takes its lock before anything is read and holds it until
// it commits, last of all, so two writers of one set take turns. Volumes are
// committed from the highest number down: the volumes that receive entries
// before the ones that lose them, and the first one last.
//
// A crash or a failure part way leaves every volume whole, but the set may
// hold volumes of the old and the new content together (and, for create,
// the older set's higher-numbered volumes, removed just before the first
// volume is replaced); kymf verify reads each volume, and create writes the
// set anew.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Commands.h"
#include "files/Failure.h"
#include "multifile/ArchiveFormat.h"
#include "multifile/ArchiveSums.h"
#include "multifile/VolumeSet.h"
#include "support/InputCollector.h"

namespace kymf {
namespace {

using RXM::ErrorCode;
using RXM::multifile::FoldName;

// A volume as it is before the change: its fill and its names (folded),
// each with its records and their bytes.
struct Held {
  std::int64_t records = 0;
  std::uint64_t bytes = 0;
};
struct ExistingVolume {
  std::string path;
  RXM::VolumeFill fill;
  std::unordered_map<std::string, Held> names;
};

// The volumes of `paths`, read; false (reported) when one cannot be.
bool ReadVolumes(const std::vector<std::string>& paths, std::vector<ExistingVolume>& volumes,
                 Reporter& reporter) {
  for (const std::string& path : paths) {
    MultiFile archive;
    if (!archive.OpenMultiFile(Pointer<KYFile>(), path.c_str())) {
      reporter.Fail(archive.GetStatus());
      return false;
    }
    ExistingVolume volume{path, {archive.GetDirectory().GetCount(), archive.GetArchiveSize()}, {}};
    for (int i = 0; i < archive.GetDirectory().GetCount(); ++i) {
      const MultiFileElement& record = *archive.GetDirectory().Peek(i);
      Held& held = volume.names[FoldName(record.name)];
      ++held.records;
      held.bytes += RXM::multifile::EntrySize(record);
    }
    volumes.push_back(std::move(volume));
  }
  return true;
}

// The writers of the volumes that change, the first volume's given (it
// holds the set's lock), the others made when first asked for.
class SetWriters {
 public:
  SetWriters(const Options& settings, MultiFileWriter& firstWriter)
      : options(settings), first(firstWriter) {}

  // The writer of volume `index` (0 the first), keeping its entries unless
  // it is `fresh`.
  MultiFileWriter& Of(std::size_t index, bool fresh = false) {
    if (index >= slots.size()) {
      slots.resize(index + 1);
    }
    Slot& slot = slots[index];
    if (index > 0 && !slot.writer) {
      slot.writer = std::make_unique<MultiFileWriter>(
          RXM::VolumeName(options.archive, static_cast<int>(index) + 1).c_str(), !fresh);
      WaitForLock(*slot.writer, options);
      slot.writer->SetReplaceExisting(options.replace);
    }
    slot.used = true;
    return index == 0 ? first : *slot.writer;
  }
  void Add(std::size_t index, const Input& input, bool fresh = false) {
    Of(index, fresh);
    slots[index].inputs.push_back(input);
  }
  // Commits every volume that changes, the highest number first; before the
  // first volume, `beforeFirst` runs. False (reported) at the first failure.
  template <class Before>
  bool Commit(Reporter& reporter, Before beforeFirst) {
    for (std::size_t index = slots.size(); index-- > 1;) {
      if (slots[index].used &&
          !WriteInputs(*slots[index].writer, slots[index].inputs,
                       RXM::VolumeName(options.archive, static_cast<int>(index) + 1), reporter)) {
        return false;
      }
    }
    beforeFirst();
    return slots.empty() || !slots[0].used ||
           WriteInputs(first, slots[0].inputs, options.archive, reporter);
  }

 private:
  struct Slot {
    std::unique_ptr<MultiFileWriter> writer;
    std::vector<Input> inputs;
    bool used = false;
  };
  const Options& options;
  MultiFileWriter& first;
  std::vector<Slot> slots;
};

// The first volume's lock, taken as the writing commands wait for it; false
// (reported) when it cannot be had.
bool LockSet(MultiFileWriter& first, const Options& options, Reporter& reporter) {
  WaitForLock(first, options);
  first.SetReplaceExisting(options.replace);
  if (!first.Lock()) {
    reporter.Fail(first.GetStatus());
    return false;
  }
  return true;
}

// The volumes of the set, read under its lock; false (reported) when a
// volume cannot be read or one is missing before others, which a change
// would join to the set.
bool ReadSet(const std::string& archive, std::vector<ExistingVolume>& volumes, Reporter& reporter) {
  RXM::sys::System& system = RXM::sys::System::Default();
  const std::vector<std::string> paths = RXM::FindVolumes(system, archive);
  const std::vector<std::string> strays =
      RXM::FindStrayVolumes(system, archive, static_cast<int>(paths.size()));
  if (!strays.empty()) {
    reporter.Fail(archive, "volume " +
                               RXM::VolumeName(archive, static_cast<int>(paths.size()) + 1) +
                               " is missing before " + strays.front() +
                               " (kymf verify says more); the set is left as it is");
    return false;
  }
  return ReadVolumes(paths, volumes, reporter);
}

std::vector<std::uint64_t> SizesOf(const std::vector<Input>& inputs) {
  std::vector<std::uint64_t> sizes;
  sizes.reserve(inputs.size());
  for (const Input& input : inputs) {
    sizes.push_back(input.size);
  }
  return sizes;
}

// The plan's refusal, said for the command line: the entry that fits no
// volume, or (a plan that needs volumes) an archive too large without
// --split.
void ReportPlan(const Options& options, const RXM::Status& planned,
                const std::vector<Input>& inputs, std::size_t refused, Reporter& reporter) {
  if (refused < inputs.size()) {
    reporter.Fail(options.archive + ": " + inputs[refused].name,
                  std::to_string(inputs[refused].size) + " bytes do not fit a volume of " +
                      std::to_string(VolumeLimit(options)) + " bytes");
  } else if (planned.IsOk()) {
    reporter.Fail(options.archive,
                  "the archive would exceed 2,147,483,647 bytes, the most one archive holds: "
                  "--split SIZE writes it as a set of volumes (docs/volumes.md)");
  } else {
    reporter.Fail(options.archive, planned.GetText());
  }
}

// Removes the volume `path` of an older set, and its sums file.
void RemoveStale(const std::string& path, Reporter& reporter) {
  RXM::sys::System& system = RXM::sys::System::Default();
  if (system.remove(path.c_str()) != 0) {
    reporter.FailSystem(path, errno);
  }
  RXM::sys::FileInfo info;
  const std::string sums = RXM::SumsPathOf(path);
  if (system.inspect(sums.c_str(), &info) == 0 && info.kind != RXM::sys::FileKind::kMissing &&
      system.remove(sums.c_str()) != 0) {
    reporter.FailSystem(sums, errno);
  }
}

// For add --replace: `input` replaces its name in the volume of `holders`
// that holds it last, when that is not the last volume (which takes it as any
// new entry) and it fits there (`placed` then true); every other holder
// loses the name. The fills follow. False (reported) when a removal fails.
bool ReplaceWhereHeld(const Input& input, const std::vector<std::size_t>& holders,
                      std::int64_t limit, std::vector<ExistingVolume>& volumes, SetWriters& writers,
                      bool& placed, Reporter& reporter) {
  const std::string folded = FoldName(input.name.c_str());
  const auto size = static_cast<std::int64_t>(input.size);
  for (std::size_t v : holders) {
    ExistingVolume& volume = volumes[v];
    const Held held = volume.names[folded];
    const std::int64_t without = volume.fill.bytes - held.records * RXM::multifile::kRecordSize -
                                 static_cast<std::int64_t>(held.bytes);
    const bool here = v == holders.back() && v + 1 != volumes.size() &&
                      without + RXM::multifile::kRecordSize + size <= limit;
    volume.fill.records -= held.records;
    volume.fill.bytes = without;
    if (here) {
      writers.Add(v, input);
      volume.fill.records += 1;
      volume.fill.bytes += RXM::multifile::kRecordSize + size;
      placed = true;
    } else if (!writers.Of(v).RemoveExisting(input.name.c_str())) {
      reporter.Fail(writers.Of(v).GetStatus());
      return false;
    }
  }
  return true;
}

}  // namespace

std::int64_t VolumeLimit(const Options& options) {
  return options.splitBytes > 0 ? options.splitBytes : RXM::multifile::kLargestArchive;
}

bool ParseSplit(Options& options, Reporter& reporter) {
  const std::string& text = options.split;
  if (text.empty()) {
    return true;
  }
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) {
    ++digits;
  }
  const std::string unit = text.substr(digits);
  const int shift = unit.empty()                 ? 0
                    : unit == "K" || unit == "k" ? 10
                    : unit == "M"                ? 20
                    : unit == "G"                ? 30
                                                 : -1;
  const std::int64_t largest = RXM::multifile::kLargestArchive;
  const std::int64_t number =
      digits == 0 || digits > 10 || shift < 0 ? -1 : std::stoll(text.substr(0, digits));
  if (number <= 0 || number > (largest >> shift)) {
    reporter.Usage("--split " + text +
                   ": a size in bytes, with K, M or G for 1024, 1024^2 or 1024^3, above 0 and at "
                   "most 2,147,483,647 bytes (2G is one too many)");
    return false;
  }
  options.splitBytes = number << shift;
  return true;
}

bool IsVolumeSet(const std::string& archive) {
  return RXM::FindVolumes(RXM::sys::System::Default(), archive).size() > 1;
}

int CreateSet(const Options& options, const std::vector<Input>& inputs, Reporter& reporter) {
  std::vector<std::size_t> starts;
  std::size_t refused = inputs.size();
  const RXM::Status planned =
      RXM::PlanVolumes(SizesOf(inputs), VolumeLimit(options), {}, &starts, &refused);
  if (!planned.IsOk() || (options.split.empty() && starts.size() > 1)) {
    ReportPlan(options, planned, inputs, refused, reporter);
    return kFailure;
  }
  MultiFileWriter first(options.archive.c_str());
  if (!LockSet(first, options, reporter)) {
    return kFailure;
  }
  RXM::sys::System& system = RXM::sys::System::Default();
  std::vector<std::string> stale = RXM::FindVolumes(system, options.archive);
  for (const std::string& stray :
       RXM::FindStrayVolumes(system, options.archive, static_cast<int>(stale.size()))) {
    stale.push_back(stray);
  }
  stale.erase(stale.begin(),
              stale.begin() + static_cast<std::ptrdiff_t>(std::min(stale.size(), starts.size())));
  SetWriters writers(options, first);
  starts.push_back(inputs.size());
  for (std::size_t volume = 0; volume + 1 < starts.size(); ++volume) {
    writers.Of(volume, true);
    for (std::size_t i = starts[volume]; i < starts[volume + 1]; ++i) {
      writers.Add(volume, inputs[i], true);
    }
  }
  // Once the new volumes are in place, before the first one (which ends the
  // lock): the older set's volumes after them, which readers would take in.
  return writers.Commit(reporter,
                        [&] {
                          for (const std::string& path : stale) {
                            RemoveStale(path, reporter);
                          }
                        })
             ? kSuccess
             : kFailure;
}

int AddToSet(const Options& options, const std::vector<Input>& inputs, Reporter& reporter) {
  MultiFileWriter first(options.archive.c_str(), true);
  std::vector<ExistingVolume> volumes;
  if (!LockSet(first, options, reporter) || !ReadSet(options.archive, volumes, reporter)) {
    return kFailure;
  }
  const std::size_t last = volumes.size() - 1;
  const std::int64_t limit = VolumeLimit(options);
  SetWriters writers(options, first);
  std::vector<Input> pool;
  std::unordered_set<std::string> added;
  for (const Input& input : inputs) {
    const std::string folded = FoldName(input.name.c_str());
    std::vector<std::size_t> holders;
    for (std::size_t v = 0; v < volumes.size(); ++v) {
      if (volumes[v].names.count(folded) != 0) {
        holders.push_back(v);
      }
    }
    if (!added.insert(folded).second || (!holders.empty() && !options.replace)) {
      reporter.Fail(RXM::Failure(
          ErrorCode::kAlreadyExists, holders.empty() ? options.archive : volumes[holders[0]].path,
          "entry name \"" + input.name + "\" is already taken (letter case is ignored)"));
      return kFailure;
    }
    bool placed = false;
    if (!ReplaceWhereHeld(input, holders, limit, volumes, writers, placed, reporter)) {
      return kFailure;
    }
    if (!placed) {
      pool.push_back(input);
    }
  }
  std::vector<std::size_t> starts;
  std::size_t refused = pool.size();
  const RXM::Status planned =
      RXM::PlanVolumes(SizesOf(pool), limit, volumes[last].fill, &starts, &refused);
  if (!planned.IsOk()) {
    ReportPlan(options, planned, pool, refused, reporter);
    return kFailure;
  }
  starts.push_back(pool.size());
  for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
    for (std::size_t i = starts[k]; i < starts[k + 1]; ++i) {
      writers.Add(last + k, pool[i], k > 0);
    }
  }
  return writers.Commit(reporter, [] {}) ? kSuccess : kFailure;
}

int DeleteFromSet(const Options& options, const std::vector<std::string>& names,
                  Reporter& reporter) {
  MultiFileWriter first(options.archive.c_str(), true);
  std::vector<ExistingVolume> volumes;
  if (!LockSet(first, options, reporter) || !ReadSet(options.archive, volumes, reporter)) {
    return kFailure;
  }
  SetWriters writers(options, first);
  for (const std::string& name : names) {
    bool found = false;
    for (std::size_t v = 0; v < volumes.size(); ++v) {
      if (volumes[v].names.count(FoldName(name.c_str())) == 0) {
        continue;
      }
      found = true;
      if (!writers.Of(v).RemoveExisting(name.c_str())) {
        reporter.Fail(writers.Of(v).GetStatus());
        return kFailure;
      }
    }
    if (!found) {
      reporter.Fail(RXM::Failure(ErrorCode::kNoSuchEntry, options.archive, "no entry " + name));
      return kFailure;
    }
  }
  return writers.Commit(reporter, [] {}) ? kSuccess : kFailure;
}

int RenameInSet(const Options& options, Reporter& reporter) {
  MultiFileWriter first(options.archive.c_str(), true);
  std::vector<ExistingVolume> volumes;
  if (!LockSet(first, options, reporter) || !ReadSet(options.archive, volumes, reporter)) {
    return kFailure;
  }
  const std::string from = FoldName(options.from.c_str());
  const std::string to = FoldName(options.to.c_str());
  std::size_t holder = volumes.size();
  for (std::size_t v = 0; v < volumes.size(); ++v) {
    holder = volumes[v].names.count(from) != 0 ? v : holder;
  }
  if (holder == volumes.size()) {
    reporter.Fail(
        RXM::Failure(ErrorCode::kNoSuchEntry, options.archive, "no entry " + options.from));
    return kFailure;
  }
  for (std::size_t v = 0; v < volumes.size(); ++v) {
    if (v != holder && volumes[v].names.count(to) != 0) {
      reporter.Fail(RXM::Failure(
          ErrorCode::kAlreadyExists, volumes[v].path,
          "entry name \"" + options.to + "\" is already taken (letter case is ignored)"));
      return kFailure;
    }
  }
  SetWriters writers(options, first);
  if (!writers.Of(holder).RenameExisting(options.from.c_str(), options.to.c_str())) {
    reporter.Fail(writers.Of(holder).GetStatus());
    return kFailure;
  }
  return writers.Commit(reporter, [] {}) ? kSuccess : kFailure;
}

}  // namespace kymf
