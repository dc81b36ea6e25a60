#include "support/Selection.h"

#include <RXMFiles.h>

#include "multifile/ArchiveFormat.h"

namespace kymf {
namespace {

bool SameLetter(char a, char b) {
  return RXM::multifile::FoldByte(static_cast<unsigned char>(a)) ==
         RXM::multifile::FoldByte(static_cast<unsigned char>(b));
}

// The other case of an ASCII letter; any other byte as it is.
unsigned char OtherCase(unsigned char c) {
  const unsigned char folded = RXM::multifile::FoldByte(c);
  if (folded != c) {
    return folded;
  }
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// A bracket class "[...]" at the start of `pattern`: its length (up to and
// including the closing "]", 0 when there is none, so the "[" is a plain
// character) and whether it takes `c`. "!" or "^" first negates it; a "]"
// first, or a "-" first or last, is a member; "a-z" is a range. A letter is
// taken when it or its other case is a member.
std::size_t MatchClass(std::string_view pattern, unsigned char c, bool& takes) {
  std::size_t at = 1;
  const bool negated = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
  at += negated ? 1 : 0;
  const std::size_t first = at;
  bool member = false;
  for (; at < pattern.size() && (pattern[at] != ']' || at == first); ++at) {
    const auto low = static_cast<unsigned char>(pattern[at]);
    auto high = low;
    if (at + 2 < pattern.size() && pattern[at + 1] == '-' && pattern[at + 2] != ']') {
      high = static_cast<unsigned char>(pattern[at + 2]);
      at += 2;
    }
    for (const unsigned char candidate : {c, OtherCase(c)}) {
      member = member || (candidate >= low && candidate <= high);
    }
  }
  if (at >= pattern.size()) {
    return 0;
  }
  takes = member != negated;
  return at + 1;
}

// matches[i][j]: whether pattern[i..] matches name[j..], filled from the
// ends backwards; no recursion, so no pattern can take exponential time.
class GlobTable {
 public:
  GlobTable(std::string_view globPattern, std::string_view candidate)
      : pattern(globPattern),
        name(candidate),
        width(candidate.size() + 1),
        cells((globPattern.size() + 1) * (candidate.size() + 1), false) {}

  bool Match() {
    Set(pattern.size(), name.size(), true);
    for (std::size_t i = pattern.size(); i-- > 0;) {
      for (std::size_t j = name.size() + 1; j-- > 0;) {
        Set(i, j, Cell(i, j));
      }
    }
    return Get(0, 0);
  }

 private:
  bool Cell(std::size_t i, std::size_t j) const {
    const bool more = j < name.size();
    if (pattern[i] == '*') {
      if (i + 1 < pattern.size() && pattern[i + 1] == '*') {
        // "**": any run, "/" included; "**/" may also stand for nothing.
        const bool skipSlash = i + 2 < pattern.size() && pattern[i + 2] == '/' && Get(i + 3, j);
        return Get(i + 2, j) || skipSlash || (more && Get(i, j + 1));
      }
      return Get(i + 1, j) || (more && name[j] != '/' && Get(i, j + 1));
    }
    if (!more) {
      return false;
    }
    if (pattern[i] == '?') {
      return name[j] != '/' && Get(i + 1, j + 1);
    }
    if (pattern[i] == '[') {
      bool takes = false;
      const std::size_t length =
          MatchClass(pattern.substr(i), static_cast<unsigned char>(name[j]), takes);
      if (length != 0) {
        return takes && name[j] != '/' && Get(i + length, j + 1);
      }
    }
    return SameLetter(pattern[i], name[j]) && Get(i + 1, j + 1);
  }

  bool Get(std::size_t i, std::size_t j) const { return cells[i * width + j]; }
  void Set(std::size_t i, std::size_t j, bool value) { cells[i * width + j] = value; }

  std::string_view pattern;
  std::string_view name;
  std::size_t width;
  std::vector<bool> cells;
};

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!SameLetter(a[i], b[i])) {
      return false;
    }
  }
  return true;
}

// Whether `pattern` matches `name` or the part of it before one of its "/".
bool MatchesOrContains(std::string_view pattern, std::string_view name, bool literal) {
  if (pattern.size() > 1 && pattern.back() == '/') {
    pattern.remove_suffix(1);
  }
  const auto matches = [pattern, literal](std::string_view part) {
    return literal ? SameName(pattern, part) : GlobMatch(pattern, part);
  };
  if (matches(name)) {
    return true;
  }
  for (std::size_t slash = name.find('/'); slash != std::string_view::npos;
       slash = name.find('/', slash + 1)) {
    if (matches(name.substr(0, slash))) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool GlobMatch(std::string_view pattern, std::string_view name) {
  return GlobTable(pattern, name).Match();
}

Selection::Selection(std::vector<std::string> given, bool literalNames)
    : patterns(std::move(given)), used(patterns.size(), false), literal(literalNames) {}

bool Selection::Selects(std::string_view name) {
  if (patterns.empty()) {
    return true;
  }
  bool selected = false;
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    if (MatchesOrContains(patterns[i], name, literal)) {
      used[i] = true;
      selected = true;
    }
  }
  return selected;
}

bool Selection::Excludes(std::string_view name) const {
  for (const std::string& pattern : patterns) {
    if (MatchesOrContains(pattern, name, literal)) {
      return true;
    }
  }
  return false;
}

std::vector<std::string> Selection::Unmatched() const {
  std::vector<std::string> unmatched;
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    if (!used[i]) {
      unmatched.push_back(patterns[i]);
    }
  }
  return unmatched;
}

}  // namespace kymf
