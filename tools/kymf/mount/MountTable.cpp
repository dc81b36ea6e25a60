#include "mount/MountTable.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "mount/FuseOptions.h"

namespace kymf {
namespace mount {
namespace {

namespace fs = std::filesystem;

// A field of the table with its octal escapes ("\040" for a space) undone.
std::string Unescaped(const std::string& field) {
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto octal = [&field](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
    if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

// `point` absolute and without "." or ".." parts or links where it can be
// resolved, lexically where not (a mount whose server is gone cannot be
// looked into).
std::string Absolute(const std::string& point) {
  std::error_code error;
  fs::path path = fs::canonical(point, error);
  if (error) {
    path = fs::absolute(point, error).lexically_normal();
  }
  std::string text = path.string();
  while (text.size() > 1 && text.back() == '/') {
    text.pop_back();
  }
  return text;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view mountinfo) {
  std::vector<MountEntry> entries;
  std::istringstream lines{std::string(mountinfo)};
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    const std::vector<std::string> fields{std::istream_iterator<std::string>(words),
                                          std::istream_iterator<std::string>()};
    std::size_t dash = 6;  // the optional fields end at a lone "-"
    while (dash < fields.size() && fields[dash] != "-") {
      ++dash;
    }
    if (fields.size() < 5 || dash + 2 >= fields.size()) {
      continue;
    }
    entries.push_back(
        MountEntry{Unescaped(fields[4]), Unescaped(fields[dash + 1]), Unescaped(fields[dash + 2])});
  }
  return entries;
}

bool FindKymfMount(const std::string& point, std::string& source) {
  std::ifstream table("/proc/self/mountinfo");
  if (!table) {
    return false;
  }
  const std::string text{std::istreambuf_iterator<char>(table), std::istreambuf_iterator<char>()};
  const std::string folder = Absolute(point);
  bool found = false;
  for (const MountEntry& entry : ParseMountInfo(text)) {
    if (entry.point == folder && entry.type == kMountType) {
      source = entry.source;
      found = true;
    }
  }
  return found;
}

}  // namespace mount
}  // namespace kymf
