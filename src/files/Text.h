// Message texts built in one allocation. A chain of `+` makes a temporary
// and may grow it at every step; the messages of a hostile archive's
// directory are made by the thousand, so their parts are measured first and
// copied once.
#ifndef RXMFILES_FILES_TEXT_H
#define RXMFILES_FILES_TEXT_H

#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace RXM {

// A number's decimal digits (a '-' first when negative), held in place.
class Decimal {
 public:
  // `digits` is declared first: it is made before `length` is written into it.
  explicit Decimal(std::int64_t value)
      : digits{},
        length(static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr -
                                        digits)) {}
  operator std::string_view() const { return std::string_view(digits, length); }

 private:
  char digits[20];  // INT64_MIN: a sign and 19 digits
  std::size_t length;
};

// The parts, one after the other.
inline std::string Concat(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (const std::string_view part : parts) {
    size += part.size();
  }
  std::string text;
  text.reserve(size);
  for (const std::string_view part : parts) {
    text.append(part.data(), part.size());
  }
  return text;
}

}  // namespace RXM

#endif  // RXMFILES_FILES_TEXT_H
