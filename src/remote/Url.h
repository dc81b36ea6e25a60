// The parts of an http:// or https:// URL that reading over the network needs.
#ifndef RXMFILES_REMOTE_URL_H
#define RXMFILES_REMOTE_URL_H

#include <string>

#include "framework/Export.h"

namespace RXM {

// Whether `text` begins with "http://" or "https://" (the scheme's letters in
// any case): the names that HttpFile, SearchPath::Mount and kymf take as URLs
// rather than paths.
RXMFILES_API bool IsRemoteUrl(const char* text);

// The URL as shown in messages and listings: any "user:password@" before the
// host becomes "***@". Every message that names a URL passes it through here,
// so credentials given in a URL never reach a log. Text that is no URL comes
// back unchanged.
RXMFILES_API std::string RedactUrl(const std::string& url);

// "scheme://host:port" in lower case (the port only when given): two URLs of
// the same origin may be sent the same credentials. "" for text that is no
// http(s) URL.
std::string OriginOf(const std::string& url);

}  // namespace RXM

#endif  // RXMFILES_REMOTE_URL_H
