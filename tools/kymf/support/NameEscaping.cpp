#include "support/NameEscaping.h"

#include <cstdio>

namespace kymf {
namespace {

unsigned char At(std::string_view text, std::size_t index) {
  return static_cast<unsigned char>(text[index]);
}

bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// The short escape of a control character ('n' for a line feed), or 0.
char ShortEscape(unsigned char c) {
  switch (c) {
    case '\a':
      return 'a';
    case '\b':
      return 'b';
    case '\t':
      return 't';
    case '\n':
      return 'n';
    case '\v':
      return 'v';
    case '\f':
      return 'f';
    case '\r':
      return 'r';
    default:
      return 0;
  }
}

void AppendOctal(std::string& out, unsigned char c) {
  char escaped[8];
  (void)std::snprintf(escaped, sizeof escaped, "\\%03o", static_cast<unsigned>(c));
  out += escaped;
}

void AppendJsonByte(std::string& out, unsigned char c) {
  char escaped[8];
  (void)std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
  out += escaped;
}

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text) {
  const unsigned char lead = At(text, 0);
  if (lead < 0x80) {
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
    high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong forms
    high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length || At(text, 1) < low || At(text, 1) > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (!IsContinuation(At(text, i))) {
      return 0;
    }
  }
  return length;
}

namespace {

// Writes the byte `c` (the lead of a valid UTF-8 sequence of `length` bytes,
// or a stray byte when `length` is 0; `next` follows it) to `out` in its
// escaped form; false when it is shown as it is.
using ByteEscape = bool (*)(std::string& out, unsigned char c, std::size_t length,
                            unsigned char next);

bool EscapeNameByte(std::string& out, unsigned char c, std::size_t length, unsigned char next) {
  // U+0080 to U+009F (C2 80 to C2 9F) are controls too.
  const bool c1Control = length == 2 && c == 0xC2 && next < 0xA0;
  if (c == '\\') {
    out += "\\\\";
  } else if (ShortEscape(c) != 0) {
    out += '\\';
    out += ShortEscape(c);
  } else if (length == 0 || IsControl(c) || c1Control) {
    AppendOctal(out, c);
  } else {
    return false;
  }
  return true;
}

bool EscapeJsonByte(std::string& out, unsigned char c, std::size_t length, unsigned char) {
  if (c == '"' || c == '\\') {
    out += '\\';
    out += static_cast<char>(c);
  } else if (c == '\n' || c == '\t' || c == '\r') {
    out += '\\';
    out += ShortEscape(c);
  } else if (length == 0 || IsControl(c)) {
    AppendJsonByte(out, c);
  } else {
    return false;
  }
  return true;
}

// `text` with each whole UTF-8 sequence copied as it is unless `escape`
// writes its first byte in another form.
std::string Escaped(std::string_view text, ByteEscape escape) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t length = Utf8SequenceLength(text.substr(i));
    if (escape(out, At(text, i), length, i + 1 < text.size() ? At(text, i + 1) : 0)) {
      ++i;
    } else {
      const std::size_t taken = length == 0 ? 1 : length;  // never stalls on a stray byte
      out.append(text.substr(i, taken));
      i += taken;
    }
  }
  return out;
}

}  // namespace

std::string EscapeName(std::string_view name) {
  return Escaped(name, EscapeNameByte);
}

std::string JsonString(std::string_view text) {
  return "\"" + Escaped(text, EscapeJsonByte) + "\"";
}

}  // namespace kymf
