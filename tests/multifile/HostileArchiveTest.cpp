// A corpus of hostile archives, made here byte by byte, each with the result
// it must give: refused when opened, or opened with entries that read short
// or not at all. Every entry of every archive that opens is then opened,
// read with several item sizes, sought every way, extracted and inserted
// beside, which must neither crash nor read outside the file (ASan).
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "RXMFiles.h"
#include "TestSupport.h"
#include "multifile/ArchiveBytes.h"

namespace {

using namespace testing_support;

struct Hostile {
  std::string label;
  Bytes bytes;
  bool opens;
  // For an archive that opens: the bytes each entry gives when read whole
  // ("" when it cannot be opened or reads nothing).
  std::vector<std::string> reads;
};

Bytes Int32(std::int32_t value) {
  return LittleEndian(static_cast<std::uint32_t>(value));
}

// An archive with records given as (name, dataStart, dataEnd) and `data`
// after the directory.
Bytes Raw(const std::vector<std::tuple<std::string, std::int32_t, std::int32_t>>& records,
          const std::string& data, std::int32_t count = -1) {
  Bytes bytes = Header(count >= 0 ? count : static_cast<std::int32_t>(records.size()));
  for (const auto& [name, start, end] : records)
    Append(bytes, Record(name, start, end));
  Append(bytes, BytesOf(data));
  return bytes;
}

std::vector<Hostile> Corpus() {
  const Bytes good = Archive({{"a", "abc"}, {"b", "12345"}});  // data at 168..175
  const Bytes noNul = With(good, 8, Bytes(70, 'x'));
  const Bytes noNulSecond = With(good, 88, Bytes(70, 0xFF));
  const std::int32_t d1 = 8 + 80;  // data of a one-record archive
  return {
      // Refused at open.
      {"empty file", {}, false, {}},
      {"one byte", {'K'}, false, {}},
      {"magic alone", BytesOf("KYMF"), false, {}},
      {"magic and half a count", {'K', 'Y', 'M', 'F', 1, 0}, false, {}},
      {"wrong magic", With(good, 0, BytesOf("KYMG")), false, {}},
      {"magic in other case", With(good, 0, BytesOf("kymf")), false, {}},
      {"magic backwards", With(good, 0, BytesOf("FMYK")), false, {}},
      {"count -1", With(good, 4, Int32(-1)), false, {}},
      {"count INT32_MIN", With(good, 4, Int32(INT32_MIN)), false, {}},
      {"count INT32_MAX", With(good, 4, Int32(INT32_MAX)), false, {}},
      {"count 2^24 in a small file", With(good, 4, Int32(1 << 24)), false, {}},
      {"count one past the records", With(good, 4, Int32(3)), false, {}},
      {"directory cut inside a record", Bytes(good.begin(), good.begin() + 8 + 80 + 79), false, {}},
      {"directory cut at a record's start", Bytes(good.begin(), good.begin() + 8 + 80), false, {}},
      {"first name without a NUL", noNul, false, {}},
      {"second name without a NUL", noNulSecond, false, {}},
      // Open, and read what the file backs.
      {"no entries, trailing bytes", With(Header(0), 8, BytesOf("garbage")), true, {}},
      {"well formed with trailing bytes",
       With(good, good.size(), BytesOf("tail")),
       true,
       {"abc", "12345"}},
      {"offsets past the end", Raw({{"p", 1000, 1009}}, "xyz"), true, {""}},
      {"end past the end", Raw({{"p", d1, d1 + 100}}, "xyz"), true, {"xyz"}},
      {"start before the file", Raw({{"n", -10, 5}}, "xyz"), true, {""}},
      {"start INT32_MIN", Raw({{"n", INT32_MIN, INT32_MIN + 3}}, "xyz"), true, {""}},
      {"negative size", Raw({{"n", d1 + 2, d1}}, "xyz"), true, {""}},
      {"hugely negative size", Raw({{"n", INT32_MAX, INT32_MIN}}, "xyz"), true, {""}},
      {"size near 2 GB", Raw({{"h", d1, INT32_MAX}}, "xyz"), true, {"xyz"}},
      {"empty entry", Raw({{"e", d1, d1 - 1}}, "xyz"), true, {""}},
      {"data inside the header", Raw({{"h", 0, 3}}, ""), true, {"KYMF"}},
      {"data inside the directory", Raw({{"d", 8, 12}}, ""), true, {std::string("d\0\0\0\0", 5)}},
      {"overlapping entries",
       Raw({{"x", d1 + 80, d1 + 83}, {"y", d1 + 81, d1 + 84}}, "01234"),
       true,
       {"0123", "1234"}},
      {"equal names, later wins",
       Raw({{"same", d1 + 80, d1 + 80}, {"SAME", d1 + 81, d1 + 81}}, "12"),
       true,
       {"2", "2"}},
      {"entries out of order",
       Raw({{"b", d1 + 82, d1 + 83}, {"a", d1 + 80, d1 + 81}}, "aabb"),
       true,
       {"bb", "aa"}},
      {"name of 69 characters", Raw({{std::string(69, 'n'), d1, d1}}, "z"), true, {"z"}},
      {"empty name", Raw({{"", d1, d1}}, "z"), true, {"z"}},
      {"name with bytes above 127", Raw({{"\xC3\xA9\xFF", d1, d1}}, "z"), true, {"z"}},
  };
}

TEST(HostileArchiveTest, EachIsRefusedOrReadOnlyAsFarAsTheFileBacksIt) {
  TempDir dir;
  DebuggerCapture debugger;
  const std::vector<Hostile> corpus = Corpus();
  ASSERT_GE(corpus.size(), 30u);
  for (const Hostile& hostile : corpus) {
    SCOPED_TRACE(hostile.label);
    const std::string path = dir.Path("hostile.kymf");
    WriteAll(path, hostile.bytes);
    MultiFile archive;
    ASSERT_EQ(archive.OpenMultiFile(Pointer<KYFile>(), path.c_str()), hostile.opens);
    if (!hostile.opens) {
      EXPECT_EQ(archive.GetDirectory().GetCount(), 0);
      continue;
    }
    const PointerArray<MultiFileElement>& directory = archive.GetDirectory();
    ASSERT_EQ(directory.GetCount(), static_cast<int>(hostile.reads.size()));
    char buffer[64];
    for (int i = 0; i < directory.GetCount(); ++i) {
      const String name(directory.GetAt(i)->name);
      std::string read;
      if (archive.OpenFile(name, "rb")) {
        unsigned int got = 0;
        while ((got = archive.ReadData(buffer, 1, sizeof buffer)) > 0)
          read.append(buffer, got);
        for (long offset : {-1L, 3L, static_cast<long>(INT32_MAX), static_cast<long>(INT32_MIN)}) {
          for (int origin = 0; origin < 3; ++origin) {
            archive.Seek(offset, origin);
            EXPECT_LE(static_cast<unsigned long>(archive.GetPosition()), archive.GetFileSize());
            archive.ReadData(buffer, 7, 2);
          }
        }
        archive.ExtractToFile(dir.Path("out").c_str());
      }
      EXPECT_EQ(read, hostile.reads[static_cast<std::size_t>(i)]) << "entry " << i;
    }
    // Inserting beside a hostile archive either refuses or writes a file that
    // opens again with one entry more.
    WriteAll(dir.Path("input"), "new");
    bool inserted = false;
    try {
      inserted = archive.InsertFile(Pointer<KYFile>(), dir.Path("input").c_str(), "inserted");
    } catch (Exception* e) {
      delete e;
    }
    if (inserted) {
      EXPECT_EQ(archive.GetDirectory().GetCount(), static_cast<int>(hostile.reads.size()) + 1);
      ASSERT_TRUE(archive.OpenFile("inserted", "rb"));
      EXPECT_EQ(archive.ReadData(buffer, 3, 1), 1u);
    }
  }
  EXPECT_TRUE(debugger->printed.empty());  // refusals are silent
}

}  // namespace
