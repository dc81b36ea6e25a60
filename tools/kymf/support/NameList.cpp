#include "support/NameList.h"

#include <cerrno>
#include <cstdio>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "support/Reporter.h"

namespace kymf {

std::vector<std::string> SplitNameList(std::string_view text, bool nulSeparated) {
  const char separator = nulSeparated ? '\0' : '\n';
  std::vector<std::string> names;
  while (!text.empty()) {
    const std::size_t end = text.find(separator);
    std::string_view name = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!nulSeparated && !name.empty() && name.back() == '\r') {
      name.remove_suffix(1);
    }
    if (!name.empty()) {
      names.emplace_back(name);
    }
  }
  return names;
}

RXM::Status ReadNameList(const std::string& file, bool nulSeparated,
                         std::vector<std::string>& names) {
  const bool standardInput = file == "-";
  std::FILE* in = standardInput ? stdin : std::fopen(file.c_str(), "rb");
  if (in == nullptr) {
    const int error = errno;
    return RXM::Status(RXM::ErrorCode::kCannotOpen, file + ": " + SystemReason(error), error);
  }
#if defined(_WIN32)
  if (standardInput) {
    _setmode(_fileno(stdin), _O_BINARY);
  }
#endif
  std::string text;
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) {
    text.append(buffer, got);
  }
  const int error = std::ferror(in) ? errno : 0;
  if (!standardInput) {
    (void)std::fclose(in);  // read only: nothing of ours is lost when its close fails
  }
  if (error != 0) {
    return RXM::Status(RXM::ErrorCode::kReadFailed, file + ": " + SystemReason(error), error);
  }
  for (std::string& name : SplitNameList(text, nulSeparated)) {
    names.push_back(std::move(name));
  }
  return RXM::Status::Ok();
}

}  // namespace kymf
