#include "mount/MountTable.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <sstream>

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

// At most this many links are followed in one path, as Linux does.
constexpr int kMostLinks = 40;

// `point` resolved (ResolveMountPoint), or absolute and lexically without
// "." or ".." parts where it cannot be; without a "/" at its end.
std::string Absolute(RXM::sys::System& system, const std::string& point) {
  std::string text;
  if (ResolveMountPoint(system, point, text) != 0 &&
      RXM::sys::MakeAbsolute(system, point, &text) == 0) {
    text = fs::path(text).lexically_normal().string();
  }
  while (text.size() > 1 && text.back() == '/') {
    text.pop_back();
  }
  return text;
}

// The kernel's table of this process's mounts, whole (it is made as it is
// read, so its size is not known before).
bool ReadTable(RXM::sys::System& system, std::string& text) {
  std::FILE* table = system.open("/proc/self/mountinfo", "rb");
  if (table == nullptr) {
    return false;
  }
  char block[4096];
  std::size_t got = 0;
  while ((got = system.read(block, 1, sizeof block, table)) > 0) {
    text.append(block, got);
  }
  const bool whole = !RXM::sys::StoppedShort(table);
  system.close(table);
  return whole;
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

// A link's target is walked anew from its root: links and ".." inside it
// are taken as they come, each ".." from a folder already free of links.
int ResolveMountPoint(RXM::sys::System& system, const std::string& point, std::string& resolved) {
  std::string text;
  const int error = RXM::sys::MakeAbsolute(system, point, &text);
  if (error != 0) {
    return error;
  }
  const fs::path absolute(text);
  fs::path done = absolute.root_path();
  std::vector<fs::path> left;  // the components still to walk, the next one last
  const auto push = [&left](const fs::path& path) {
    const fs::path relative = path.relative_path();
    left.insert(left.end(), std::make_reverse_iterator(relative.end()),
                std::make_reverse_iterator(relative.begin()));
  };
  push(absolute);
  for (int links = 0; !left.empty();) {
    const fs::path part = left.back();
    left.pop_back();
    if (part.empty() || part == ".") {
      continue;
    }
    if (part == "..") {
      done = done.parent_path();
      continue;
    }
    const std::string next = (done / part).string();
    std::string target;
    errno = 0;
    if (system.resolveLinks(next.c_str(), &target) != 0) {
      return errno != 0 ? errno : EIO;
    }
    if (target == next) {
      done = next;
    } else if (++links > kMostLinks) {
      return ELOOP;
    } else {
      done = fs::path(target).root_path();
      push(target);
    }
  }
  resolved = done.string();
  return 0;
}

bool FindKymfMount(const std::string& point, std::string& source, RXM::sys::System& system) {
  std::string text;
  if (!ReadTable(system, text)) {
    return false;
  }
  const std::string folder = Absolute(system, point);
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
