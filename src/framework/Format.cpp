#include "framework/Format.h"

#include <cstdio>
#include <vector>

namespace RXM {

String FormatV(const char* format, va_list arguments) {
  if (format == nullptr) {
    return String();
  }
  va_list measure;
  va_copy(measure, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) {
    return String();
  }
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  (void)std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
  return String(buffer.data());
}

}  // namespace RXM
