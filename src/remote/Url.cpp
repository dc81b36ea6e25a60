#include "remote/Url.h"

#include <cctype>
#include <cstring>

namespace RXM {
namespace {

// The length of the scheme and "://" for an http(s) URL, else 0.
std::size_t SchemeLength(const char* text) {
  for (const char* scheme : {"http://", "https://"}) {
    const std::size_t length = std::strlen(scheme);
    std::size_t i = 0;
    while (i < length && text[i] != '\0' &&
           std::tolower(static_cast<unsigned char>(text[i])) == scheme[i]) {
      ++i;
    }
    if (i == length) {
      return length;
    }
  }
  return 0;
}

// Where the authority (user info, host, port) ends: at the first "/", "?" or
// "#" after the scheme.
std::size_t AuthorityEnd(const std::string& url, std::size_t from) {
  const std::size_t end = url.find_first_of("/?#", from);
  return end == std::string::npos ? url.size() : end;
}

}  // namespace

bool IsRemoteUrl(const char* text) {
  return text != nullptr && SchemeLength(text) != 0;
}

std::string RedactUrl(const std::string& url) {
  const std::size_t from = SchemeLength(url.c_str());
  if (from == 0) {
    return url;
  }
  const std::size_t end = AuthorityEnd(url, from);
  const std::size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
  if (at == std::string::npos || at < from) {
    return url;
  }
  return url.substr(0, from) + "***" + url.substr(at);
}

std::string OriginOf(const std::string& url) {
  const std::size_t from = SchemeLength(url.c_str());
  if (from == 0) {
    return std::string();
  }
  const std::size_t end = AuthorityEnd(url, from);
  std::size_t hostStart = url.rfind('@', end == 0 ? 0 : end - 1);
  hostStart = hostStart == std::string::npos || hostStart < from ? from : hostStart + 1;
  std::string origin = url.substr(0, from) + url.substr(hostStart, end - hostStart);
  for (char& c : origin) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return origin;
}

}  // namespace RXM
