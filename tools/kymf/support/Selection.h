// Choosing entries by name: glob patterns and folder prefixes.
//
// Patterns are compared as the archive compares names: ASCII letters without
// regard to case, every other byte exactly. "*" matches any run of
// characters within one path component, "?" one character other than "/",
// "**" any run including "/" ("**/" also matches nothing, so "**/*.txt"
// matches "a.txt" and "x/y/a.txt"), "[...]" one character of a class other
// than "/": members ("[abc]"), ranges ("[0-9]"), negated by a leading "!" or
// "^" ("[!0-9]"); "]" first and "-" first or last are members. A "[" with no
// closing "]" is a plain character ("a[1" matches only "a[1"), as for tar and
// the shell. A pattern that matches a leading run of
// components selects everything below it: "dir" and "dir/" select
// "dir/a" and "dir/sub/b".
#ifndef KYMF_SUPPORT_SELECTION_H
#define KYMF_SUPPORT_SELECTION_H

#include <string>
#include <string_view>
#include <vector>

namespace kymf {

// Whether `pattern` matches the whole of `name` (no folder-prefix rule).
bool GlobMatch(std::string_view pattern, std::string_view name);

class Selection {
 public:
  // Selects everything when `patterns` is empty. With `literal`, each
  // pattern is a name (or a folder), its "*" and "?" plain characters.
  explicit Selection(std::vector<std::string> patterns = {}, bool literal = false);

  // Whether no pattern was given.
  bool SelectsAll() const { return patterns.empty(); }

  // Whether some pattern matches `name` or one of its leading folders; marks
  // every pattern that does as used.
  bool Selects(std::string_view name);

  // As the patterns of --exclude: whether some pattern selects `name` (as
  // Selects does, marking nothing); false when no pattern was given.
  bool Excludes(std::string_view name) const;

  // The patterns that have selected nothing so far, in the order given.
  std::vector<std::string> Unmatched() const;

 private:
  std::vector<std::string> patterns;
  std::vector<bool> used;
  bool literal;
};

}  // namespace kymf

#endif  // KYMF_SUPPORT_SELECTION_H
