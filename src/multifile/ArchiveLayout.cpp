#include "multifile/ArchiveLayout.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/SafeName.h"
#include "files/Text.h"
#include "multifile/FoldedNames.h"

namespace RXM {
namespace multifile {
namespace {

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

// The findings kept: the `limit` first in (entry, kind, order found) order.
// Until `limit` are held they are merely appended; from then on they are a
// max-heap, so that a later, smaller one replaces the largest. A finding's
// reason is written only when the finding is kept: a report cut short of a
// hostile directory's million findings makes `limit` texts, not a million.
class Findings {
 public:
  explicit Findings(std::size_t keep) : limit(keep) {}

  // `reason()` gives the finding's text.
  template <class Reason>
  void Add(int entry, int other, FindingKind kind, Reason reason) {
    const Severity severity = SeverityOf(kind);
    ++report.total;
    if (severity == Severity::kError) {
      ++report.errors;
    }
    Kept next{Finding{entry, other, kind, severity, std::string()}, sequence++};
    if (kept.size() < limit) {
      next.finding.reason = reason();
      kept.push_back(std::move(next));
      if (kept.size() == limit) {
        std::make_heap(kept.begin(), kept.end(), Before);
      }
    } else if (!kept.empty() && Before(next, kept.front())) {
      next.finding.reason = reason();
      std::pop_heap(kept.begin(), kept.end(), Before);
      kept.back() = std::move(next);
      std::push_heap(kept.begin(), kept.end(), Before);
    }
  }

  LayoutReport Take() {
    if (kept.size() == limit) {
      std::sort_heap(kept.begin(), kept.end(), Before);
    } else {
      std::sort(kept.begin(), kept.end(), Before);
    }
    report.first.reserve(kept.size());
    for (Kept& one : kept) {
      report.first.push_back(std::move(one.finding));
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
  std::vector<Kept> kept;
  LayoutReport report;
};

std::size_t NameLength(const DirectoryRecord& record) {
  const void* nul = std::memchr(record.name, 0, kNameSize);
  return nul == nullptr ? kNameSize
                        : static_cast<std::size_t>(static_cast<const char*>(nul) - record.name);
}

std::string Named(std::string_view what, const DirectoryRecord* records, int index) {
  return Concat({what, "record ", Decimal(index), " (",
                 std::string_view(records[index].name, NameLength(records[index])), ")"});
}

// The texts of the findings about one entry's offsets, shared by the
// layout report and the rule of what is readable.
std::string InHeaderReason(std::int64_t start, std::int64_t dataBegin) {
  return Concat({"data start at byte ", Decimal(start), " inside the header and directory (",
                 Decimal(dataBegin), " bytes)"});
}

std::string PastEndReason(std::int64_t end, std::int64_t fileSize) {
  return Concat({"data end at byte ", Decimal(end), " past the end of the file (",
                 Decimal(fileSize), " bytes)"});
}

// Unsafe names, and over the records sorted by folded name: shadowed names
// (neighbours that compare equal) and names that are also the folder of
// another (each folder prefix looked up by binary search).
void CheckNames(const DirectoryRecord* records, int count, Findings& out) {
  FoldedNames folded;
  folded.Reserve(static_cast<std::size_t>(count), static_cast<std::size_t>(count) * 16);
  for (int i = 0; i < count; ++i) {
    const std::size_t length = NameLength(records[i]);
    const NameFault fault = CheckSafeName(records[i].name, length);
    if (fault != NameFault::kNone) {
      out.Add(i, -1, FindingKind::kUnsafeName, [fault] { return DescribeNameFault(fault); });
    }
    folded.Add(records[i].name, length);
  }
  const auto name = [&folded](int i) { return folded[static_cast<std::size_t>(i)]; };
  const std::vector<int> order = folded.SortedOrder();
  for (std::size_t k = 1; k < order.size(); ++k) {
    const int earlier = order[k - 1];
    const int later = order[k];
    if (name(earlier) == name(later)) {
      out.Add(later, earlier, FindingKind::kShadowedName,
              [&] { return Named("shadows ", records, earlier); });
    }
  }
  std::vector<int> clash(static_cast<std::size_t>(count), -1);
  for (int i = 0; i < count; ++i) {
    const std::string_view own = name(i);
    for (std::size_t p = own.find('/', 1); p != std::string_view::npos; p = own.find('/', p + 1)) {
      const std::string_view prefix = own.substr(0, p);
      const auto found =
          std::lower_bound(order.begin(), order.end(), prefix,
                           [&name](int r, std::string_view key) { return name(r) < key; });
      if (found != order.end() && name(*found) == prefix &&
          clash[static_cast<std::size_t>(*found)] < 0) {
        clash[static_cast<std::size_t>(*found)] = i;
        out.Add(*found, i, FindingKind::kPathClash,
                [&] { return Named("is also the folder of ", records, i); });
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
    out.Add(i, -1, FindingKind::kNegativeSize, [&] { return DescribeImpossibleRange(record); });
    return false;
  }
  if (end >= start && start < dataBegin) {
    out.Add(i, -1, FindingKind::kDataInHeader, [&] { return InHeaderReason(start, dataBegin); });
  }
  if (end >= start && end >= fileSize) {
    out.Add(i, -1, FindingKind::kDataPastEnd, [&] { return PastEndReason(end, fileSize); });
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
      out.Add(i, -1, FindingKind::kLayoutBreak, [&] {
        return Concat({"data start at byte ", Decimal(start), ", not at byte ", Decimal(expected),
                       " right after the previous entry's"});
      });
    }
    expected = end + 1;
  }
  if (expected < fileSize) {
    out.Add(count - 1, -1, FindingKind::kLayoutBreak, [&] {
      return Concat({Decimal(fileSize - expected), " bytes after the last entry's data"});
    });
  }
}

// Over the non-empty entries sorted by start: an entry that starts before
// the furthest end seen so far shares bytes with the entry that reaches it.
void CheckOverlaps(const DirectoryRecord* records, int count, Findings& out) {
  std::vector<int> order;
  order.reserve(static_cast<std::size_t>(count));
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
      out.Add(i, owner, FindingKind::kOverlap,
              [&] { return Named("data overlap ", records, owner); });
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
    return Concat(
        {"data end at byte ", Decimal(end), " before the start at byte ", Decimal(start)});
  }
  if (start < 0) {
    return Concat({"data start at byte ", Decimal(start), " before the start of the file"});
  }
  return "";
}

// Asked before every read of an entry: it allocates nothing unless it has a
// reason to give.
ErrorCode CheckReadable(const DirectoryRecord& record, std::int32_t count, std::int64_t fileSize,
                        std::string* reason) {
  const std::int64_t start = record.dataStart;
  const std::int64_t end = record.dataEnd;
  if (end < start - 1 || start < 0) {
    if (reason != nullptr) {
      *reason = DescribeImpossibleRange(record);
    }
    return ErrorCode::kImpossibleRange;
  }
  const std::int64_t dataBegin = DirectoryEnd(count);
  if (end >= start && start < dataBegin) {
    if (reason != nullptr) {
      *reason = Concat(
          {DescribeFinding(FindingKind::kDataInHeader), ": ", InHeaderReason(start, dataBegin)});
    }
    return ErrorCode::kDamagedEntry;
  }
  if (!FileBacksEntry(record, fileSize)) {
    if (reason != nullptr) {
      *reason = Concat({"truncated at byte ", Decimal(fileSize)});
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

}  // namespace multifile
}  // namespace RXM
