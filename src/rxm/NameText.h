// Names of the modern face on their way to the library's C strings (the
// library's own, not installed).
#ifndef RXM_NAMETEXT_H
#define RXM_NAMETEXT_H

#include <string>
#include <string_view>

namespace rxm {

// Whether `text` would lose what follows a NUL as a C string. No entry name,
// path or URL holds one.
inline bool HoldsNul(std::string_view text) {
  return text.find('\0') != std::string_view::npos;
}

// `text` for messages, a NUL shown as "\0".
inline std::string Shown(std::string_view text) {
  std::string shown;
  for (const char c : text) {
    shown += c == '\0' ? std::string("\\0") : std::string(1, c);
  }
  return shown;
}

}  // namespace rxm

#endif  // RXM_NAMETEXT_H
