#include "mount/FuseOptions.h"

#include "files/Text.h"

namespace kymf {
namespace mount {
namespace {

// `text` with the option parser's separators escaped.
std::string Escaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == ',' || c == '\\') {
      escaped += '\\';
    }
    escaped += c;
  }
  return escaped;
}

// Why the one option `option` may not be given; "" when it may.
std::string Refusal(const std::string& option) {
  const std::string key = option.substr(0, option.find('='));
  if (key == "rw") {
    return "kymf mounts read-only";
  }
  if (key == "fsname" || key == "subtype") {
    return "kymf names its mounts itself (fsname: the source, subtype: kymf)";
  }
  return std::string();
}

}  // namespace

std::string FuseOptions(const std::string& name, const std::vector<std::string>& given,
                        std::string& why) {
  std::string options = "ro,default_permissions,subtype=kymf,fsname=" + Escaped(name);
  for (const std::string& items : given) {
    for (std::size_t start = 0; start <= items.size();) {
      std::size_t end = items.find(',', start);
      end = end == std::string::npos ? items.size() : end;
      const std::string option = items.substr(start, end - start);
      start = end + 1;
      if (option.empty()) {
        continue;
      }
      why = Refusal(option);
      if (!why.empty()) {
        why = RXM::Concat({"-o ", option, ": ", why});
        return std::string();
      }
      options += "," + option;
    }
  }
  why.clear();
  return options;
}

}  // namespace mount
}  // namespace kymf
