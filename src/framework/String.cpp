#include "framework/String.h"

#include <cstring>
#include <new>
#include <utility>

namespace {

// The empty string is held as no characters at all (GetText gives ""), so
// that the strings made empty, as most statuses' messages are, cost no
// allocation.
char* CopyOf(const char* text) {
  if (text == nullptr || text[0] == '\0') {
    return nullptr;
  }
  const std::size_t length = std::strlen(text);
  char* copy = new char[length + 1];
  std::memcpy(copy, text, length + 1);
  return copy;
}

}  // namespace

String::String(const char* characters) : text(CopyOf(characters)) {}

String::String(const String& other) : text(CopyOf(other.text)) {}

// A moved-from string is empty, never null.
String::String(String&& other) noexcept : text(std::exchange(other.text, nullptr)) {}

String::~String() {
  delete[] text;
}

const String String::operator=(const String& other) {
  if (this != &other) {
    char* copy = CopyOf(other.text);
    delete[] text;
    text = copy;
  }
  return *this;
}

String& String::operator=(String&& other) noexcept {
  std::swap(text, other.text);
  return *this;
}

const char* String::GetText() const {
  return text != nullptr ? text : "";
}

int String::GetLength() const {
  return static_cast<int>(std::strlen(GetText()));
}

String operator+(const String& left, const String& right) {
  const std::size_t leftLength = std::strlen(left.GetText());
  const std::size_t rightLength = std::strlen(right.GetText());
  char* joined = new char[leftLength + rightLength + 1];
  std::memcpy(joined, left.GetText(), leftLength);
  std::memcpy(joined + leftLength, right.GetText(), rightLength + 1);
  String result(joined);
  delete[] joined;
  return result;
}
