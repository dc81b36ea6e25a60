// What a bounded stream over `text` must answer, known independently of the
// stream's code: a position clamped into the text and whole items read.
#ifndef RXMFILES_TESTS_FILES_STREAMMODEL_H
#define RXMFILES_TESTS_FILES_STREAMMODEL_H

#include <cstdint>
#include <random>
#include <string>

#include "files/KYFile.h"

namespace testing_support {

struct StreamModel {
  std::string text;
  std::int64_t at = 0;

  // The bytes Read(size, count) delivers; moves on past them.
  std::string Read(std::uint32_t size, std::uint32_t count) {
    const auto left = static_cast<std::int64_t>(text.size()) - at;
    const std::int64_t items = size == 0 ? 0 : std::min<std::int64_t>(count, left / size);
    const std::string bytes = text.substr(static_cast<std::size_t>(at), items * size);
    at += items * size;
    return bytes;
  }
  void Seek(long offset, int origin) {
    const std::int64_t base = origin == 0 ? 0 : origin == 1 ? at : text.size();
    const std::int64_t target = base + offset;
    const auto end = static_cast<std::int64_t>(text.size());
    at = target < 0 ? 0 : target > end ? end : target;
  }
};

// Drives `file` with `steps` random reads and seeks (origins 0 to 2) and
// checks each answer against the model of `text`.
inline void CheckAgainstModel(KYFile& file, const std::string& text, int steps,
                              std::uint32_t seed) {
  StreamModel model{text};
  std::mt19937 random(seed);
  const long size = static_cast<long>(text.size());
  for (int step = 0; step < steps; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    if (random() % 2 == 0) {
      const std::uint32_t itemSize = 1 + random() % 12;
      const std::uint32_t count = random() % 9;
      std::string buffer(itemSize * count, 'x');
      const std::string expected = model.Read(itemSize, count);
      const unsigned int items = file.ReadData(buffer.data(), itemSize, count);
      ASSERT_EQ(buffer.substr(0, items * itemSize), expected);
    } else {
      const long offset = static_cast<long>(random() % (2 * size + 11)) - size - 5;
      const int origin = static_cast<int>(random() % 3);
      ASSERT_TRUE(file.Seek(offset, origin));
      model.Seek(offset, origin);
    }
    ASSERT_EQ(file.GetPosition(), model.at);
    ASSERT_EQ(file.EndOfFile(), model.at == size);
    ASSERT_EQ(file.GetFileSize(), static_cast<unsigned int>(size));
  }
}

}  // namespace testing_support

#endif  // RXMFILES_TESTS_FILES_STREAMMODEL_H
