// The hostile archives, made byte by byte, each with its one outcome: shared
// by the tests that read them from disk and over the network.
#ifndef RXMFILES_TESTS_MULTIFILE_HOSTILECORPUS_H
#define RXMFILES_TESTS_MULTIFILE_HOSTILECORPUS_H

#include <climits>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "multifile/ArchiveBytes.h"

namespace testing_support {

using Code = RXM::ErrorCode;

// Per entry, what each reader does with it. The element stream (OpenFile)
// opens whatever a record names, as programs written for it expect; every
// other reader (OpenEntry, the search path, ExtractToFile, the writers that
// keep entries) asks one rule first and refuses an entry whose bytes are not
// its own, with the code RefusalOf gives:
//  'x' OpenFile does not find it (its file refuses the seek): the data start
//      before the file;
//  'n' OpenFile finds it and reads nothing: its size is negative;
//  'h' OpenFile reads the bytes it names, which are the header's or the
//      directory's;
//  't' OpenFile finds it, but its bytes run past the file's end;
//  'r' read by every reader as empty, but not extracted (nothing to read
//      whole);
//  'e' read and extracted.
// An insertion copies every entry through the element stream, so it succeeds
// exactly when all are 'e' or 'h'.
struct Hostile {
  std::string label;
  Bytes bytes;
  Code open;
  std::vector<std::string> reads;  // what each entry gives read whole
  std::string entries;
};

// The code with which every reader but the element stream refuses an entry
// of outcome `outcome`; kOk for one it reads.
inline Code RefusalOf(char outcome) {
  switch (outcome) {
    case 'x':
    case 'n':
      return Code::kImpossibleRange;
    case 'h':
      return Code::kDamagedEntry;
    case 't':
      return Code::kTruncated;
    default:
      return Code::kOk;
  }
}

inline void PrintTo(const Hostile& hostile, std::ostream* out) {
  *out << hostile.label;
}

inline const Bytes kGood = Archive({{"a", "abc"}, {"b", "12345"}});  // data at 168..175
constexpr std::int32_t kData = 8 + 80;  // data of a one-record archive; of two, at 168

inline Hostile Refused(const std::string& label, const Bytes& bytes, Code code) {
  return {label, bytes, code, {}, ""};
}

inline Hostile Opened(const std::string& label, const Bytes& bytes, std::vector<std::string> reads,
                      const std::string& entries) {
  return {label, bytes, Code::kOk, std::move(reads), entries};
}

inline const Hostile kCorpus[] = {
    Refused("empty file", {}, Code::kNotAnArchive),
    Refused("one byte", {'K'}, Code::kNotAnArchive),
    Refused("magic alone", BytesOf("KYMF"), Code::kNotAnArchive),
    Refused("magic and half a count", {'K', 'Y', 'M', 'F', 1, 0}, Code::kNotAnArchive),
    Refused("wrong magic", With(kGood, 0, BytesOf("KYMG")), Code::kNotAnArchive),
    Refused("magic in other case", With(kGood, 0, BytesOf("kymf")), Code::kNotAnArchive),
    Refused("magic backwards", With(kGood, 0, BytesOf("FMYK")), Code::kNotAnArchive),
    Refused("count -1", With(kGood, 4, Int32(-1)), Code::kCountBeyondFile),
    Refused("count INT32_MIN", With(kGood, 4, Int32(INT32_MIN)), Code::kCountBeyondFile),
    Refused("count INT32_MAX", With(kGood, 4, Int32(INT32_MAX)), Code::kCountBeyondFile),
    Refused("count 2^24 in a small file", With(kGood, 4, Int32(1 << 24)), Code::kCountBeyondFile),
    Refused("count one past the records", With(kGood, 4, Int32(3)), Code::kCountBeyondFile),
    Refused("directory cut inside a record", Bytes(kGood.begin(), kGood.begin() + 8 + 80 + 79),
            Code::kCountBeyondFile),
    Refused("directory cut at a record's start", Bytes(kGood.begin(), kGood.begin() + 8 + 80),
            Code::kCountBeyondFile),
    Refused("first name without a NUL", With(kGood, 8, Bytes(70, 'x')), Code::kUnterminatedName),
    Refused("second name without a NUL", With(kGood, 88, Bytes(70, 0xFF)), Code::kUnterminatedName),
    Opened("no entries, trailing bytes", With(Header(0), 8, BytesOf("garbage")), {}, ""),
    Opened("well formed with trailing bytes", With(kGood, kGood.size(), BytesOf("tail")),
           {"abc", "12345"}, "ee"),
    Opened("offsets past the end", Raw({{"p", 1000, 1009}}, "xyz"), {""}, "t"),
    Opened("end past the end", Raw({{"p", kData, kData + 100}}, "xyz"), {"xyz"}, "t"),
    Opened("start before the file", Raw({{"n", -10, 5}}, "xyz"), {""}, "x"),
    Opened("start INT32_MIN", Raw({{"n", INT32_MIN, INT32_MIN + 3}}, "xyz"), {""}, "x"),
    Opened("negative size", Raw({{"n", kData + 2, kData}}, "xyz"), {""}, "n"),
    Opened("hugely negative size", Raw({{"n", INT32_MAX, INT32_MIN}}, "xyz"), {""}, "n"),
    Opened("size near 2 GB", Raw({{"h", kData, INT32_MAX}}, "xyz"), {"xyz"}, "t"),
    Opened("empty entry", Raw({{"e", kData, kData - 1}}, "xyz"), {""}, "r"),
    Opened("data inside the header", Raw({{"h", 0, 3}}, ""), {"KYMF"}, "h"),
    Opened("data inside the directory", Raw({{"d", 8, 12}}, ""), {std::string("d\0\0\0\0", 5)},
           "h"),
    Opened("data across the directory's end", Raw({{"d", kData - 2, kData + 1}}, "xy"),
           {std::string("\0\0xy", 4)}, "h"),
    Opened("empty entry inside the header", Raw({{"e", 4, 3}}, "z"), {""}, "r"),
    Opened("overlapping entries", Raw({{"x", 168, 171}, {"y", 169, 172}}, "01234"),
           {"0123", "1234"}, "ee"),
    Opened("equal names, later wins", Raw({{"same", 168, 168}, {"SAME", 169, 169}}, "12"),
           {"2", "2"}, "ee"),
    Opened("entries out of order", Raw({{"b", 170, 171}, {"a", 168, 169}}, "aabb"), {"bb", "aa"},
           "ee"),
    Opened("name of 69 characters", Raw({{std::string(69, 'n'), kData, kData}}, "z"), {"z"}, "e"),
    Opened("empty name", Raw({{"", kData, kData}}, "z"), {"z"}, "e"),
    Opened("name with bytes above 127", Raw({{"\xC3\xA9\xFF", kData, kData}}, "z"), {"z"}, "e"),
};

}  // namespace testing_support

#endif  // RXMFILES_TESTS_MULTIFILE_HOSTILECORPUS_H
