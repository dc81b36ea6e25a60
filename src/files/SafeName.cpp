#include "files/SafeName.h"

#include <cstring>

namespace RXM {
namespace {

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The fault of one "/"-free component.
NameFault CheckComponent(const char* begin, std::size_t length) {
  if (length == 0 || (length == 1 && begin[0] == '.')) {
    return NameFault::kDotComponent;
  }
  if (length == 2 && begin[0] == '.' && begin[1] == '.') {
    return NameFault::kParentComponent;
  }
  return NameFault::kNone;
}

// Bytes that need a second look in a name: control characters, "\\" and
// the separator. Everything else (most bytes of every name) costs one load.
struct SpecialBytes {
  bool special[256] = {};
  constexpr SpecialBytes() {
    for (int byte = 0; byte < 0x20; ++byte) {
      special[byte] = true;
    }
    special[0x7f] = true;
    special[static_cast<unsigned char>('\\')] = true;
    special[static_cast<unsigned char>('/')] = true;
  }
};
constexpr SpecialBytes kSpecial;

}  // namespace

// One pass, as every name of an archive is checked when it is listed or
// mounted. A control character or a backslash anywhere outranks a bad
// component before it, so the first component fault is kept until the end.
NameFault CheckSafeName(const char* name, std::size_t length) {
  if (length == 0) {
    return NameFault::kEmpty;
  }
  if (name[0] == '/') {
    return NameFault::kAbsolute;
  }
  if (length >= 2 && IsLetter(name[0]) && name[1] == ':') {
    return NameFault::kDriveLetter;
  }
  NameFault component = NameFault::kNone;
  std::size_t start = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (!kSpecial.special[byte]) {
      continue;
    }
    if (byte == '\\') {
      return NameFault::kBackslash;
    }
    if (byte != '/') {
      return NameFault::kControlCharacter;
    }
    if (component == NameFault::kNone) {
      component = CheckComponent(name + start, i - start);
    }
    start = i + 1;
  }
  return component != NameFault::kNone ? component : CheckComponent(name + start, length - start);
}

NameFault CheckSafeName(const char* name) {
  return CheckSafeName(name, std::strlen(name));
}

bool IsDeviceName(const std::string& component) {
  if (component.find(':') != std::string::npos) {
    return true;
  }
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') {
    base.pop_back();
  }
  for (char& c : base) {
    c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (base == device) {
      return true;
    }
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '0' && base[3] <= '9';
}

const char* DescribeNameFault(NameFault fault) {
  switch (fault) {
    case NameFault::kNone:
      return "is safe";
    case NameFault::kEmpty:
      return "is empty";
    case NameFault::kAbsolute:
      return "is absolute";
    case NameFault::kDriveLetter:
      return "begins with a drive letter";
    case NameFault::kBackslash:
      return "holds a backslash";
    case NameFault::kParentComponent:
      return "has a \"..\" component";
    case NameFault::kDotComponent:
      return "has an empty or \".\" component";
    case NameFault::kControlCharacter:
      return "holds a control character";
  }
  return "is unsafe";
}

}  // namespace RXM
