// The resource lookups of the test modules and what each must find: the
// contents of the resource, or "<none>". ResourceFileTest runs them through
// the library's reader of PE images on Linux and through the real Win32
// functions on Windows, so both answer this one table.
#ifndef RXMFILES_TESTS_BACKENDS_RESOURCELOOKUPCASES_H
#define RXMFILES_TESTS_BACKENDS_RESOURCELOOKUPCASES_H

#include <string>
#include <utility>
#include <vector>

inline const std::vector<std::pair<std::string, std::string>>& ResourceLookupCases() {
  static const std::vector<std::pair<std::string, std::string>> cases = {
      {"MYDATA\n#10", "0123456789"},
      {"mydata\n#10", "0123456789"},
      {"MYDATA\nRCDATA", "<none>"},
      {"MYDATA", "<none>"},
      {"MYDATA\n#10\nmore", "0123456789"},  // the type's digits end at the line feed
      {"#123\n#10", "by id"},
      {"123\n#10", "by name"},
      {"# \t123\n#10", "by id"},
      {"#+123\n#10", "by id"},
      {"#0123\n#10", "by id"},
      {"#123abc\n#10", "by id"},
      {"#-123\n#10", "<none>"},
      {"#65659\n#10", "<none>"},
      {"#4294967296123\n#10", "by id"},  // 2^32 + 123: the value wraps at 32 bits
      {"CUSTOM\nMYTYPE", "custom type"},
      {"custom\nmytype", "custom type"},
      {"#77\n#500", "numeric type"},
      {"77\n500", "<none>"},
      {"EMPTY\n#10", ""},
      {"LANGS1\n#10", "neutral"},
      {"LANGS2\n#10", "us"},
      {"LANGS3\n#10", "en"},
      {"LANGS4\n#10", "de"},
      // Longer than the 260-byte buffer: refused, where cutting could name another.
      {std::string(300, 'N') + "\n#10", "<none>"},
      {std::string(259, 'N'), "<none>"},
  };
  return cases;
}

#endif  // RXMFILES_TESTS_BACKENDS_RESOURCELOOKUPCASES_H
