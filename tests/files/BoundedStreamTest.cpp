// The one stream core under each front's policy: what they share, checked
// once against an independent model, and where they differ, as a table.
#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "files/BoundedStream.h"
#include "files/StreamModel.h"

namespace {

using RXM::BoundedStream;
using RXM::StreamPolicy;

// The bytes of `text`, of which only the first `available` can be read (a
// file that shrank under its streams).
class TextSource final : public RXM::ByteSource {
 public:
  explicit TextSource(std::string bytes) : text(std::move(bytes)), available(text.size()) {}
  std::size_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const override {
    const std::size_t end = offset + size < available ? offset + size : available;
    const std::size_t got = offset < end ? end - offset : 0;
    std::memcpy(buffer, text.data() + offset, got);
    return got;
  }
  std::string text;
  std::size_t available;
};

struct Front {
  const char* name;
  StreamPolicy policy;
};

// Printed by what names the case: googletest would dump its bytes, unset
// padding among them.
void PrintTo(const Front& c, std::ostream* out) {
  *out << c.name;
}

// The policies of MultiFile's open entry, EntryStream and ResourceFile.
const std::vector<Front> kFronts = {
    {"Element",
     {RXM::ZeroSizeItems::kNoneRead, RXM::UnknownOrigin::kRefused, RXM::WhenClosed::kEmptyAndAtEnd,
      RXM::ShortRead::kCounted}},
    {"Entry",
     {RXM::ZeroSizeItems::kNoneRead, RXM::UnknownOrigin::kRefused, RXM::WhenClosed::kEmptyAndAtEnd,
      RXM::ShortRead::kEnds}},
    {"Resource",
     {RXM::ZeroSizeItems::kAllFit, RXM::UnknownOrigin::kIgnored, RXM::WhenClosed::kLastSizeNotAtEnd,
      RXM::ShortRead::kCounted}},
};

class BoundedStreamTest : public testing::TestWithParam<Front> {
 protected:
  // Ten bytes "0123456789" at offset 3 of the source.
  BoundedStreamTest() : stream(GetParam().policy) { stream.Open(source.get(), 3, 10); }
  std::shared_ptr<TextSource> source = std::make_shared<TextSource>("abc0123456789xyz");
  BoundedStream stream;
};

std::string Read(BoundedStream& stream, std::uint32_t size, std::uint32_t count,
                 std::uint32_t* items) {
  std::string buffer(size * count, '\0');
  *items = stream.Read(buffer.data(), size, count);
  return buffer.substr(0, *items * size);
}

// The cases every front answers alike, one after another on one stream.
TEST_P(BoundedStreamTest, ReadsWholeItemsAndClampsSeeksIntoTheWindow) {
  struct Step {
    char op;  // 'r': Read(a, b); 's': Seek(a, b)
    long a;
    long b;
    std::uint32_t result;  // items read, or whether the seek succeeded
    std::string bytes;
    std::int32_t position;
    bool atEnd;
  };
  const std::vector<Step> steps = {
      {'r', 4, 3, 2, "01234567", 8, false},  {'r', 4, 1, 0, "", 8, false},
      {'r', 1, 4, 2, "89", 10, true},        {'s', -5, 0, 1, "", 0, false},
      {'s', 50, 0, 1, "", 10, true},         {'s', 3, 2, 1, "", 10, true},
      {'s', -3, 2, 1, "", 7, false},         {'s', -50, 1, 1, "", 0, false},
      {'s', 2147483647, 1, 1, "", 10, true}, {'s', -2147483647 - 1L, 2, 1, "", 0, false},
      {'s', -4, 2, 1, "", 6, false},         {'r', 1, 4, 4, "6789", 10, true},
      {'s', 2, 0, 1, "", 2, false},          {'r', 3, 0, 0, "", 2, false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(1, step.op) + "(" + std::to_string(step.a) + ", " +
                 std::to_string(step.b) + ")");
    if (step.op == 'r') {
      std::uint32_t items = 0;
      EXPECT_EQ(Read(stream, static_cast<std::uint32_t>(step.a), static_cast<std::uint32_t>(step.b),
                     &items),
                step.bytes);
      EXPECT_EQ(items, step.result);
    } else {
      EXPECT_EQ(stream.Seek(step.a, static_cast<int>(step.b)), step.result != 0);
    }
    EXPECT_EQ(stream.Position(), step.position);
    EXPECT_EQ(stream.AtEnd(), step.atEnd);
    EXPECT_EQ(stream.Size(), 10u);
  }
}

// Random reads and seeks against a model that knows only the text and a
// clamped position.
TEST_P(BoundedStreamTest, AgreesWithAModelForRandomReadsAndSeeks) {
  testing_support::StreamModel model{"0123456789"};
  std::mt19937 random(7);
  for (int step = 0; step < 2000; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    if (random() % 2 == 0) {
      const std::uint32_t size = random() % 4;
      const std::uint32_t count = random() % 5;
      std::uint32_t items = 0;
      const std::string bytes = Read(stream, size, count, &items);
      if (size != 0) {
        ASSERT_EQ(bytes, model.Read(size, count));
      }
    } else {
      const long offset = static_cast<long>(random() % 31) - 15;
      const int origin = static_cast<int>(random() % 3);
      ASSERT_TRUE(stream.Seek(offset, origin));
      model.Seek(offset, origin);
    }
    ASSERT_EQ(stream.Position(), model.at);
    ASSERT_EQ(stream.AtEnd(), model.at == 10);
  }
}

INSTANTIATE_TEST_SUITE_P(Fronts, BoundedStreamTest, testing::ValuesIn(kFronts),
                         [](const testing::TestParamInfo<Front>& front) {
                           return front.param.name;
                         });

// Where the fronts differ, each by a named choice of its policy.
TEST(BoundedStreamPolicyTest, EachFrontsChoicesAnswerAsItsOwnRulesSay) {
  struct Row {
    const char* front;
    std::uint32_t zeroSizeItems;  // Read(buffer, 0, 5)
    bool unknownOrigin;           // Seek(2, 3), the position unmoved
    bool endAfterShortRead;       // the source shrank to 4 bytes of the window
    std::uint32_t closedSize;
    bool closedAtEnd;
  };
  const std::vector<Row> rows = {
      {"Element", 0, false, false, 0, true},
      {"Entry", 0, false, true, 0, true},
      {"Resource", 5, true, false, 10, false},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.front);
    auto source = std::make_shared<TextSource>("abc0123456789xyz");
    BoundedStream stream(kFronts[i].policy);
    stream.Open(source.get(), 3, 10);
    char buffer[16];
    ASSERT_TRUE(stream.Seek(1, 0));
    EXPECT_EQ(stream.Read(buffer, 0, 5), row.zeroSizeItems);
    EXPECT_EQ(stream.Seek(2, 3), row.unknownOrigin);
    EXPECT_EQ(stream.Position(), 1);

    source->available = 3 + 4;
    EXPECT_EQ(stream.Read(buffer, 2, 4), 1u);  // "12" whole; "3" only partly there
    EXPECT_EQ(std::string(buffer, 2), "12");
    EXPECT_EQ(stream.Position(), 3);
    EXPECT_EQ(stream.AtEnd(), row.endAfterShortRead);
    EXPECT_EQ(stream.Ended(), row.endAfterShortRead);
    stream.Open(source.get(), 3, 10);  // opening again forgets the end
    EXPECT_FALSE(stream.AtEnd());

    EXPECT_TRUE(stream.Seek(6, 0));
    EXPECT_TRUE(stream.Close());
    EXPECT_FALSE(stream.Close());
    EXPECT_EQ(stream.Size(), row.closedSize);
    EXPECT_EQ(stream.AtEnd(), row.closedAtEnd);
    EXPECT_EQ(stream.Position(), 6);
    EXPECT_EQ(stream.Read(buffer, 1, 1), 0u);
    EXPECT_EQ(stream.Read(buffer, 0, 1), 0u);
    EXPECT_FALSE(stream.Seek(0, 0));
  }
}

// A window that starts before the source (a damaged record) reads nothing,
// and a source that cannot follow a move leaves the stream where it was.
TEST(BoundedStreamPolicyTest, BytesOutsideTheSourceAreNeverAskedFor) {
  class Refusing final : public RXM::ByteSource {
   public:
    std::size_t ReadAt(void*, std::size_t, std::uint64_t) const override {
      ADD_FAILURE() << "read outside the source";
      return 0;
    }
    bool Follow(std::int64_t, std::int64_t, bool) const override { return false; }
  };
  for (const Front& front : kFronts) {
    const Refusing refusing;
    BoundedStream stream(front.policy);
    stream.Open(&refusing, -20, 10);
    char buffer[10];
    EXPECT_EQ(stream.Read(buffer, 1, 10), 0u) << front.name;
    EXPECT_FALSE(stream.Seek(5, 0)) << front.name;
    EXPECT_EQ(stream.Position(), 0) << front.name;
  }
}

}  // namespace
