#include "multifile/ArchiveLayout.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "files/SafeName.h"

namespace RXM {
namespace kymf {
namespace {

// The findings kept: the `limit` first in (entry, kind, order found) order,
// held in a max-heap so that a later, smaller one replaces the largest.
class Findings {
 public:
  explicit Findings(std::size_t keep) : limit(keep) {}

  void Add(Finding finding) {
    ++report.total;
    if (finding.severity == Severity::kError) {
      ++report.errors;
    }
    const Kept next{std::move(finding), sequence++};
    if (heap.size() < limit) {
      heap.push_back(next);
      std::push_heap(heap.begin(), heap.end(), Before);
    } else if (!heap.empty() && Before(next, heap.front())) {
      std::pop_heap(heap.begin(), heap.end(), Before);
      heap.back() = next;
      std::push_heap(heap.begin(), heap.end(), Before);
    }
  }

  LayoutReport Take() {
    std::sort_heap(heap.begin(), heap.end(), Before);
    for (Kept& kept : heap) {
      report.first.push_back(std::move(kept.finding));
    }
    return std::move(report);
  }

 private:
  struct Kept {
    Finding finding;
    std::uint64_t sequence;
  };
  static bool Before(const Kept& a, const Kept& b) {
    if (a.finding.entry != b.finding.entry) {
      return a.finding.entry < b.finding.entry;
    }
    return a.finding.kind != b.finding.kind ? a.finding.kind < b.finding.kind
                                            : a.sequence < b.sequence;
  }

  std::size_t limit;
  std::uint64_t sequence = 0;
  std::vector<Kept> heap;
  LayoutReport report;
};

std::size_t NameLength(const DirectoryRecord& record) {
  const void* nul = std::memchr(record.name, 0, kNameSize);
  return nul == nullptr ? kNameSize
                        : static_cast<std::size_t>(static_cast<const char*>(nul) - record.name);
}

std::string Named(const DirectoryRecord* records, int index) {
  return "record " + std::to_string(index) + " (" +
         std::string(records[index].name, NameLength(records[index])) + ")";
}

// Names compared under the ASCII fold, as byte strings of the given lengths.
int CompareFolded(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
  const std::size_t common = aLength < bLength ? aLength : bLength;
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char x = FoldByte(static_cast<unsigned char>(a[i]));
    const unsigned char y = FoldByte(static_cast<unsigned char>(b[i]));
    if (x != y) {
      return x < y ? -1 : 1;
    }
  }
  return aLength == bLength ? 0 : (aLength < bLength ? -1 : 1);
}

Severity SeverityOf(FindingKind kind) {
  switch (kind) {
    case FindingKind::kShadowedName:
    case FindingKind::kOverlap:
    case FindingKind::kLayoutBreak:
      return Severity::kWarning;
    default:
      return Severity::kError;
  }
}

void Add(Findings& out, int entry, int other, FindingKind kind, std::string reason) {
  out.Add(Finding{entry, other, kind, SeverityOf(kind), std::move(reason)});
}

// Unsafe names, and over the records sorted by folded name: shadowed names
// (neighbours that compare equal) and names that are also the folder of
// another (each folder prefix looked up by binary search).
void CheckNames(const DirectoryRecord* records, int count, Findings& out) {
  std::vector<int> order(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    order[static_cast<std::size_t>(i)] = i;
    const NameFault fault = CheckSafeName(records[i].name, NameLength(records[i]));
    if (fault != NameFault::kNone) {
      Add(out, i, -1, FindingKind::kUnsafeName, DescribeNameFault(fault));
    }
  }
  const auto less = [records](int a, int b) {
    const int compared = CompareFolded(records[a].name, NameLength(records[a]), records[b].name,
                                       NameLength(records[b]));
    return compared != 0 ? compared < 0 : a < b;
  };
  std::sort(order.begin(), order.end(), less);
  for (std::size_t k = 1; k < order.size(); ++k) {
    const int earlier = order[k - 1];
    const int later = order[k];
    if (CompareFolded(records[earlier].name, NameLength(records[earlier]), records[later].name,
                      NameLength(records[later])) == 0) {
      Add(out, later, earlier, FindingKind::kShadowedName, "shadows " + Named(records, earlier));
    }
  }
  std::vector<int> clash(static_cast<std::size_t>(count), -1);
  for (int i = 0; i < count; ++i) {
    const std::size_t length = NameLength(records[i]);
    for (std::size_t p = 1; p < length; ++p) {
      if (records[i].name[p] != '/') {
        continue;
      }
      const char* prefix = records[i].name;
      const auto found = std::lower_bound(order.begin(), order.end(), p, [&](int r, std::size_t n) {
        return CompareFolded(records[r].name, NameLength(records[r]), prefix, n) < 0;
      });
      if (found != order.end() &&
          CompareFolded(records[*found].name, NameLength(records[*found]), prefix, p) == 0 &&
          clash[static_cast<std::size_t>(*found)] < 0) {
        clash[static_cast<std::size_t>(*found)] = i;
        Add(out, *found, i, FindingKind::kPathClash, "is also the folder of " + Named(records, i));
      }
    }
  }
}

// The offsets of record `i` against the file, whose data begin at
// `dataBegin`: false for a negative size, which leaves no data to place.
bool CheckOffsets(const DirectoryRecord& record, int i, std::int64_t dataBegin,
                  std::int64_t fileSize, Findings& out) {
  const std::int64_t start = record.dataStart;
  const std::int64_t end = record.dataEnd;
  if (end < start - 1) {
    Add(out, i, -1, FindingKind::kNegativeSize, DescribeImpossibleRange(record));
    return false;
  }
  if (end >= start && start < dataBegin) {
    Add(out, i, -1, FindingKind::kDataInHeader,
        "data start at byte " + std::to_string(start) + " inside the header and directory (" +
            std::to_string(dataBegin) + " bytes)");
  }
  if (end >= start && end >= fileSize) {
    Add(out, i, -1, FindingKind::kDataPastEnd,
        "data end at byte " + std::to_string(end) + " past the end of the file (" +
            std::to_string(fileSize) + " bytes)");
  }
  return true;
}

// Offsets against the file and against the layout invariant (each entry's
// data right after the previous one's, the last ending the file).
void CheckData(const DirectoryRecord* records, int count, std::int64_t fileSize, Findings& out) {
  const std::int64_t dataBegin = DirectoryEnd(count);
  std::int64_t expected = dataBegin;
  for (int i = 0; i < count; ++i) {
    if (!CheckOffsets(records[i], i, dataBegin, fileSize, out)) {
      continue;
    }
    const std::int64_t start = records[i].dataStart;
    const std::int64_t end = records[i].dataEnd;
    if (start != expected) {
      Add(out, i, -1, FindingKind::kLayoutBreak,
          "data start at byte " + std::to_string(start) + ", not at byte " +
              std::to_string(expected) + " right after the previous entry's");
    }
    expected = end + 1;
  }
  if (expected < fileSize) {
    Add(out, count - 1, -1, FindingKind::kLayoutBreak,
        std::to_string(fileSize - expected) + " bytes after the last entry's data");
  }
}

// Over the non-empty entries sorted by start: an entry that starts before
// the furthest end seen so far shares bytes with the entry that reaches it.
void CheckOverlaps(const DirectoryRecord* records, int count, Findings& out) {
  std::vector<int> order;
  for (int i = 0; i < count; ++i) {
    if (records[i].dataEnd >= records[i].dataStart) {
      order.push_back(i);
    }
  }
  std::sort(order.begin(), order.end(), [records](int a, int b) {
    return records[a].dataStart != records[b].dataStart
               ? records[a].dataStart < records[b].dataStart
               : a < b;
  });
  std::int64_t reach = -1;
  int owner = -1;
  for (const int i : order) {
    if (owner >= 0 && records[i].dataStart <= reach) {
      Add(out, i, owner, FindingKind::kOverlap, "data overlap " + Named(records, owner));
    }
    if (records[i].dataEnd > reach) {
      reach = records[i].dataEnd;
      owner = i;
    }
  }
}

}  // namespace

LayoutReport CheckLayout(const DirectoryRecord* records, int count, std::int64_t fileSize,
                         std::size_t limit) {
  Findings out(limit);
  if (count < 0 || (count > 0 && records == nullptr)) {
    return out.Take();
  }
  CheckNames(records, count, out);
  CheckData(records, count, fileSize, out);
  CheckOverlaps(records, count, out);
  return out.Take();
}

std::vector<Finding> CheckLayout(const DirectoryRecord* records, int count, std::int64_t fileSize) {
  return CheckLayout(records, count, fileSize, SIZE_MAX).first;
}

std::string DescribeImpossibleRange(const DirectoryRecord& record) {
  const std::int64_t start = record.dataStart;
  const std::int64_t end = record.dataEnd;
  if (end < start - 1) {
    return "data end at byte " + std::to_string(end) + " before the start at byte " +
           std::to_string(start);
  }
  if (start < 0) {
    return "data start at byte " + std::to_string(start) + " before the start of the file";
  }
  return "";
}

std::vector<Finding> CheckEntryData(const DirectoryRecord& record, int index, int count,
                                    std::int64_t fileSize) {
  Findings out(SIZE_MAX);
  CheckOffsets(record, index, DirectoryEnd(count), fileSize, out);
  return out.Take().first;
}

ErrorCode CheckReadable(const DirectoryRecord& record, std::int32_t count, std::int64_t fileSize,
                        std::string* reason) {
  std::string impossible = DescribeImpossibleRange(record);
  if (!impossible.empty()) {
    if (reason != nullptr) {
      *reason = std::move(impossible);
    }
    return ErrorCode::kImpossibleRange;
  }
  for (const Finding& finding : CheckEntryData(record, 0, count, fileSize)) {
    if (finding.kind == FindingKind::kDataInHeader) {
      if (reason != nullptr) {
        *reason = std::string(DescribeFinding(finding.kind)) + ": " + finding.reason;
      }
      return ErrorCode::kDamagedEntry;
    }
  }
  if (!FileBacksEntry(record, fileSize)) {
    if (reason != nullptr) {
      *reason = "truncated at byte " + std::to_string(fileSize);
    }
    return ErrorCode::kTruncated;
  }
  return ErrorCode::kOk;
}

const char* DescribeFinding(FindingKind kind) {
  switch (kind) {
    case FindingKind::kUnsafeName:
      return "unsafe name";
    case FindingKind::kPathClash:
      return "name is also a folder";
    case FindingKind::kShadowedName:
      return "shadowed name";
    case FindingKind::kDataPastEnd:
      return "data past the end";
    case FindingKind::kNegativeSize:
      return "negative size";
    case FindingKind::kDataInHeader:
      return "data inside the header";
    case FindingKind::kOverlap:
      return "overlapping data";
    case FindingKind::kLayoutBreak:
      return "layout break";
  }
  return "unknown finding";
}

}  // namespace kymf
}  // namespace RXM
