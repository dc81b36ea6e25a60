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

// Per entry: 'x' not found by its name (its file refuses the seek, and
// OpenEntry refuses it as truncated), 't' found but not extracted, and
// refused by OpenEntry (its bytes run past the file's end), 'r' found but not
// extracted (it cannot be read whole), 'e' found and extracted. An insertion
// copies every entry whole, so it succeeds exactly when all are 'e'.
struct Hostile {
  std::string label;
  Bytes bytes;
  Code open;
  std::vector<std::string> reads;  // what each entry gives read whole
  std::string entries;
};

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
    Opened("negative size", Raw({{"n", kData + 2, kData}}, "xyz"), {""}, "r"),
    Opened("hugely negative size", Raw({{"n", INT32_MAX, INT32_MIN}}, "xyz"), {""}, "t"),
    Opened("size near 2 GB", Raw({{"h", kData, INT32_MAX}}, "xyz"), {"xyz"}, "t"),
    Opened("empty entry", Raw({{"e", kData, kData - 1}}, "xyz"), {""}, "r"),
    Opened("data inside the header", Raw({{"h", 0, 3}}, ""), {"KYMF"}, "e"),
    Opened("data inside the directory", Raw({{"d", 8, 12}}, ""), {std::string("d\0\0\0\0", 5)},
           "e"),
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
