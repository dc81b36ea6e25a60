#include "support/HexName.h"

#include "support/NameEscaping.h"

namespace kymf {
namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

}  // namespace

std::string HexOf(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

bool FromHex(std::string_view hex, std::string& bytes) {
  if (hex.size() % 2 != 0) {
    return false;
  }
  bytes.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = DigitValue(hex[i]);
    const int low = DigitValue(hex[i + 1]);
    if (high < 0 || low < 0) {
      return false;
    }
    bytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

bool ReadPatterns(const std::vector<std::string>& given, bool hex, Reporter& reporter,
                  std::vector<std::string>& patterns) {
  patterns = given;
  if (!hex) {
    return true;
  }
  for (std::string& pattern : patterns) {
    std::string name;
    if (!FromHex(pattern, name)) {
      reporter.Usage("--hex: not hexadecimal digits: " + EscapeName(pattern));
      return false;
    }
    pattern = name;
  }
  return true;
}

}  // namespace kymf
