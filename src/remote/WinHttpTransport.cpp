// The transport of the Windows builds: WinHTTP, part of Windows (no DLL to
// ship).
//
// One session per transport; WinHTTP keeps its connections alive and pools
// them per session, so each request opens its connection and request handles
// and closes them when done, and calls run at once from many threads with no
// lock of ours. Proxies are WinHTTP's: the automatic configuration on Windows
// 8.1 and later, else what "netsh winhttp" set.
//
// Differences from libcurl, said in docs/remote.md: a CA file cannot be
// added (WinHTTP trusts the Windows store only; an https object is refused
// with kSecureFailed, naming certutil), and with an Authorization header
// redirects are not followed (WinHTTP would send the header to the new host
// too), so such a URL must name the object itself.
#if defined(_WIN32)

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "remote/Transport.h"

namespace RXM {
namespace http {
namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) {
    return std::wstring();
  }
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) {
    return std::string();
  }
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], length,
                      nullptr, nullptr);
  return text;
}

// Closes a WinHTTP handle at the end of the scope.
struct Handle {
  HINTERNET value = nullptr;
  explicit Handle(HINTERNET opened) : value(opened) {}
  ~Handle() {
    if (value != nullptr) {
      WinHttpCloseHandle(value);
    }
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

std::string Header(HINTERNET request, DWORD which) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
    return std::string();
  }
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, &value[0], &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return std::string();
  }
  value.resize(size / sizeof(wchar_t));
  return Narrow(value);
}

Outcome OutcomeOf(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return Outcome::kCannotConnect;
    case ERROR_WINHTTP_TIMEOUT:
      return Outcome::kTimedOut;
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return Outcome::kBroken;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return Outcome::kSecure;
    case ERROR_WINHTTP_REDIRECT_FAILED:
      return Outcome::kTooManyRedirects;
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return Outcome::kBadUrl;
    default:
      return Outcome::kFailed;
  }
}

Result Failed(DWORD error) {
  Result result;
  result.outcome = OutcomeOf(error);
  result.detail = "WinHTTP error " + std::to_string(error);
  return result;
}

class WinHttpTransport : public Transport {
 public:
  explicit WinHttpTransport(const RemoteOptions& options)
      : settings(options), session(OpenSession()) {
    if (session != nullptr) {
      const int connect = static_cast<int>(settings.connectTimeoutMs);
      const int stall = static_cast<int>(settings.stallTimeoutMs);
      WinHttpSetTimeouts(session, connect, connect, stall, stall);
      DWORD redirects = settings.maxRedirects;
      WinHttpSetOption(session, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                       sizeof redirects);
    }
  }
  ~WinHttpTransport() override {
    if (session != nullptr) {
      WinHttpCloseHandle(session);
    }
  }
  WinHttpTransport(const WinHttpTransport&) = delete;
  WinHttpTransport& operator=(const WinHttpTransport&) = delete;

  // The session, with the system's proxy settings; null when WinHTTP has none.
  static HINTERNET OpenSession() {
    HINTERNET opened = WinHttpOpen(L"RXMFiles", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (opened == nullptr) {  // before Windows 8.1
      opened = WinHttpOpen(L"RXMFiles", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
    }
    return opened;
  }

  // Redirects are followed here rather than by WinHTTP, so that the answer
  // says where it came from (Wine's WINHTTP_OPTION_URL gives the URL asked
  // for, not where it led) and later requests can go straight there.
  Result Get(const Request& request, Receiver& receiver) override {
    if (session == nullptr) {
      return Failed(GetLastError());
    }
    std::string at = request.url;
    for (std::uint32_t hop = 0;; ++hop) {
      std::string next;
      Result result = GetFrom(at, request, receiver, next);
      if (next.empty()) {
        return result;
      }
      if (hop >= settings.maxRedirects) {
        Result refused;
        refused.outcome = Outcome::kTooManyRedirects;
        return refused;
      }
      at = next;
    }
  }

 private:
  // One request to `url`; `next` is where a redirect to follow leads.
  Result GetFrom(const std::string& address, const Request& request, Receiver& receiver,
                 std::string& next) {
    const std::wstring url = Wide(address);
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
      return Failed(GetLastError());
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    Handle connection(WinHttpConnect(session, host.c_str(), parts.nPort, 0));
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    if (secure && !settings.caFile.empty()) {
      Result refused;
      refused.outcome = Outcome::kSecure;
      refused.detail =
          "WinHTTP cannot add a CA file; add it to the Windows store instead "
          "(certutil -addstore Root FILE)";
      return refused;
    }
    Handle opened(connection.value == nullptr
                      ? nullptr
                      : WinHttpOpenRequest(connection.value, L"GET", path.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           secure ? WINHTTP_FLAG_SECURE : 0));
    if (opened.value == nullptr) {
      return Failed(GetLastError());
    }
    return Send(opened.value, address, request, receiver, next);
  }

  Result Send(HINTERNET handle, const std::string& address, const Request& request,
              Receiver& receiver, std::string& next) {
    std::string lines = "Range: bytes=" + std::to_string(request.first) + "-" +
                        std::to_string(request.last) + "\r\n";
    bool authorized = false;
    for (const std::string& line : request.headers) {
      lines += line + "\r\n";
      authorized = authorized || line.compare(0, 14, "Authorization:") == 0;
    }
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(handle, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    // A window with no byte fails a receive; the deadline caps every wait.
    const auto capped = [&request](std::uint32_t ms) {
      return static_cast<int>(request.timeoutMs != 0 && request.timeoutMs < ms ? request.timeoutMs
                                                                               : ms);
    };
    const int connect = capped(settings.connectTimeoutMs);
    const int window = capped(settings.stallTimeoutMs);
    WinHttpSetTimeouts(handle, connect, connect, window, window);
    const std::wstring headers = Wide(lines);
    if (!WinHttpSendRequest(handle, headers.c_str(), static_cast<DWORD>(headers.size()),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(handle, nullptr)) {
      return Failed(GetLastError());
    }
    const Head head = HeadOf(handle);
    // Credentials are never carried to where a redirect leads.
    if (request.followRedirects && !authorized && IsRedirect(head.status) &&
        !head.location.empty()) {
      next = Resolve(address, head.location);
      return Result();
    }
    Result result;
    result.effectiveUrl = address;
    if (!receiver.TakeHead(head)) {
      result.outcome = Outcome::kAbandoned;
      return result;
    }
    return Receive(handle, request, receiver, result);
  }

  static Head HeadOf(HINTERNET handle) {
    Head head;
    DWORD status = 0;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    head.status = static_cast<int>(status);
    head.contentRange = Header(handle, WINHTTP_QUERY_CONTENT_RANGE);
    head.etag = Header(handle, WINHTTP_QUERY_ETAG);
    head.lastModified = Header(handle, WINHTTP_QUERY_LAST_MODIFIED);
    head.retryAfter = Header(handle, WINHTTP_QUERY_RETRY_AFTER);
    head.location = Header(handle, WINHTTP_QUERY_LOCATION);
    const std::string length = Header(handle, WINHTTP_QUERY_CONTENT_LENGTH);
    char* end = nullptr;
    const long long given = std::strtoll(length.c_str(), &end, 10);
    head.contentLength = length.empty() || *end != '\0' || given < 0 ? -1 : given;
    return head;
  }

  static bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
  }

  // Where `location` leads from `base`: an absolute URL, one without its
  // scheme ("//host/x"), a path from the host's root ("/x"), or one beside
  // the base's own path ("x").
  static std::string Resolve(const std::string& base, const std::string& location) {
    const std::size_t scheme = base.find("://");
    const std::size_t colon = location.find(':');
    if (colon != std::string::npos && location.find('/') > colon) {
      return location;
    }
    if (scheme == std::string::npos) {
      return location;
    }
    if (location.compare(0, 2, "//") == 0) {
      return base.substr(0, scheme + 1) + location;
    }
    const std::size_t root = base.find('/', scheme + 3);
    const std::string origin = root == std::string::npos ? base : base.substr(0, root);
    if (!location.empty() && location[0] == '/') {
      return origin + location;
    }
    const std::string path =
        base.substr(origin.size(), base.find_first_of("?#", origin.size()) - origin.size());
    return origin + path.substr(0, path.rfind('/') + 1) + (path.empty() ? "/" : "") + location;
  }

  // The body, broken off (kTimedOut) past the request's deadline or when a
  // window of stallTimeoutMs brought fewer than minimumRate bytes a second.
  Result Receive(HINTERNET handle, const Request& request, Receiver& receiver,
                 Result result) const {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point windowStart = start;
    std::uint64_t windowBytes = 0;
    const std::uint64_t least =
        std::uint64_t{settings.minimumRate} * settings.stallTimeoutMs / 1000;
    std::vector<std::uint8_t> buffer(256 * 1024);
    for (;;) {
      const Clock::time_point now = Clock::now();
      if (request.timeoutMs != 0 && now - start >= std::chrono::milliseconds(request.timeoutMs)) {
        result.outcome = Outcome::kTimedOut;
        result.detail = "the request's deadline passed";
        return result;
      }
      if (now - windowStart >= std::chrono::milliseconds(settings.stallTimeoutMs)) {
        if (windowBytes < least) {
          result.outcome = Outcome::kTimedOut;
          result.detail = "less than " + std::to_string(settings.minimumRate) +
                          " bytes a second for " + std::to_string(settings.stallTimeoutMs) + " ms";
          return result;
        }
        windowStart = now;
        windowBytes = 0;
      }
      DWORD got = 0;
      if (!WinHttpReadData(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got)) {
        Result failed = Failed(GetLastError());
        failed.effectiveUrl = result.effectiveUrl;
        return failed;
      }
      if (got == 0) {
        result.outcome = Outcome::kDone;
        return result;
      }
      windowBytes += got;
      if (!receiver.TakeBody(buffer.data(), got)) {
        result.outcome = Outcome::kAbandoned;
        return result;
      }
    }
  }

  RemoteOptions settings;
  HINTERNET session = nullptr;
};

}  // namespace

std::shared_ptr<Transport> MakeTransport(const RemoteOptions& options) {
  return std::make_shared<WinHttpTransport>(options);
}

}  // namespace http
}  // namespace RXM

#endif  // _WIN32
