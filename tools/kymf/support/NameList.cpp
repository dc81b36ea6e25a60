#include "support/NameList.h"

#include <cerrno>
#include <cstdio>

#include "support/BlockCopy.h"
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
                         std::vector<std::string>& names, RXM::sys::System& system) {
  const bool standardInput = file == "-";
  std::FILE* in = standardInput ? stdin : system.open(file.c_str(), "rb");
  if (in == nullptr) {
    const int error = errno;
    return RXM::Status(RXM::ErrorCode::kCannotOpen, file + ": " + SystemReason(error), error);
  }
  if (standardInput) {
    BinaryMode(stdin);
  }
  // A short read is the last: the end, or a failure that StoppedShort tells.
  std::string text;
  char buffer[65536];
  errno = 0;
  for (std::size_t got = sizeof buffer; got == sizeof buffer;) {
    got = system.read(buffer, 1, sizeof buffer, in);
    text.append(buffer, got);
  }
  int error = 0;
  if (RXM::sys::StoppedShort(in)) {
    error = errno != 0 ? errno : EIO;
  }
  if (!standardInput) {
    (void)system.close(in);  // read only: nothing of ours is lost when its close fails
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
