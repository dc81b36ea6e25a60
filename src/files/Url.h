// The parts of an http:// or https:// URL that reading over the network needs.
#ifndef RXMFILES_FILES_URL_H
#define RXMFILES_FILES_URL_H

#include <cstddef>
#include <string>

#include "framework/Export.h"

namespace RXM {

// Whether `text` begins with "http://" or "https://" (the scheme's letters in
// any case): the names that HttpFile, SearchPath::Mount and kymf take as URLs
// rather than paths.
RXMFILES_API bool IsRemoteUrl(const char* text);

// Where a URL's user information ends (the position of its "@"): the last
// "@" before the first "/", "?" or "#", as every client reads it; or, when a
// password holds a raw "/", "?" or "#" and so leaves no host[:port] before
// that first "/", "?" or "#" ("http://alice:s3/cr#et@host/a"), the last "@"
// before the path that follows the first "@". A password whose raw "/"
// follows digits only ("u:12/34@host") reads as a port: write it %2F.
// std::string::npos for a URL with none, or text that is no http(s) URL.
RXMFILES_API std::size_t UserinfoEnd(const std::string& url);

// The URL as shown in messages, listings, /proc/mounts and logs: any user
// information ("user:password@", UserinfoEnd) becomes "***@". Every printable
// name of a URL is made here, so credentials given in a URL never reach a
// message. Text that is no URL comes back unchanged.
RXMFILES_API std::string RedactUrl(const std::string& url);

// The URL without its user information (the one requests go to), and that
// information percent-decoded into `userinfo` ("user:password"; "" when the
// URL has none). Text that is no URL comes back unchanged.
std::string SplitUserinfo(const std::string& url, std::string& userinfo);

// "scheme://host:port" in lower case (the port only when given): two URLs of
// the same origin may be sent the same credentials. "" for text that is no
// http(s) URL.
std::string OriginOf(const std::string& url);

}  // namespace RXM

#endif  // RXMFILES_FILES_URL_H
