#include "files/Url.h"

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

// Where the authority ends once the user information is gone: at the first
// "/", "?" or "#" after `from`.
std::size_t AuthorityEnd(const std::string& url, std::size_t from) {
  const std::size_t end = url.find_first_of("/?#", from);
  return end == std::string::npos ? url.size() : end;
}

// Whether url[from, end) is a host with an optional ":port" of digits (or a
// bracketed IPv6 address).
bool IsHostAndPort(const std::string& url, std::size_t from, std::size_t end) {
  if (from < end && url[from] == '[') {
    return true;
  }
  bool port = false;
  for (std::size_t i = from; i < end; ++i) {
    const unsigned char c = static_cast<unsigned char>(url[i]);
    if (c == ':' && !port) {
      port = true;
    } else if (port ? !std::isdigit(c) : !(std::isalnum(c) || std::strchr("-._~%", c) != nullptr)) {
      return false;
    }
  }
  return from < end;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

bool IsRemoteUrl(const char* text) {
  return text != nullptr && SchemeLength(text) != 0;
}

std::size_t UserinfoEnd(const std::string& url) {
  const std::size_t from = SchemeLength(url.c_str());
  if (from == 0) {
    return std::string::npos;
  }
  const std::size_t end = AuthorityEnd(url, from);
  const std::size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
  if (at != std::string::npos && at >= from) {
    return at;  // the usual form: the last "@" inside the authority
  }
  // A raw "/", "?" or "#" in a password ends the authority early, where it
  // leaves no host[:port]: the user information then runs on to the last "@"
  // before the path that follows the first "@".
  const std::size_t first = url.find('@', end);
  if (first == std::string::npos || IsHostAndPort(url, from, end)) {
    return std::string::npos;
  }
  return url.rfind('@', AuthorityEnd(url, first) - 1);
}

std::string RedactUrl(const std::string& url) {
  const std::size_t at = UserinfoEnd(url);
  if (at == std::string::npos) {
    return url;
  }
  return url.substr(0, SchemeLength(url.c_str())) + "***" + url.substr(at);
}

std::string SplitUserinfo(const std::string& url, std::string& userinfo) {
  userinfo.clear();
  const std::size_t at = UserinfoEnd(url);
  if (at == std::string::npos) {
    return url;
  }
  const std::size_t from = SchemeLength(url.c_str());
  userinfo = PercentDecoded(url.substr(from, at - from));
  return url.substr(0, from) + url.substr(at + 1);
}

std::string OriginOf(const std::string& url) {
  std::string userinfo;
  const std::string bare = SplitUserinfo(url, userinfo);
  const std::size_t from = SchemeLength(bare.c_str());
  if (from == 0) {
    return std::string();
  }
  const std::size_t end = AuthorityEnd(bare, from);
  std::string origin = bare.substr(0, end);
  for (char& c : origin) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return origin;
}

}  // namespace RXM
